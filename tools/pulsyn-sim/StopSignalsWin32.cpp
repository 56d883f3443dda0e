#include <windows.h>

#include "StopSignals.h"

namespace pulsyn_sim {

namespace {
std::function<void()>& Handler() {
    static std::function<void()> handler;
    return handler;
}
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (Handler()) Handler()();
    return TRUE;
}
}  // namespace

void PrepareStopSignals() {}

void WatchStopSignals(std::function<void()> on_stop) {
    Handler() = std::move(on_stop);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace pulsyn_sim
