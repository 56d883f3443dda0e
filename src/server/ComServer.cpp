// The automation server's plumbing (Windows only): module state, the class factory, the
// four exports and the registry entries that registration writes and removes.
#include "ComServer.h"

#include <olectl.h>

#include <atomic>
#include <mutex>
#include <new>
#include <cwchar>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/HostInfo.h"
#include "base/TextConvert.h"
#include "base/WideText.h"
#include "server/ObjPulsyn.h"

namespace quor {

namespace {

HINSTANCE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
std::once_flag g_switchesRead;
bool g_perUser = false;

std::mutex g_typeLibMutex;
TComPtr<ITypeLib> g_typeLib;
TComPtr<ITypeInfo> g_dispatchInfo;
TComPtr<ITypeInfo> g_classInfo;
std::wstring g_className;    // "Pulsyn", read from the type library
std::wstring g_description;  // "Pulsyn Object"
std::wstring g_libraryName;  // "QuorLib"

void LoadTypeLibrary() {
    std::lock_guard<std::mutex> lock(g_typeLibMutex);
    if (g_typeLib) return;
    TComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(TComServer::ModulePath().c_str(), REGKIND_NONE, library.Put()))) return;
    TComPtr<ITypeInfo> classInfo;
    if (FAILED(library->GetTypeInfoOfGuid(CLSID_Pulsyn, classInfo.Put()))) return;
    BSTR name = nullptr, help = nullptr, libName = nullptr;
    classInfo->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr);
    library->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr);
    g_className = name ? name : L"";
    g_description = help ? help : L"";
    g_libraryName = libName ? libName : L"";
    SysFreeString(name);
    SysFreeString(help);
    SysFreeString(libName);
    // The class's default interface gives the dispatch type information.
    TComPtr<ITypeInfo> dispatchInfo;
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(classInfo->GetTypeAttr(&attributes))) {
        for (UINT i = 0; i < attributes->cImplTypes && !dispatchInfo; ++i) {
            INT flags = 0;
            HREFTYPE ref = 0;
            if (SUCCEEDED(classInfo->GetImplTypeFlags(i, &flags)) && (flags & IMPLTYPEFLAG_FDEFAULT) &&
                SUCCEEDED(classInfo->GetRefTypeOfImplType(i, &ref))) {
                classInfo->GetRefTypeInfo(ref, dispatchInfo.Put());
            }
        }
        classInfo->ReleaseTypeAttr(attributes);
    }
    if (!dispatchInfo) library->GetTypeInfoOfGuid(IID_IPulsyn, dispatchInfo.Put());
    g_typeLib = std::move(library);
    g_classInfo = std::move(classInfo);
    g_dispatchInfo = std::move(dispatchInfo);
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;  // braces, upper-case hexadecimal digits
}

std::wstring ProgId() { return g_libraryName + L"." + g_className; }

// The factory of the class Pulsyn: every request makes a new, independent object.
class TPulsynFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the library.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        TPulsyn* object = nullptr;
        try {
            object = new TPulsyn(outer);
        } catch (const std::bad_alloc&) {  // the only failure of a new object
            return E_OUTOFMEMORY;
        }
        IUnknown* inner = object->InnerUnknown();
        inner->AddRef();
        const HRESULT result = inner->QueryInterface(riid, ppv);
        inner->Release();  // destroys the object when the query handed out nothing
        return result;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        TComServer::Lock(lock != FALSE);
        return S_OK;
    }
};

TPulsynFactory g_factory;

// Registry keys under HKEY_CLASSES_ROOT, or HKEY_CURRENT_USER\Software\Classes when
// registering per user.
//
// On 64-bit Windows the 32-bit and the 64-bit build each have a class registration of their
// own: WOW64 redirects the CLSID keys of a 32-bit process (HKLM's and HKCU's classes alike) to
// the classes' WOW6432Node, while ProgIDs and type libraries are shared by both. The machine's
// classes are left to that redirection. A per-user class of the 32-bit build is written to
// Software\Classes\WOW6432Node\CLSID in the registry's 64-bit view, which is where Windows
// redirects it to; naming the place keeps the two builds apart also where a registry does not
// redirect per-user classes (Wine does not), instead of the second registration silently
// replacing the first.
bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

struct TRegistryPlace {
    HKEY Root;
    std::wstring Key;
    REGSAM View;
};

