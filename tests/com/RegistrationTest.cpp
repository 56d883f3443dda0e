// Registration writes the class, program identifier and type library entries that clients
// need to find the library, and unregistration removes every one of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

const std::wstring kClsid = L"{FD7AD882-6D86-41B8-BADE-73487A8C71A4}";
const std::wstring kLibid = L"{D628F04D-0AF6-4971-B2E1-10ECA673A707}";
const std::wstring kInterface = L"Interface\\{3EEA728F-63D9-4C91-AFE7-49375FAFAACD}";
// Each bitness names its own file under its own platform key of the shared type library key.
const std::wstring kTypeLib = L"TypeLib\\" + kLibid;
const std::wstring kOwnPlatform = kTypeLib + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32");
const std::wstring kOtherPlatform = kTypeLib + (sizeof(void*) == 8 ? L"\\1.0\\0\\win32" : L"\\1.0\\0\\win64");

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

std::wstring Value(HKEY root, const std::wstring& key, const wchar_t* name = nullptr, REGSAM view = 0) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t), type = 0;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return L"(no key)";
    const LONG status = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return L"(no value)";
    return type == REG_SZ ? std::wstring(data) : L"(not a string)";
}

std::vector<std::wstring> RegisteredKeys() {
    const std::wstring c = L"CLSID\\" + kClsid;
    return {c, c + L"\\InprocServer32", c + L"\\ProgID", c + L"\\Version", c + L"\\TypeLib", L"QuorLib.Pulsyn",
            L"QuorLib.Pulsyn\\Clsid", kOwnPlatform, kInterface + L"\\TypeLib", kInterface + L"\\ProxyStubClsid32"};
}

// Where a per-user registration keeps a key: on 64-bit Windows a 32-bit build's class keys
// live in the classes' WOW6432Node (as the registry's 64-bit view shows it), while program
// identifiers and type libraries are shared by both builds.
struct TUserKey {
    std::wstring Key;
    REGSAM View;
};
TUserKey UserKey(const std::wstring& key) {
    BOOL wow64 = FALSE;
    const bool underWow64 = sizeof(void*) == 4 && IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    const bool classKey = key.rfind(L"CLSID\\", 0) == 0;
    return {L"Software\\Classes\\" + std::wstring(underWow64 && classKey ? L"WOW6432Node\\" : L"") + key,
            static_cast<REGSAM>(underWow64 ? KEY_WOW64_64KEY : 0)};
}
bool UserKeyExists(const std::wstring& key) {
    const TUserKey place = UserKey(key);
    return KeyExists(HKEY_CURRENT_USER, place.Key, place.View);
}
std::wstring UserValue(const std::wstring& key) {
    const TUserKey place = UserKey(key);
    return Value(HKEY_CURRENT_USER, place.Key, nullptr, place.View);
}

bool PerUserRun() { return wcsstr(GetCommandLineW(), L"-RegServerPerUser") != nullptr; }

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Dll().module, nullptr); }
};

TEST_F(RegistrationTest, RegisterWritesEveryEntryAndUnregisterRemovesThemAll) {
    if (PerUserRun()) GTEST_SKIP() << "this run registers per user";
    ASSERT_EQ(Dll().registerServer(), S_OK);
    const std::wstring c = L"CLSID\\" + kClsid;
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c), L"Pulsyn Object");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c + L"\\InprocServer32"), ModulePath(Dll().module));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, L"QuorLib.Pulsyn"), L"Pulsyn Object");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, L"QuorLib.Pulsyn\\Clsid"), kClsid);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c + L"\\ProgID"), L"QuorLib.Pulsyn");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c + L"\\Version"), L"1.0");
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, c + L"\\TypeLib"), kLibid);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kOwnPlatform), ModulePath(Dll().module));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kOtherPlatform));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kInterface + L"\\TypeLib"), kLibid);
    BSTR registeredPath = nullptr;
    EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_QuorLib, 1, 0, 0, &registeredPath), S_OK);
    SysFreeString(registeredPath);

    // Created through the registry, by program identifier and by class identifier.
    CLSID fromProgId{};
    EXPECT_EQ(CLSIDFromProgID(L"QuorLib.Pulsyn", &fromProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(fromProgId, CLSID_Pulsyn));
    Ref<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(CLSID_Pulsyn, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.PutVoid()), S_OK);
    object.Reset();

    ASSERT_EQ(Dll().unregisterServer(), S_OK);
    for (const std::wstring& key : RegisteredKeys()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key.c_str();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLib));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterface));
    EXPECT_NE(QueryPathOfRegTypeLib(LIBID_QuorLib, 1, 0, 0, &registeredPath), S_OK);
    EXPECT_EQ(Dll().unregisterServer(), S_OK);  // unregistering twice is no error
}

