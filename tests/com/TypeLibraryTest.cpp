// The type library inside QuorLib.dll: what early-bound clients compile against and what
// late-bound clients are served, identical in both builds.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

struct Member {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    std::vector<std::wstring> parameters;  // names; the unnamed property value is ""
};

const Member kMembers[] = {
    {L"ChangeParadigm", 1, INVOKE_FUNC, {L"ParadigmNumber"}},
    {L"ChangeChannelMode", 2, INVOKE_FUNC, {L"Channel", L"Mode"}},
    {L"Connected", 3, INVOKE_PROPERTYGET, {L"Value"}},
    {L"Connected", 3, INVOKE_PROPERTYPUT, {}},
    {L"Connect", 5, INVOKE_FUNC, {L"Value"}},
    {L"ClearParadigm", 6, INVOKE_FUNC, {}},
    {L"CopyParadigm", 7, INVOKE_FUNC, {L"DestParadigm"}},
    {L"Trigger", 8, INVOKE_FUNC, {L"Channel"}},
    {L"ConnectChannel", 9, INVOKE_FUNC, {L"Channel1", L"Channel2"}},
    {L"DisconnectChannel", 10, INVOKE_FUNC, {L"Channel1", L"Channel2"}},
    {L"SetChannelDelay", 11, INVOKE_FUNC, {L"Channel", L"Delay", L"Value"}},
    {L"SetChannelDuration", 12, INVOKE_FUNC, {L"Channel", L"Duration", L"Value"}},
    {L"SetChannelInterval", 13, INVOKE_FUNC, {L"Channel", L"Interval", L"Value"}},
    {L"SetChannelN", 14, INVOKE_FUNC, {L"Channel", L"N", L"Value"}},
    {L"SetChannelVoltage", 15, INVOKE_FUNC, {L"Channel", L"Voltage", L"Value"}},
    {L"ShowMonitor", 16, INVOKE_FUNC, {}},
    {L"SaveSessionCommands", 4, INVOKE_FUNC, {L"FileName"}},
    {L"SetChannelDeltaV", 17, INVOKE_FUNC, {L"Channel", L"DeltaV", L"Value"}},
    {L"SetChannelShape", 19, INVOKE_FUNC, {L"Channel", L"Shape", L"Value"}},
};

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadTypeLibEx(WindowsPath("QUORLIB_DLL").c_str(), REGKIND_NONE, library.Put()), S_OK);
    }
    std::wstring Doc(ITypeInfo* info, MEMBERID id = MEMBERID_NIL, bool help = false) {
        BSTR name = nullptr, text = nullptr;
        info->GetDocumentation(id, &name, &text, nullptr, nullptr);
        std::wstring result = help ? (text ? text : L"") : (name ? name : L"");
        SysFreeString(name);
        SysFreeString(text);
        return result;
    }
    Ref<ITypeLib> library;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_QuorLib));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->syskind, SYS_WIN32);
    EXPECT_EQ(attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);  // the loader adds that one
    library->ReleaseTLibAttr(attributes);
    BSTR name = nullptr, help = nullptr;
    library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    EXPECT_STREQ(name, L"QuorLib");
    EXPECT_STREQ(help, L"QuorLib Library");
    SysFreeString(name);
    SysFreeString(help);
}

