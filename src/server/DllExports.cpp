// The exports of QuorLib.dll (ordinals fixed in QuorLib.def) and its entry point.
#include <windows.h>

#include "server/ComServer.h"
#include "server/LinkRegistry.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        quor::TComServer::SetModule(instance);
        DisableThreadLibraryCalls(instance);
    }
    // The process is ending (the library stays loaded while a link exists, so only process
    // exit detaches it then): this runs under the loader lock, after the system has ended
    // the other threads, and before the run time's destructors. Closing the port, waiting
    // for its thread or destroying its window from there can hang the exit, so the link is
    // left to the system, which closes the port; what the client wrote is with the driver.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) quor::AbandonLinksAtExit();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return quor::GetClassObject(rclsid, riid, ppv);
}

// The system unloads the library after a yes; the type information it cached goes first,
// here rather than in DllMain, where releasing another library's objects is not safe.
STDAPI DllCanUnloadNow() {
    if (!quor::TComServer::CanUnload()) return S_FALSE;
    quor::TComServer::ReleaseTypeLibrary();
    return S_OK;
}

// Nothing may cross the DLL's boundary into regsvr32 or an installer; any failure to write
// the registry is the one status they understand.
STDAPI DllRegisterServer() {
    try {
        quor::RegisterServer(quor::TComServer::PerUserRegistration());
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllUnregisterServer() {
    try {
        quor::UnregisterServer(quor::TComServer::PerUserRegistration());
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

// "regsvr32 /n /i:user QuorLib.dll" registers for the current user only (no administrator
// rights needed), "regsvr32 /u /n /i:user QuorLib.dll" removes that registration; an empty
// command line ("/i" alone) means the machine-wide registration.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    bool perUser = false;
    if (!quor::InstallScopeFromCommandLine(commandLine, perUser)) return E_INVALIDARG;
    try {
        if (install) {
            quor::RegisterServer(perUser);
        } else {
            quor::UnregisterServer(perUser);
        }
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

}  // extern "C"
