// Ending the program from outside: Ctrl+C, SIGTERM, SIGHUP (POSIX) or the console's close
// and Ctrl+C events (Windows) call a handler on a thread of their own.
#pragma once

#include <functional>

namespace pulsyn_sim {

// Call first in main, before any thread is started (POSIX blocks the signals in every
// thread so that one thread can wait for them).
void PrepareStopSignals();
void WatchStopSignals(std::function<void()> on_stop);

}  // namespace pulsyn_sim
