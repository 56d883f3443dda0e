// The main thread owns a message-only window: a worker posts a message to it, which wakes
// MsgWaitForMultipleObjectsEx, and the window procedure runs the queued hand-offs when the
// thread's message pump dispatches it (also from a pump that is not ours, e.g. a modal
// dialog of the host).
#include <windows.h>

#include "MainThreadPlatform.h"

namespace quor::platform {

namespace {

constexpr UINT kHandoffMessage = WM_APP + 0x51;
HWND window = nullptr;

LRESULT CALLBACK HandoffWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kHandoffMessage) {
        RunPendingHandoffs();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

void CreateMainThreadWakeup() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HandoffWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuorLibMainThreadHandoff";
    RegisterClassW(&wc);  // fails harmlessly when the class is already there
    window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void WakeMainThread() {
    if (window) PostMessageW(window, kHandoffMessage, 0, 0);
}

void PumpMainThread() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit request for the host's own message loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool KeepWakeup() { return true; }  // a window message is there to be dispatched

bool WaitMainThread(std::chrono::milliseconds timeout, int, bool& descriptorReady) {
    descriptorReady = false;
    const auto ms = timeout.count() >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(timeout.count());
    return MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

}  // namespace quor::platform
