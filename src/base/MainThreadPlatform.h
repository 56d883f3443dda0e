// Platform half of MainThread: how the main thread is woken and how it waits.
#pragma once

#include <chrono>

namespace quor::platform {

// On the main thread, once: creates the wake-up channel.
void CreateMainThreadWakeup();
// Any thread: makes the main thread's WaitMainThread return and its pump run hand-offs.
void WakeMainThread();
// Main thread: clears the wake-up and dispatches pending system messages. The system's
// dispatch may run hand-offs itself (Win32 window procedure) through RunPendingHandoffs.
void PumpMainThread();
// Main thread: waits until woken, a system message is pending, `descriptor` (a POSIX file
// descriptor; -1 for none, and always none on Windows) has input or has hung up, or the
// timeout passes. `descriptorReady` tells whether the descriptor ended the wait.
bool WaitMainThread(std::chrono::milliseconds timeout, int descriptor, bool& descriptorReady);
// Main thread, after WaitMainThread returned true with no hand-off queued: true when what
// woke it is something to process all the same (a window message); otherwise the wake-up
// was stale (its hand-off has run already) and is cleared.
bool KeepWakeup();

}  // namespace quor::platform

namespace quor {
// Runs the queued hand-offs in order (main thread only).
void RunPendingHandoffs();
}  // namespace quor