TEST_F(TypeLibraryTest, DualInterfaceMembersInSlotOrder) {
    Ref<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IPulsyn, dispatch.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    WORD flags = attributes->wTypeFlags;
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    dispatch->ReleaseTypeAttr(attributes);
    EXPECT_EQ(Doc(dispatch.Get(), MEMBERID_NIL, true), L"Dispatch interface for Pulsyn Object");

    // The vtable half of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    Ref<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.Put()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    ASSERT_EQ(attributes->cFuncs, 19);
    EXPECT_EQ(attributes->cbSizeVft, 26 * 4);  // stored in 4-byte slots in every build
    flags |= attributes->wTypeFlags;
    EXPECT_TRUE(flags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(flags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_TRUE(flags & TYPEFLAG_FDISPATCHABLE);
    vtable->ReleaseTypeAttr(attributes);

    for (UINT i = 0; i < 19; ++i) {
        const Member& m = kMembers[i];
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->oVft / static_cast<int>(sizeof(void*)), static_cast<int>(7 + i)) << m.name;
        EXPECT_EQ(f->memid, m.id) << m.name;
        EXPECT_EQ(f->invkind, m.kind) << m.name;
        EXPECT_EQ(f->callconv, CC_STDCALL) << m.name;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT) << m.name;
        BSTR names[8] = {};
        UINT count = 0;
        vtable->GetNames(f->memid, names, 8, &count);
        // Property pairs share names; GetNames answers for the first of them.
        if (m.kind != INVOKE_PROPERTYPUT) {
            EXPECT_STREQ(names[0], m.name);
            ASSERT_EQ(count, 1 + m.parameters.size()) << m.name;
            for (size_t p = 0; p < m.parameters.size(); ++p) EXPECT_STREQ(names[p + 1], m.parameters[p].c_str());
        }
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        EXPECT_EQ(static_cast<size_t>(f->cParams), m.kind == INVOKE_PROPERTYPUT ? 1u : m.parameters.size()) << m.name;
        if (!m.parameters.empty() && m.parameters.back() == L"Value") {
            const USHORT flags = f->lprgelemdescParam[f->cParams - 1].paramdesc.wParamFlags;
            EXPECT_EQ(flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL) << m.name;
        }
        vtable->ReleaseFuncDesc(f);
    }
}

TEST_F(TypeLibraryTest, EnumerationsAndTheClass) {
    struct Enum {
        const wchar_t* name;
        std::vector<std::wstring> members;
    };
    const Enum enums[] = {
        {L"ChannelModes", {L"cmOff", L"cmFreeRun", L"cmTrain", L"cmTrig", L"cmDC", L"cmGate", L"cmTwin"}},
        {L"ChannelShapes", {L"csMonopolar", L"csBipolar", L"csRamp"}},
    };
    for (const Enum& e : enums) {
        Ref<ITypeInfo> info;
        MEMBERID id = 0;
        USHORT found = 1;
        std::wstring name = e.name;
        ASSERT_EQ(library->FindName(name.data(), 0, info.Put(), &id, &found), S_OK);
        ASSERT_EQ(found, 1);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->typekind, TKIND_ENUM) << e.name;
        EXPECT_EQ(attributes->cbSizeInstance, 4u);
        ASSERT_EQ(attributes->cVars, e.members.size());
        info->ReleaseTypeAttr(attributes);
        for (UINT i = 0; i < e.members.size(); ++i) {
            VARDESC* v = nullptr;
            ASSERT_EQ(info->GetVarDesc(i, &v), S_OK);
            EXPECT_EQ(Doc(info.Get(), v->memid), e.members[i]);
            EXPECT_EQ(V_I4(v->lpvarValue), static_cast<LONG>(i));
            info->ReleaseVarDesc(v);
        }
    }
    Ref<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Pulsyn, coclass.Put()), S_OK);
    EXPECT_EQ(Doc(coclass.Get()), L"Pulsyn");
    EXPECT_EQ(Doc(coclass.Get(), MEMBERID_NIL, true), L"Pulsyn Object");
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attributes->cImplTypes, 1);
    coclass->ReleaseTypeAttr(attributes);
    INT flags = 0;
    coclass->GetImplTypeFlags(0, &flags);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
}

TEST_F(TypeLibraryTest, EmbeddedUnchangedAsResourceOne) {
    HMODULE data = LoadLibraryExW(WindowsPath("QUORLIB_DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    HRSRC resource = FindResourceW(data, MAKEINTRESOURCEW(1), L"TYPELIB");
    ASSERT_NE(resource, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(data, resource)));
    std::string embedded(bytes, SizeofResource(data, resource));
    FreeLibrary(data);
    HANDLE file = CreateFileW(WindowsPath("QUORLIB_TLB").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "QUORLIB_TLB names the type library built from the description";
    std::string built(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, built.data(), static_cast<DWORD>(built.size()), &read, nullptr);
    CloseHandle(file);
    EXPECT_EQ(embedded, built);
}

}  // namespace
