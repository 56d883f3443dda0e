// The main thread owns a message-only window: a worker posts a message to it, which wakes
// MsgWaitForMultipleObjectsEx, and the window procedure runs the queued hand-offs when the
// thread's message pump dispatches it (also from a pump that is not ours, e.g. a modal
// dialog of the host).
#include <windows.h>

#include "MainThread.h"
#include "MainThreadPlatform.h"

namespace quor::platform {

namespace {

constexpr UINT kHandoffMessage = WM_APP + 0x51;
// The window and the event live as long as the process, like the binding of the main thread
// they serve: destroying them at exit would run under the loader lock (where destroying a
// window can hang), and a worker may still wake the main thread then.
HWND window = nullptr;
// Set with every hand-off as well: while the host's quit request waits in the queue for the
// host's own loop, posted messages cannot wake a wait (see WaitMainThread).
HANDLE handoffEvent = nullptr;

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
    handoffEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

void WakeMainThread() {
    if (window) PostMessageW(window, kHandoffMessage, 0, 0);
    if (handoffEvent) SetEvent(handoffEvent);
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
    // A quit request left in the queue for the host (PumpMainThread puts it back) counts as
    // a posted message that is always there: a wait for posted messages would end at once,
    // every time, and a waiting command would spin a core. Then the wait leaves posted
    // messages out and is woken for hand-offs by their event instead.
    MSG quit;
    if (!handoffEvent || !PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
        return MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
    // The event may still be set by hand-offs that have run: cleared first, then the queue is
    // looked at, so that one queued in between sets it again and is not missed.
    ResetEvent(handoffEvent);
    if (PendingHandoffs() > 0) return true;
    const DWORD result = MsgWaitForMultipleObjectsEx(1, &handoffEvent, ms, QS_ALLINPUT & ~(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE),
                                                     MWMO_INPUTAVAILABLE);
    return result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1;
}

}  // namespace quor::platform
