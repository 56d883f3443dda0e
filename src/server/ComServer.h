// The automation server's process-wide state (Windows only): the module, its type library,
// the count of live objects and of server locks, and the per-user registration flag.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "server/ComPtr.h"

#include <string>
#include <vector>

namespace quor {

struct TComServer {
    // The library's type library, loaded from the library's own file on first use and kept
    // until the library is unloaded; empty when it cannot be loaded.
    static TComPtr<ITypeLib> TypeLib();
    // Type information of IPulsyn (dispatch) and of the class Pulsyn.
    static TComPtr<ITypeInfo> DispatchTypeInfo();
    static TComPtr<ITypeInfo> ClassTypeInfo();

    static void ObjectCreated();
    static void ObjectDestroyed();
    static void Lock(bool lock);
    static bool CanUnload();
    // Lets go of the type library and its type information, as the library is about to be
    // unloaded (no object or lock left); the next use loads them again.
    static void ReleaseTypeLibrary();

    static bool PerUserRegistration();
    // The library file; the process's program when no library set it (test programs).
    static std::wstring ModulePath();
    static void SetModule(HINSTANCE module);
    // Keeps the library in the process until it ends. Called when the monitor window and
    // its port are made: they outlive every object, and their code must stay with them.
    static void KeepLoaded();
};

// What the exports do. Registration goes under HKEY_CLASSES_ROOT, or for the current user
// only (HKEY_CURRENT_USER\Software\Classes) when perUser is set.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
void RegisterServer(bool perUser);    // raises on the first step that fails
void UnregisterServer(bool perUser);

// The scope that DllInstall's command line asks for: "user" (any case) is the current user,
// an empty one the machine; anything else is no scope (false).
bool InstallScopeFromCommandLine(const wchar_t* commandLine, bool& perUser);

// Decides the per-user flag from the host's command-line switches: the first of
// AUTOMATION, EMBEDDING, REGSERVER, UNREGSERVER, REGSERVERPERUSER, UNREGSERVERPERUSER
// found (introduced by "-" or "/", any case) decides. Exposed for tests.
bool PerUserFromSwitches(const std::vector<std::string>& arguments);

}  // namespace quor
