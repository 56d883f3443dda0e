// The automation server as the platform's run time and its clients see it: the exports of
// QuorLib.dll, the class factory, the interfaces of an object, IDispatch through the type
// library, the type library's content and the registry entries of registration.
//
// The library is loaded from the path in QUORLIB_DLL. Run with the argument COM7 next to a
// simulated stimulator (with-sims.sh) for the late-bound calls that reach a device, and
// with -RegServerPerUser for the per-user registration.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

class ComServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Dll().module, nullptr) << "cannot load QuorLib.dll from QUORLIB_DLL";
        ASSERT_TRUE(Dll().getClassObject && Dll().canUnloadNow && Dll().registerServer && Dll().unregisterServer);
        ASSERT_EQ(Dll().getClassObject(CLSID_Pulsyn, IID_IClassFactory, factory.PutVoid()), S_OK);
    }
    IPulsyn* NewObject() {
        IPulsyn* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPulsyn, reinterpret_cast<void**>(&object)), S_OK);
        return object;
    }
    Ref<IClassFactory> factory;
};

TEST_F(ComServerTest, ExportsAnswerOnlyForTheirClass) {
    const CLSID other = IID_IPulsyn;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(Dll().getClassObject(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Dll().getClassObject(CLSID_Pulsyn, IID_IDispatch, &object), E_NOINTERFACE);
    // The ordinals of the four exports.
    EXPECT_EQ(ExportAddress(Dll().module, MAKEINTRESOURCEA(1)), reinterpret_cast<void*>(Dll().unregisterServer));
    EXPECT_EQ(ExportAddress(Dll().module, MAKEINTRESOURCEA(2)), reinterpret_cast<void*>(Dll().registerServer));
    EXPECT_EQ(ExportAddress(Dll().module, MAKEINTRESOURCEA(3)), reinterpret_cast<void*>(Dll().canUnloadNow));
    EXPECT_EQ(ExportAddress(Dll().module, MAKEINTRESOURCEA(4)), reinterpret_cast<void*>(Dll().getClassObject));
}

TEST_F(ComServerTest, UnloadingWaitsForObjectsAndLocks) {
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
    IPulsyn* object = NewObject();
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    object->Release();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(Dll().canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
    // A request the object cannot answer leaves nothing alive.
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPulsyn, nullptr), E_POINTER);
}

TEST_F(ComServerTest, AnObjectAnswersItsInterfacesAndRefusesOthers) {
    Ref<IPulsyn> object;
    object = Ref<IPulsyn>::Adopt(NewObject());
    ASSERT_NE(object.Get(), nullptr);
    for (REFIID iid : {IID_IUnknown, IID_IDispatch, IID_IPulsyn, IID_ISupportErrorInfo, IID_IProvideClassInfo}) {
        Ref<IUnknown> answer;
        EXPECT_EQ(object->QueryInterface(iid, answer.PutVoid()), S_OK);
    }
    for (REFIID iid : {IID_IPersist, IID_IClassFactory, IID_ITypeInfo}) {
        Ref<IUnknown> answer;
        EXPECT_EQ(object->QueryInterface(iid, answer.PutVoid()), E_NOINTERFACE);
        EXPECT_EQ(answer.Get(), nullptr);
    }
    Ref<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPulsyn), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPersist), S_FALSE);

    Ref<IProvideClassInfo> provide;
    ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo, provide.PutVoid()), S_OK);
    Ref<ITypeInfo> classInfo;
    ASSERT_EQ(provide->GetClassInfo(classInfo.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(classInfo->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Pulsyn));
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    classInfo->ReleaseTypeAttr(attributes);
}

// An outer object that only counts what is delegated to it.
struct CountingOuter : IUnknown {
    int queries = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        ++queries;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST_F(ComServerTest, AggregationHandsOutTheInnerUnknownOnly) {
    CountingOuter outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IPulsyn, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    Ref<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
    Ref<IPulsyn> pulsyn;
    ASSERT_EQ(inner->QueryInterface(IID_IPulsyn, pulsyn.PutVoid()), S_OK);
    // The interface's own IUnknown methods go to the outer object.
    void* viaInterface = nullptr;
    EXPECT_EQ(pulsyn->QueryInterface(IID_IDispatch, &viaInterface), E_NOINTERFACE);
    EXPECT_EQ(outer.queries, 1);
    pulsyn.Detach();  // references on the interface belong to the outer object
    inner->Release();    // the one reference the query added to the inner count
    inner.Reset();
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
}

DISPID IdOf(IDispatch* dispatch, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    return id;
}

TEST_F(ComServerTest, DispatchServesTheTypeLibrary) {
    Ref<IPulsyn> object;
    object = Ref<IPulsyn>::Adopt(NewObject());
    IDispatch* dispatch = object.Get();
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    Ref<ITypeInfo> typeInfo;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, typeInfo.Put()), S_OK);
    BSTR name = nullptr;
    typeInfo->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    EXPECT_STREQ(name, L"IPulsyn");
    SysFreeString(name);

    EXPECT_EQ(IdOf(dispatch, L"SaveSessionCommands"), 4);
    EXPECT_EQ(IdOf(dispatch, L"SetChannelShape"), 19);
    EXPECT_EQ(IdOf(dispatch, L"Connected"), 3);
    EXPECT_EQ(IdOf(dispatch, L"setchanneldelay"), 11);  // names are not case-sensitive

    // Reading and writing a property by dispatch identifier.
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(dispatch->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(&result), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result), VARIANT_FALSE);
    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = VARIANT_FALSE;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&value, &named, 1, 1};
    EXPECT_EQ(dispatch->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(dispatch->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &put, nullptr, nullptr, nullptr), S_OK);
}

