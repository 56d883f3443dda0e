// The main thread's message queue.
//
// All library code runs on one thread: the client's thread that created the objects (the
// "main thread"). Worker threads (the serial event threads) hand work to it synchronously:
// the work runs on the main thread, in order, only while the main thread processes its
// messages, and the worker waits until it has run. On Win32 the queue is the thread's own
// message queue (a message-only window receives the hand-offs, so window messages and
// hand-offs are processed by the same pump); on POSIX it is a queue with a wake-up descriptor.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace quor {

class THandoffQueue;

// Makes the calling thread the main thread when no main thread is set yet (done implicitly
// by the first ProcessMessages or WaitForMessages call, and by opening a serial port).
void BindMainThread();
bool IsMainThread();
// True when a main thread is set and the calling thread is another one.
bool IsAnotherThreadThanMain();

// Runs every pending hand-off (and, on Win32, dispatches every pending window message of
// the thread). Must be called on the main thread.
void ProcessMessages();

// Blocks the main thread until a message or hand-off is pending or `timeout` has passed,
// without running anything; returns true when something is pending. Never spins.
bool WaitForMessages(std::chrono::milliseconds timeout);
// The same, and also returns when `descriptor` has input or has hung up: a POSIX file
// descriptor, so that a thread waiting for a device's reply reads it without waiting for a
// worker to relay its arrival. -1, and every descriptor on Windows, waits for messages only.
bool WaitForMessagesOrInput(std::chrono::milliseconds timeout, int descriptor);

// From any thread but the main one: queues `work` for the main thread, wakes it, and
// blocks until the main thread has run it. An exception thrown by `work` is carried back
// and rethrown here. Returns false without running `work` when `cancelled` becomes true
// while the work still waits to be picked up; whoever makes it true then calls
// WakeHandoffWaiters so that the waiting worker looks again. Work that has started is
// always waited for. Called on the main thread itself, `work` simply runs.
bool RunOnMainThread(const std::function<void()>& work, const std::function<bool()>& cancelled = {});

// Makes every worker blocked in RunOnMainThread test its `cancelled` condition again.
void WakeHandoffWaiters();

// Number of hand-offs queued and not yet picked up by the main thread.
int PendingHandoffs();

// Natively each serial port hands its events to a queue of its own, which the thread that
// runs the port's operation serves. ProcessMessages, the waits and PendingHandoffs here serve
// those queues as well (while they exist), for programs that do everything on one thread;
// a program that uses ports from several threads serves each through its port instead.
void AlsoServeOnMainThread(const std::shared_ptr<THandoffQueue>& queue);
// Main thread: runs the hand-offs queued for the main thread itself (not those of the queues
// it also serves). Natively a port's user runs them while it waits, when it is the main thread.
void RunMainThreadHandoffs();
// Any thread: makes a wait of the main thread return (a queue it also serves has work).
void WakeMainThread();

}  // namespace quor
