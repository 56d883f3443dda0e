// The serial port over the Win32 communications interface.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstring>

#include "base/MainThread.h"
#include "base/WideText.h"
#include "serial/CommInt.h"
#include "serial/CommPlatform.h"

namespace quor {
const int32_t kCommTimeoutError = ERROR_TIMEOUT;
}

namespace quor::platform {

const int32_t kInvalidParameterError = ERROR_INVALID_PARAMETER;
const int32_t kNoModemLinesError = ERROR_NOT_SUPPORTED;

namespace {

HANDLE H(THandle handle) { return reinterpret_cast<HANDLE>(handle); }
int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

// The DCB's flag bits share one 32-bit word right after BaudRate.
static_assert(offsetof(DCB, BaudRate) == 4 && offsetof(DCB, wReserved) == 12, "DCB layout");
constexpr size_t kFlagsOffset = 8;

}  // namespace

std::string OpenFailureText(const std::string&, int32_t) { return "Error accessing specified device"; }

std::string NotCommDeviceText(THandle, const std::string&, int32_t& error) {
    error = -1;
    return "Invalid device handle, access denied";
}

THandle OpenComm(const std::string& name, int32_t& error) {
    HANDLE h = CreateFileW(ToWide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) error = LastError();
    return reinterpret_cast<THandle>(h);
}

bool IsCommDevice(THandle handle) { return GetFileType(H(handle)) == FILE_TYPE_CHAR; }

void CloseComm(THandle handle) { CloseHandle(H(handle)); }

bool SetPollingTimeouts(THandle handle, int32_t& error) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    if (SetCommTimeouts(H(handle), &t)) return true;
    error = LastError();
    return false;
}

void GetCommDCB(THandle handle, TCommDCB& dcb) {
    DCB d{};
    d.DCBlength = sizeof d;
    GetCommState(H(handle), &d);
    dcb.BaudRate = d.BaudRate;
    std::memcpy(&dcb.Flags, reinterpret_cast<const char*>(&d) + kFlagsOffset, sizeof dcb.Flags);
    dcb.XonLim = d.XonLim;
    dcb.XoffLim = d.XoffLim;
    dcb.ByteSize = d.ByteSize;
    dcb.Parity = d.Parity;
    dcb.StopBits = d.StopBits;
    dcb.XonChar = d.XonChar;
    dcb.XoffChar = d.XoffChar;
    dcb.ErrorChar = d.ErrorChar;
    dcb.EofChar = d.EofChar;
    dcb.EvtChar = d.EvtChar;
}

bool SetCommDCB(THandle handle, const TCommDCB& dcb, int32_t& error) {
    DCB d{};
    d.DCBlength = sizeof d;
    GetCommState(H(handle), &d);  // keeps the reserved members as the driver has them
    d.BaudRate = dcb.BaudRate;
    std::memcpy(reinterpret_cast<char*>(&d) + kFlagsOffset, &dcb.Flags, sizeof dcb.Flags);
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    if (SetCommState(H(handle), &d)) return true;
    error = LastError();
    return false;
}

bool SetupBuffers(THandle handle, int32_t readSize, int32_t writeSize, int32_t& error) {
    if (SetupComm(H(handle), static_cast<DWORD>(readSize), static_cast<DWORD>(writeSize))) return true;
    error = LastError();
    return false;
}

// Writes of every port so far: an arrival with no write since the one before it was not
// asked for (see the event thread's pacing of a device that streams).
std::atomic<uint64_t> writesIssued{0};

int32_t Transfer(THandle handle, TSimpleEvent& event, bool writing, void* buf, int32_t count, uint32_t timeout,
                 int32_t& error, int32_t& movedBefore) {
    movedBefore = 0;
    if (writing) ++writesIssued;
    OVERLAPPED ov{};
    ov.hEvent = H(event.Handle());
    DWORD n = 0;
    const BOOL ok = writing ? WriteFile(H(handle), buf, static_cast<DWORD>(count), &n, &ov)
                            : ReadFile(H(handle), buf, static_cast<DWORD>(count), &n, &ov);
    if (!ok && GetLastError() != ERROR_IO_PENDING) {
        error = LastError();
        return kTransferFailed;
    }
    if (event.WaitFor(timeout) != wrSignaled) {
        // The transfer must be over before `ov` and the caller's buffer go away, and before
        // the next transfer reuses the event: cancel it and wait for it to finish. A
        // transfer that completed after all is reported as such; one cancelled part-way
        // reports the bytes it had moved (a write's may have gone out).
        CancelIoEx(H(handle), &ov);
        const BOOL completed = GetOverlappedResult(H(handle), &ov, &n, TRUE);
        event.ResetEvent();
        if (completed) return static_cast<int32_t>(n);
        movedBefore = static_cast<int32_t>(n);
        return -1;
    }
    GetOverlappedResult(H(handle), &ov, &n, FALSE);
    event.ResetEvent();
    return static_cast<int32_t>(n);
}