TEST_F(ComServerTest, AFailedCallReachesEarlyAndLateBoundClientsAlike) {
    Ref<IPulsyn> object;
    object = Ref<IPulsyn>::Adopt(NewObject());
    EXPECT_EQ(object->ChangeParadigm(0), E_UNEXPECTED);
    Ref<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.Put()), S_OK);
    BSTR text = nullptr;
    GUID iid{};
    error->GetDescription(&text);
    EXPECT_STREQ(text, L"ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.");
    SysFreeString(text);
    error->GetSource(&text);
    EXPECT_STREQ(text, L"QuorLib.Pulsyn");
    SysFreeString(text);
    error->GetGUID(&iid);
    EXPECT_TRUE(IsEqualGUID(iid, IID_IPulsyn));

    VARIANT argument;
    V_VT(&argument) = VT_I4;
    V_I4(&argument) = 10;
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    EXCEPINFO exception{};
    const HRESULT status = object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &exception, nullptr);
    EXPECT_EQ(status, DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(exception.scode), 0x8000FFFFu);
    ASSERT_NE(exception.bstrDescription, nullptr);
    EXPECT_STREQ(exception.bstrDescription, L"ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.");
    EXPECT_STREQ(exception.bstrSource, L"QuorLib.Pulsyn");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
}

// An early-bound caller that passes no place for a result gets E_POINTER and error
// information, not an access violation in the host.
TEST_F(ComServerTest, ANullResultPointerThroughTheVtableIsRefused) {
    Ref<IPulsyn> object;
    object = Ref<IPulsyn>::Adopt(NewObject());
    EXPECT_EQ(object->get_Connected(nullptr), E_POINTER);
    EXPECT_EQ(object->Connect(nullptr), E_POINTER);
    EXPECT_EQ(object->SetChannelDelay(1, 0.025, nullptr), E_POINTER);
    EXPECT_EQ(object->SetChannelShape(1, csMonopolar, nullptr), E_POINTER);
    Ref<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.Put()), S_OK);
    BSTR text = nullptr;
    error->GetDescription(&text);
    EXPECT_STREQ(text, L"SetChannelShape was called with a null pointer for its result: pass a variable to receive it.");
    SysFreeString(text);
}

bool OnCommandLine(const wchar_t* word) { return wcsstr(GetCommandLineW(), word) != nullptr; }

TEST_F(ComServerTest, LateBoundSetterReturnsTheAcknowledgement) {
    if (!OnCommandLine(L"COM7")) GTEST_SKIP() << "needs a simulated stimulator on COM7";
    Ref<IPulsyn> object;
    object = Ref<IPulsyn>::Adopt(NewObject());
    IDispatch* dispatch = object.Get();
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(dispatch->Invoke(IdOf(dispatch, L"Connect"), IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr,
                               nullptr),
              S_OK);
    EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
    VARIANT arguments[2];  // in reverse order
    V_VT(&arguments[0]) = VT_R8;
    V_R8(&arguments[0]) = 0.001;
    V_VT(&arguments[1]) = VT_I4;
    V_I4(&arguments[1]) = 1;
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    VariantInit(&result);
    ASSERT_EQ(dispatch->Invoke(11, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(&result), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result), VARIANT_TRUE);
    EXPECT_EQ(object->put_Connected(VARIANT_FALSE), S_OK);
}

TEST_F(ComServerTest, TheLibraryStaysLoadedWhileItsWindowLives) {
    Ref<IPulsyn> object;
    object = Ref<IPulsyn>::Adopt(NewObject());
    VARIANT_BOOL connected = VARIANT_FALSE;
    ASSERT_EQ(object->Connect(&connected), S_OK);  // makes the process's window, with or without a port
    object.Reset();
    // No object and no lock: the run time may unload the library now...
    EXPECT_EQ(Dll().canUnloadNow(), S_OK);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(Dll().module, path, MAX_PATH);
    // ...but the library keeps itself loaded under the window and its port, however often
    // it is freed.
    for (int i = 0; i < 8 && GetModuleHandleW(path); ++i) FreeLibrary(Dll().module);
    if (!GetModuleHandleW(path)) {
        ADD_FAILURE() << "the library was unloaded while its window still exists";
        Dll() = Library(path);  // the following tests need it
        return;
    }
    object = Ref<IPulsyn>::Adopt(NewObject());
    EXPECT_EQ(object->put_Connected(VARIANT_TRUE), S_OK);
    VARIANT_BOOL value = 12345;
    EXPECT_EQ(object->get_Connected(&value), S_OK);
    // A command runs with a port, and says to connect without one (the search may find none).
    EXPECT_EQ(object->ClearParadigm(), value ? S_OK : E_UNEXPECTED);
    EXPECT_EQ(object->put_Connected(VARIANT_FALSE), S_OK);
}

}  // namespace

// One main for the three files of this program: the apartment every test runs in.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