// The type library and interface keys are shared by both bitnesses: while the other one is
// registered (its platform key there), unregistering this one removes only its own key.
TEST_F(RegistrationTest, UnregisteringOneBitnessLeavesTheOthersTypeLibrary) {
    if (PerUserRun()) GTEST_SKIP() << "this run registers per user";
    const std::wstring otherFile = L"C:\\Other\\QuorLib.dll";
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kOtherPlatform.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &other,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(other, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(otherFile.c_str()),
                   static_cast<DWORD>((otherFile.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(other);
    ASSERT_EQ(Dll().registerServer(), S_OK);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kOtherPlatform), otherFile);  // registering keeps it too
    ASSERT_EQ(Dll().unregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kOwnPlatform));
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kOtherPlatform), otherFile);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, kInterface + L"\\TypeLib"), kLibid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kTypeLib.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kInterface.c_str());
}

TEST_F(RegistrationTest, APathWithASpaceIsRegisteredInItsShortForm) {
    if (PerUserRun()) GTEST_SKIP() << "this run registers per user";
    const std::wstring folder = L"C:\\Quor Lib Test";
    const std::wstring copy = folder + L"\\QuorLib.dll";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ModulePath(Dll().module).c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(module, nullptr);
    auto registerServer = Export<PlainFn>(module, "DllRegisterServer");
    auto unregisterServer = Export<PlainFn>(module, "DllUnregisterServer");
    ASSERT_EQ(registerServer(), S_OK);
    const std::wstring registered = Value(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\InprocServer32");
    EXPECT_EQ(registered.find(L' '), std::wstring::npos) << registered.c_str();
    wchar_t longPath[MAX_PATH] = {};
    GetLongPathNameW(registered.c_str(), longPath, MAX_PATH);
    EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, longPath, -1, ModulePath(module).c_str(), -1),
              CSTR_EQUAL)
        << registered.c_str();
    EXPECT_EQ(unregisterServer(), S_OK);
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(RegistrationTest, PerUserSwitchRegistersUnderTheCurrentUser) {
    if (!PerUserRun()) GTEST_SKIP() << "run with -RegServerPerUser";
    const std::wstring userClasses = L"Software\\Classes\\";
    ASSERT_EQ(Dll().registerServer(), S_OK);
    for (const std::wstring& key : RegisteredKeys())
        EXPECT_TRUE(UserKeyExists(key)) << key.c_str();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, userClasses + L"CLSID\\" + kClsid));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, userClasses + kTypeLib));  // nor the type library there
    EXPECT_EQ(UserValue(L"QuorLib.Pulsyn\\Clsid"), kClsid);
    ASSERT_EQ(Dll().unregisterServer(), S_OK);
    for (const std::wstring& key : RegisteredKeys())
        EXPECT_FALSE(UserKeyExists(key)) << key.c_str();
}

// DllInstall is what "regsvr32 /n /i:user" calls: the command line picks the scope.
TEST_F(RegistrationTest, DllInstallRegistersForTheUserItsCommandLineNames) {
    if (PerUserRun()) GTEST_SKIP() << "this run registers per user";
    using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    auto install = Export<InstallFn>(Dll().module, "DllInstall");
    ASSERT_NE(install, nullptr);
    const std::wstring userClasses = L"Software\\Classes\\";

    // A scope it does not know is refused before anything is written.
    EXPECT_EQ(install(TRUE, L"users"), E_INVALIDARG);
    EXPECT_EQ(install(TRUE, L"machine"), E_INVALIDARG);
    EXPECT_FALSE(UserKeyExists(L"QuorLib.Pulsyn"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"QuorLib.Pulsyn"));

    ASSERT_EQ(install(TRUE, L"User"), S_OK);
    for (const std::wstring& key : RegisteredKeys())
        EXPECT_TRUE(UserKeyExists(key)) << key.c_str();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, userClasses + L"QuorLib.Pulsyn"));
    EXPECT_EQ(UserValue(L"CLSID\\" + kClsid + L"\\InprocServer32"),
              ModulePath(Dll().module));
    ASSERT_EQ(install(FALSE, L"user"), S_OK);
    for (const std::wstring& key : RegisteredKeys())
        EXPECT_FALSE(UserKeyExists(key)) << key.c_str();

    // No command line ("regsvr32 /i") is the machine-wide registration.
    ASSERT_EQ(install(TRUE, nullptr), S_OK);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, L"QuorLib.Pulsyn\\Clsid"), kClsid);
    EXPECT_FALSE(UserKeyExists(L"QuorLib.Pulsyn"));
    ASSERT_EQ(install(FALSE, L""), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"QuorLib.Pulsyn"));
}

}  // namespace