// The place of a key of this build's registration; with otherBuild, the place where the other
// bitness keeps the same class key (meaningful only for CLSID keys on 64-bit Windows).
TRegistryPlace Place(bool perUser, const std::wstring& key, bool otherBuild = false) {
    const bool classKey = key.rfind(L"CLSID\\", 0) == 0;
    const bool thirtyTwoBit = sizeof(void*) == 4;
    const bool wow64 = thirtyTwoBit && RunsUnderWow64();
    if (!perUser) {
        REGSAM view = 0;
        if (otherBuild) view = thirtyTwoBit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        return {HKEY_CLASSES_ROOT, key, view};
    }
    const bool inWow64Node = classKey && (otherBuild ? !thirtyTwoBit : wow64);
    const REGSAM view = (wow64 || !thirtyTwoBit) ? KEY_WOW64_64KEY : 0;
    return {HKEY_CURRENT_USER, std::wstring(L"Software\\Classes\\") + (inWow64Node ? L"WOW6432Node\\" : L"") + key, view};
}

void WriteValue(bool perUser, const std::wstring& key, const wchar_t* valueName, const std::wstring& value) {
    const TRegistryPlace place = Place(perUser, key);
    HKEY handle = nullptr;
    if (RegCreateKeyExW(place.Root, place.Key.c_str(), 0, nullptr, 0, KEY_WRITE | place.View, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create registry key");
    }
    const LONG status = RegSetValueExW(handle, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) throw std::runtime_error("cannot set registry value");
}

void DeleteKey(bool perUser, const std::wstring& key) {
    const TRegistryPlace place = Place(perUser, key);
    RegDeleteKeyExW(place.Root, place.Key.c_str(), place.View, 0);
}

// Whether the other bitness has the class registered in the same scope: then the ProgID,
// which both share, still serves it and stays.
bool OtherBuildRegistered(bool perUser, const std::wstring& clsidKey) {
    const bool thirtyTwoBit = sizeof(void*) == 4;
    if (thirtyTwoBit && !RunsUnderWow64()) return false;  // 32-bit Windows: one build only
    const TRegistryPlace place = Place(perUser, clsidKey + L"\\InprocServer32", true);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(place.Root, place.Key.c_str(), 0, KEY_READ | place.View, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

bool KeyExists(bool perUser, const std::wstring& key) {
    const TRegistryPlace place = Place(perUser, key);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(place.Root, place.Key.c_str(), 0, KEY_READ | place.View, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// Removes `key` with everything below it; `bothViews` also in the other bitness's view of the
// machine's classes, where a system may keep a copy of it.
void DeleteTree(bool perUser, const std::wstring& key, bool bothViews = false) {
    const TRegistryPlace place = Place(perUser, key);
    const size_t split = place.Key.find_last_of(L'\\');
    const std::wstring parent = place.Key.substr(0, split), leaf = place.Key.substr(split + 1);
    std::vector<REGSAM> views{place.View};
    if (bothViews && !perUser) views = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (const REGSAM view : views) {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(place.Root, parent.c_str(), 0, KEY_ALL_ACCESS | view, &handle) != ERROR_SUCCESS) continue;
        RegDeleteTreeW(handle, leaf.c_str());
        RegCloseKey(handle);
    }
}

// The type library's keys: TypeLib\{LIBID}\<version> with FLAGS, HELPDIR and <lcid>\win32 or
// <lcid>\win64 naming this build's file, and Interface\{IID} for each interface. Both
// bitnesses share them but for the platform key, which names each build's own file:
// unregistering one build removes its own platform key, and the shared keys go with the last
// one. RegisterTypeLib cannot do that: it names the platform by the library's system kind
// (one kind for both builds, so the second registration would take over the first's key), it
// removes everything on unregistering, and Wine's per-user variants write and remove the
// machine's keys.
struct TTypeLibKeys {
    std::wstring Library;        // TypeLib\{LIBID}\1.0
    std::wstring Platform;       // ...\0\win64 (this build)
    std::wstring OtherPlatform;  // ...\0\win32 (the other bitness)
    std::vector<std::pair<std::wstring, std::wstring>> Interfaces;  // Interface\{IID}, and its name
    std::wstring Version;        // 1.0
    std::wstring Flags;
};

std::wstring TypeName(ITypeLib* library, INT index) {
    BSTR name = nullptr, doc = nullptr;
    library->GetDocumentation(index, &name, &doc, nullptr, nullptr);
    std::wstring text = index < 0 && doc && *doc ? doc : name ? name : L"";
    SysFreeString(name);
    SysFreeString(doc);
    return text;
}

TTypeLibKeys TypeLibKeys(ITypeLib* library) {
    TTypeLibKeys keys;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) throw std::runtime_error("cannot read the type library");
    keys.Version = std::to_wstring(attributes->wMajorVerNum) + L"." + std::to_wstring(attributes->wMinorVerNum);
    keys.Library = L"TypeLib\\" + GuidText(attributes->guid) + L"\\" + keys.Version;
    keys.Flags = std::to_wstring(attributes->wLibFlags);
    wchar_t lcid[16] = {};
    swprintf(lcid, 16, L"%lx", static_cast<unsigned long>(attributes->lcid));
    library->ReleaseTLibAttr(attributes);
    const bool sixtyFourBit = sizeof(void*) == 8;
    keys.Platform = keys.Library + L"\\" + lcid + (sixtyFourBit ? L"\\win64" : L"\\win32");
    keys.OtherPlatform = keys.Library + L"\\" + lcid + (sixtyFourBit ? L"\\win32" : L"\\win64");
    for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
        TYPEKIND kind{};
        TComPtr<ITypeInfo> info;
        TYPEATTR* type = nullptr;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) ||
            FAILED(library->GetTypeInfo(i, info.Put())) || FAILED(info->GetTypeAttr(&type))) {
            continue;
        }
        keys.Interfaces.emplace_back(L"Interface\\" + GuidText(type->guid), TypeName(library, static_cast<INT>(i)));
        info->ReleaseTypeAttr(type);
    }
    return keys;
}

