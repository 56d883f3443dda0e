// The four exports of QuorLib.dll (ordinals fixed in QuorLib.def) and its entry point.
#include <windows.h>

#include "server/ComServer.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        quor::TComServer::SetModule(instance);
        DisableThreadLibraryCalls(instance);
    }
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