bool ClearErrors(THandle handle, TComStat& stat) {
    stat = TComStat{};
    DWORD errors = 0;
    COMSTAT cs{};
    if (!ClearCommError(H(handle), &errors, &cs)) return false;
    stat.Errors = errors;
    stat.InQue = cs.cbInQue;
    stat.OutQue = cs.cbOutQue;
    stat.Hold = static_cast<uint8_t>(cs.fCtsHold | cs.fDsrHold << 1 | cs.fRlsdHold << 2 | cs.fXoffHold << 3 |
                                     cs.fXoffSent << 4);
    return true;
}

uint32_t InputQueued(THandle handle, uint32_t& lineErrors) {
    TComStat stat;
    ClearErrors(handle, stat);
    lineErrors |= stat.Errors;
    return stat.InQue;
}

bool Purge(THandle handle, uint32_t flags, int32_t& error) {
    if (PurgeComm(H(handle), flags)) return true;
    error = LastError();
    return false;
}

bool Escape(THandle handle, uint32_t function, int32_t& error) {
    if (EscapeCommFunction(H(handle), function)) return true;
    error = LastError();
    return false;
}

int InputDescriptor(THandle) { return -1; }

// A driver whose device was removed refuses every request on the handle, the status query
// among them (access denied, bad command, device not connected...).
bool DeviceGone(THandle handle) {
    TComStat stat;
    return !ClearErrors(handle, stat);
}

bool ModemStatus(THandle handle, uint32_t& status) {
    DWORD s = 0;
    if (!GetCommModemStatus(H(handle), &s)) return false;
    status = s;
    return true;
}

}  // namespace quor::platform

