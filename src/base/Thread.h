// A thread whose body is Execute, in the shape the serial event thread needs: it starts as
// soon as it is constructed and started, it frees itself when its body ends (the running
// thread holds a reference to its own object; others may hold theirs as long as they like),
// and it can run work on the main thread and wait for it (Synchronize).
#pragma once

#include <atomic>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>

namespace quor {

enum TThreadPriority : uint8_t { tpNormal, tpHigher };

class TThread : public std::enable_shared_from_this<TThread> {
public:
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    virtual ~TThread();

    // Requests the end; the body sees it through Terminated.
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    // True once the body has returned (or was skipped).
    bool Finished() const { return FFinished.load(); }

    // Threads of this class whose body has not yet ended, process-wide; and a wait until
    // there are none (false when `timeout` passed first).
    static int LiveThreads();
    static bool WaitUntilNoLiveThreads(std::chrono::milliseconds timeout);

protected:
    explicit TThread(TThreadPriority priority = tpNormal) : FPriority(priority) {}
    // Launches the thread; raises std::system_error when the system cannot make one. When
    // Terminate was called before the thread first runs, the body does not run at all.
    void Start();
    virtual void Execute() = 0;
    // Runs `work` on the main thread and waits until it has run; an exception of `work`
    // is rethrown here. False when `cancelled` became true before the work was picked up.
    bool Synchronize(const std::function<void()>& work, const std::function<bool()>& cancelled = {});

private:
    static void Run(std::shared_ptr<TThread> self);
    TThreadPriority FPriority;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
};

}  // namespace quor