void RegisterTypeLibrary(bool perUser, ITypeLib* library, const std::wstring& path, const std::wstring& helpDir) {
    const TTypeLibKeys keys = TypeLibKeys(library);
    WriteValue(perUser, keys.Library, nullptr, TypeName(library, -1));
    WriteValue(perUser, keys.Library + L"\\FLAGS", nullptr, keys.Flags);
    WriteValue(perUser, keys.Library + L"\\HELPDIR", nullptr, helpDir);
    WriteValue(perUser, keys.Platform, nullptr, path);
    const std::wstring libid = GuidText(LIBID_QuorLib);
    // Interfaces that automation marshals use its own proxy (PSOAInterface).
    const std::wstring automationProxy = L"{00020424-0000-0000-C000-000000000046}";
    for (const auto& [key, name] : keys.Interfaces) {
        WriteValue(perUser, key, nullptr, name);
        WriteValue(perUser, key + L"\\ProxyStubClsid", nullptr, automationProxy);
        WriteValue(perUser, key + L"\\ProxyStubClsid32", nullptr, automationProxy);
        WriteValue(perUser, key + L"\\TypeLib", nullptr, libid);
        WriteValue(perUser, key + L"\\TypeLib", L"Version", keys.Version);
    }
}

void UnregisterTypeLibrary(bool perUser, ITypeLib* library) {
    const TTypeLibKeys keys = TypeLibKeys(library);
    DeleteTree(perUser, keys.Platform);
    if (KeyExists(perUser, keys.OtherPlatform)) return;  // the other bitness still uses the rest
    DeleteTree(perUser, keys.Library);
    DeleteKey(perUser, keys.Library.substr(0, keys.Library.find_last_of(L'\\')));  // unless another version is in it
    for (const auto& entry : keys.Interfaces) DeleteTree(perUser, entry.first, true);
}

}  // namespace

