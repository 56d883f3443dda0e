// The four exports of QuorLib.dll (ordinals fixed in QuorLib.def) and its entry point.
#include <windows.h>

#include "server/ComServer.h"
#include "server/ObjPulsyn.h"

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
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) quor::AbandonLinkAtExit();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return quor::GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return quor::TComServer::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    try {
        quor::RegisterServer();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllUnregisterServer() {
    try {
        quor::UnregisterServer();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

}  // extern "C"