namespace quor {

struct TCommEventThread::Watch {
    OVERLAPPED ov{};
    bool pending = false;  // an event wait is under way in the driver (under FHandleLock)
    // The driver cannot wait for events (it has no modem lines): input is watched by
    // looking at the input queue instead.
    bool watchQueue = false;
    // The writes counted when the watch was made: a write after it drains a queue.
    uint64_t writesSeen = platform::writesIssued.load();
    // Set by the main thread whenever it has read input (auto-reset).
    HANDLE inputTaken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Watch() {
        if (inputTaken) CloseHandle(inputTaken);
    }
};

namespace {
// Pause before the event wait is issued again after the driver refused it (a USB adapter
// that was pulled out refuses every wait until the port is closed).
constexpr uint32_t kRetryPauseMs = 50;
// After an arrival was handed over, the next wait is issued once the main thread has read
// input, or after this long. Input that nobody has read yet would be reported again at once
// by a driver that reports queued input (Wine's does), over and over while a device streams:
// over a thousand hand-offs a second that change nothing.
constexpr DWORD kUnreadInputPauseMs = 10;
// A device that keeps sending without being asked (this many arrivals with no write in
// between) is read in larger pieces, at most about twenty times a second: every arrival
// handed over costs the main thread a read and a log entry, and the system a new wait.
// A command's answer comes in far fewer pieces, and a write ends the pacing.
constexpr int kUnaskedArrivalsBeforePacing = 8;
constexpr DWORD kStreamPauseMs = 50;
// How often the input queue is looked at on a port whose driver cannot wait for events: an
// arrival is handed over at most this late, and an idle port costs 100 cheap queries a second.
constexpr DWORD kQueueLookMs = 10;
// Wine's serial driver has no event wait of its own: each pending WaitCommEvent starts a
// thread that looks at the line every millisecond and ends with the wait. A thread started
// for every report costs memory that Wine does not all give back, and one that is still
// starting when the process exits takes the whole process down with a crash. Under Wine
// the library therefore looks at the queues itself, as often as Wine's thread would.
// (Wine reports no line errors through ClearCommError, nor to a wait on a pseudo-terminal.)
constexpr DWORD kWineQueueLookMs = 1;

bool RunsUnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// The events a driver would have reported on a port watched by its queues: input waiting,
// and an output queue drained since the last write seen (`writesSeen`, updated). False when
// the port cannot be queried (its device has gone). (The query also resets the line's error
// state: a line without modem lines has none to keep, and Wine reports none there.)
bool QueueEvents(HANDLE handle, uint32_t mask, uint64_t& writesSeen, uint32_t& events) {
    COMSTAT stat{};
    DWORD errors = 0;
    events = 0;
    if (!ClearCommError(handle, &errors, &stat)) return false;
    if ((mask & EV_RXCHAR) && stat.cbInQue > 0) events |= EV_RXCHAR;
    const uint64_t writes = platform::writesIssued.load();
    if ((mask & EV_TXEMPTY) && writes != writesSeen && stat.cbOutQue == 0) {
        events |= EV_TXEMPTY;
        writesSeen = writes;
    }
    return true;
}
}  // namespace

TCommEventThread::TCommEventThread(THandle Handle, TCommEventTypes Events)
    : TThread(tpHigher),
      FCommHandle(Handle),
      FEventError(FEvent.Handle() == kNoEventHandle ? LastSystemError() : 0),
      FDriverMask(comm::DriverMask(Events)),
      FWatch(std::make_unique<Watch>()) {
    SetCommMask(reinterpret_cast<HANDLE>(Handle), FDriverMask);
}

TCommEventThread::~TCommEventThread() = default;

// The driver reports a drained output queue and every arrival itself.
void TCommEventThread::OutputQueued() {}
void TCommEventThread::InputTaken() {
    if (FWatch->inputTaken) SetEvent(FWatch->inputTaken);
}

void TCommEventThread::Stop() {
    // Whether the body was still running when asked to end (it ends on its own only when a
    // handler raised): the thread leaves its loop as soon as it is woken, often before the
    // lock below is free, so it is asked now.
    const bool endedOnItsOwn = Finished();
    FStopRequested.store(true);
    Terminate();
    if (FTarget) FTarget->WakeWaiters();
    std::lock_guard<std::mutex> guard(FHandleLock);
    if (FStopped) return;
    FStopped = true;
    HANDLE h = reinterpret_cast<HANDLE>(FCommHandle);
    if (FWatch->pending) {
        // A new event mask ends a pending wait (so does cancelling it, on systems where
        // the wait is an ordinary I/O request). Its completion signals FEvent; the thread
        // must see the wait finished before it lets go of the record and the mask that the
        // driver writes into, so FEvent is not set by hand then. Should neither end it,
        // closing the handle right after does.
        SetCommMask(h, 0);
        CancelIoEx(h, &FWatch->ov);
    } else {
        FEvent.SetEvent();
    }
    if (FBodyStarted.load() && !endedOnItsOwn) PurgeOnStop();
}

void TCommEventThread::Execute() {
    FBodyStarted.store(true);
    // Without an event of its own the thread could not wait for the driver's report, nor
    // know when a wait it leaves behind has ended: then it watches nothing.
    if (FEvent.Handle() == kNoEventHandle) return;
    HANDLE h = reinterpret_cast<HANDLE>(FCommHandle);
    OVERLAPPED& ov = FWatch->ov;
    // A driver without modem lines (a pseudo-terminal under Wine) cannot report their state,
    // and its event waits fail, or end at once as cancelled, whatever the mask: its input
    // queue is watched instead.
    DWORD modemStatus = 0;
    if (!GetCommModemStatus(h, &modemStatus) && GetLastError() == ERROR_NOT_SUPPORTED) FWatch->watchQueue = true;
    const bool underWine = RunsUnderWine();
    if (underWine) FWatch->watchQueue = true;
    const DWORD queueLookMs = underWine ? kWineQueueLookMs : kQueueLookMs;
    uint64_t writesAtLastArrival = platform::writesIssued.load();
    int unaskedArrivals = 0;
    while (!Terminated()) {
        bool reported = false;
        bool failed = false;
        bool gone = false;
        bool pending = false;
        {
            std::lock_guard<std::mutex> guard(FHandleLock);
            if (FStopped) break;
            ov = OVERLAPPED{};
            ov.hEvent = reinterpret_cast<HANDLE>(FEvent.Handle());
            // The driver writes the mask when the wait completes, so it goes straight into
            // the member, which outlives any wait.
            static_assert(sizeof(DWORD) == sizeof FEventMask, "event mask size");
            if (FWatch->watchQueue) {
                uint32_t events = 0;
                gone = !QueueEvents(h, FDriverMask, FWatch->writesSeen, events);
                reported = events != 0;
                if (reported) FEventMask = events;
            } else if (WaitCommEvent(h, reinterpret_cast<DWORD*>(&FEventMask), &ov)) {
                reported = true;
            } else if (GetLastError() == ERROR_IO_PENDING) {
                pending = FWatch->pending = true;
            } else if (GetLastError() == ERROR_NOT_SUPPORTED) {
                FWatch->watchQueue = true;  // as for a driver without modem lines, above
                continue;
            } else {
                failed = true;
            }
            // A refused wait leaves the event as it was, possibly set by the last report;
            // the pause below must not end at once on that (a device that has gone refuses
            // every wait, and the thread would spin through thousands a second). Cleared
            // under the lock, so that Stop's signal, which comes after, still ends it.
            if (failed) {
                FEvent.ResetEvent();
                gone = platform::DeviceGone(FCommHandle);
            }
        }
        if (pending) {
            // Without time-out: the driver's report, or Stop's cancellation, ends it.
            const TEventWaitResult waited = FEvent.WaitFor(INFINITE_WAIT);
            std::lock_guard<std::mutex> guard(FHandleLock);
            if (waited != wrSignaled) break;  // not with a valid event; kept for clarity
            FWatch->pending = false;
            if (FStopped) break;
            DWORD n = 0;
            reported = GetOverlappedResult(h, &ov, &n, FALSE) != 0;
            failed = !reported;
            if (failed) {
                FEvent.ResetEvent();
                gone = platform::DeviceGone(FCommHandle);
            }
        }
        if (reported && !Terminated()) {
            const bool arrival = (FEventMask & EV_RXCHAR) != 0;
            if (arrival && FWatch->inputTaken) ResetEvent(FWatch->inputTaken);
            if (!Notify()) break;
            FEvent.ResetEvent();
            if (arrival && FWatch->inputTaken && !Terminated()) {
                // Stop sets FEvent and ends the pauses.
                const HANDLE wakers[2] = {FWatch->inputTaken, reinterpret_cast<HANDLE>(FEvent.Handle())};
                WaitForMultipleObjects(2, wakers, FALSE, kUnreadInputPauseMs);
                const uint64_t writes = platform::writesIssued.load();
                unaskedArrivals = writes == writesAtLastArrival ? unaskedArrivals + 1 : 0;
                writesAtLastArrival = writes;
                if (unaskedArrivals >= kUnaskedArrivalsBeforePacing && !Terminated()) {
                    FEvent.WaitFor(kStreamPauseMs);
                }
            }
        }
        if (gone) {
            // The device has gone for good: nothing to watch until Close (which sets FEvent).
            FEvent.WaitFor(INFINITE_WAIT);
        } else if (!reported && FWatch->watchQueue) {
            // A plain pause: Wine answers a wait on an event through its server, which would
            // cost more than the look itself, a thousand times a second. Stop is seen at the
            // next look.
            Sleep(queueLookMs);
        } else if (failed) {
            FEvent.WaitFor(kRetryPauseMs);  // Stop sets FEvent and ends the pause
        }
    }
}

}  // namespace quor

namespace quor {

namespace {
// The apartment's thread handles every event of every port, through its message queue.
class TMainThreadEvents : public TPortEvents {
public:
    bool Post(const std::function<void()>& work, const std::function<bool()>& cancelled) override {
        return RunOnMainThread(work, cancelled);
    }
    void WakeWaiters() override { WakeHandoffWaiters(); }
    void RunPending() override { ProcessMessages(); }
    bool Wait(std::chrono::milliseconds timeout, int) override { return WaitForMessages(timeout); }
};
}  // namespace

std::shared_ptr<TPortEvents> TPortEvents::Create() { return std::make_shared<TMainThreadEvents>(); }

}  // namespace quor