void RegisterServer(bool perUser) {
    const TComPtr<ITypeLib> library = TComServer::TypeLib();
    if (!library) throw std::runtime_error("cannot load the type library");
    const std::wstring path = TComServer::ModulePath();
    RegisterTypeLibrary(perUser, library.Get(), path, path.substr(0, path.find_last_of(L"\\/") + 1));

    const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_Pulsyn);
    std::wstring serverPath = path;
    if (path.find(L' ') != std::wstring::npos) {
        wchar_t shortPath[MAX_PATH] = {};
        const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
        if (length > 0 && length < MAX_PATH) serverPath = shortPath;
    }
    const std::wstring version = TypeLibKeys(library.Get()).Version;
    WriteValue(perUser, clsidKey, nullptr, g_description);
    WriteValue(perUser, clsidKey + L"\\InprocServer32", nullptr, serverPath);
    WriteValue(perUser, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    WriteValue(perUser, ProgId(), nullptr, g_description);
    WriteValue(perUser, ProgId() + L"\\Clsid", nullptr, GuidText(CLSID_Pulsyn));
    WriteValue(perUser, clsidKey + L"\\ProgID", nullptr, ProgId());
    WriteValue(perUser, clsidKey + L"\\Version", nullptr, version);
    WriteValue(perUser, clsidKey + L"\\TypeLib", nullptr, GuidText(LIBID_QuorLib));
}

void UnregisterServer(bool perUser) {
    const TComPtr<ITypeLib> library = TComServer::TypeLib();
    if (!library) throw std::runtime_error("cannot load the type library");
    UnregisterTypeLibrary(perUser, library.Get());
    const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_Pulsyn);
    DeleteKey(perUser, clsidKey + L"\\TypeLib");
    DeleteKey(perUser, clsidKey + L"\\Version");
    DeleteKey(perUser, clsidKey + L"\\ProgID");
    DeleteKey(perUser, clsidKey + L"\\InprocServer32");
    DeleteKey(perUser, clsidKey);
    if (!OtherBuildRegistered(perUser, clsidKey)) {
        DeleteKey(perUser, ProgId() + L"\\Clsid");
        DeleteKey(perUser, ProgId());
    }
}

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_Pulsyn)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

void TComServer::SetModule(HINSTANCE module) { g_module = module; }

void TComServer::KeepLoaded() {
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&TComServer::KeepLoaded), &pinned);
}

namespace {
// A reference of the caller's own, so that releasing the cache never frees one in use.
template <class T>
TComPtr<T> Loaded(const TComPtr<T>& cached) {
    LoadTypeLibrary();
    std::lock_guard<std::mutex> lock(g_typeLibMutex);
    return cached;
}
}  // namespace

TComPtr<ITypeLib> TComServer::TypeLib() { return Loaded(g_typeLib); }
TComPtr<ITypeInfo> TComServer::DispatchTypeInfo() { return Loaded(g_dispatchInfo); }
TComPtr<ITypeInfo> TComServer::ClassTypeInfo() { return Loaded(g_classInfo); }

void TComServer::ObjectCreated() { ++g_objects; }
void TComServer::ObjectDestroyed() { --g_objects; }
void TComServer::Lock(bool lock) {
    if (lock) {
        ++g_locks;
    } else {
        --g_locks;
    }
}
bool TComServer::CanUnload() { return g_objects == 0 && g_locks == 0; }

void TComServer::ReleaseTypeLibrary() {
    std::lock_guard<std::mutex> lock(g_typeLibMutex);
    g_dispatchInfo.Reset();
    g_classInfo.Reset();
    g_typeLib.Reset();
}
// The host's switches decide once, the first time registration asks.
bool TComServer::PerUserRegistration() {
    std::call_once(g_switchesRead, [] { g_perUser = PerUserFromSwitches(HostArguments()); });
    return g_perUser;
}

std::wstring TComServer::ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

bool InstallScopeFromCommandLine(const wchar_t* commandLine, bool& perUser) {
    const std::string text = commandLine ? ToUtf8(commandLine) : std::string();
    if (text.empty()) {
        perUser = false;
        return true;
    }
    if (EqualsIgnoringAsciiCase(text, "user")) {
        perUser = true;
        return true;
    }
    return false;
}

bool PerUserFromSwitches(const std::vector<std::string>& arguments) {
    static const char* const kSwitches[] = {"AUTOMATION",  "EMBEDDING",        "REGSERVER",
                                            "UNREGSERVER", "REGSERVERPERUSER", "UNREGSERVERPERUSER"};
    for (const char* name : kSwitches) {
        for (const std::string& argument : arguments) {
            if (argument.size() > 1 && (argument[0] == '-' || argument[0] == '/') &&
                EqualsIgnoringAsciiCase(std::string_view(argument).substr(1), name)) {
                const std::string found = name;
                return found == "REGSERVERPERUSER" || found == "UNREGSERVERPERUSER";
            }
        }
    }
    return false;
}

}  // namespace quor
