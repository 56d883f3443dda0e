// CommInt: a serial port component over the operating system's communications interface,
// and the thread that watches an open port for line events.
//
// TCustomComm opens one serial device by name for overlapped input and output, applies the
// line settings held in its properties, writes and reads with bounded waits, reports the
// driver's queue counts, drives the modem lines and forwards the driver's line events to
// handlers. Every operation and every handler runs on the main thread (base/MainThread.h);
// the event thread only watches the device and hands what it saw to the main thread.
//
// The line settings are kept in the Win32 device control block layout (TCommDCB) on every
// system, so the same bits mean the same thing everywhere; the POSIX backend translates it
// to termios. Error codes are the system's: GetLastError() on Windows, errno on POSIX (for
// example an invalid handle is 6 on Windows and EBADF, 9, on POSIX; a missing device is 2
// on both; a device that another program holds is 5, access denied, on Windows and EBUSY,
// 16, on POSIX).
//
// Errors, in this component: a failure raises ECommError with its message and the system's
// code. The exceptions, which callers rely on: Read and Write give -1 when their wait ran
// out of time (the write time-out the link reports), the queue counts give -1 while closed,
// the modem-line and hold properties read false while closed, and purging a closed port
// does nothing (a purge the driver refuses raises, since what it held may still go out). Queries ask the driver and change nothing, except that asking for the queue
// counts also collects the driver's pending line-error mask, as the system's call does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/Exceptions.h"
#include "base/Thread.h"
#include "base/UniqueHandle.h"
#include "serial/CommObjs.h"

namespace quor {

enum TBaudrate : uint8_t { br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
                           br56000, br57600, br115200, br128000, br256000 };
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : uint8_t { sb10, sb15, sb20 };
enum TDatabits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : uint8_t { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType : uint8_t { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };
using TCommOptions = uint8_t;      // bit n = TCommOption n
using TCommEventTypes = uint16_t;  // bit n = TCommEventType n
constexpr TCommEventTypes kAllCommEvents = 0x1FF;

// The driver's numbers, as the Win32 communications interface defines them.
namespace comm {
// Event mask bits (SetCommMask, WaitCommEvent).
constexpr uint32_t EvRxChar = 0x0001, EvRxFlag = 0x0002, EvTxEmpty = 0x0004, EvCts = 0x0008, EvDsr = 0x0010,
                   EvRlsd = 0x0020, EvBreak = 0x0040, EvErr = 0x0080, EvRing = 0x0100;
// Error word bits (ClearCommError).
constexpr uint32_t CeRxOver = 0x0001, CeOverrun = 0x0002, CeRxParity = 0x0004, CeFrame = 0x0008, CeBreak = 0x0010;
// PurgeComm flags.
constexpr uint32_t PurgeTxAbort = 0x1, PurgeRxAbort = 0x2, PurgeTxClear = 0x4, PurgeRxClear = 0x8;
// EscapeCommFunction functions.
constexpr uint32_t SetXoff = 1, SetXon = 2, SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6, SetBreak = 8, ClrBreak = 9;
// GetCommModemStatus bits.
constexpr uint32_t MsCtsOn = 0x10, MsDsrOn = 0x20, MsRingOn = 0x40, MsRlsdOn = 0x80;
// The DCB flag word.
constexpr uint32_t DcbBinary = 0x1, DcbParity = 0x2, DcbOutxCtsFlow = 0x4, DcbOutxDsrFlow = 0x8,
                   DcbDtrControlMask = 0x30, DcbDtrControlEnable = 0x10, DcbDtrControlHandshake = 0x20,
                   DcbDsrSensitivity = 0x40, DcbTXContinueOnXoff = 0x80, DcbOutX = 0x100, DcbInX = 0x200,
                   DcbErrorChar = 0x400, DcbNull = 0x800, DcbRtsControlMask = 0x3000, DcbRtsControlEnable = 0x1000,
                   DcbRtsControlHandshake = 0x2000, DcbRtsControlToggle = 0x3000, DcbAbortOnError = 0x4000;
// The event bit of each TCommEventType.
constexpr uint32_t EventBit[9] = {EvBreak, EvCts, EvDsr, EvErr, EvRing, EvRlsd, EvRxChar, EvRxFlag, EvTxEmpty};
// The driver mask for a set of event types.
uint32_t DriverMask(TCommEventTypes Events);
}  // namespace comm

// The device control block: the Win32 DCB's members, the flag word as one number.
struct TCommDCB {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

class TCustomComm;
class TCommEventThread;

// Where a port's event thread hands the events it saw, and how the thread that handles them
// waits. On Windows that is the main thread's queue: the apartment's thread handles every
// event, also while the host waits in its own message loop. Natively each port has a queue
// of its own, served by whichever thread runs an operation of the port, so that ports used
// from different threads never touch each other's state.
class TPortEvents {
public:
    virtual ~TPortEvents() = default;
    // Event thread: hands `work` over and waits until it has run; false when `cancelled`
    // became true before it was picked up (see THandoffQueue::Post).
    virtual bool Post(const std::function<void()>& work, const std::function<bool()>& cancelled) = 0;
    virtual void WakeWaiters() = 0;
    // Serving thread: runs what was handed over (and, on Windows, the thread's messages).
    virtual void RunPending() = 0;
    // Serving thread: waits until something was handed over, `descriptor` (POSIX; -1 for
    // none) has input or has hung up, or `timeout` passes; true unless it timed out.
    virtual bool Wait(std::chrono::milliseconds timeout, int descriptor) = 0;
    // The platform's kind: the main thread's queue, or one of the port's own.
    static std::shared_ptr<TPortEvents> Create();
};
using TNotifyEvent = std::function<void(TCustomComm* Sender)>;
using TCommRxCharEvent = std::function<void(TCustomComm* Sender, int32_t Count)>;
using TCommErrorEvent = std::function<void(TCustomComm* Sender, int32_t Errors)>;
using TCommEvent = std::function<void(TCommEventThread* Sender, uint32_t Status)>;

class ECommError : public Exception {
public:
    ECommError(const std::string& message, int32_t code) : Exception(message, TFailureKind::Port), ErrorCode(code) {}
    int32_t ErrorCode;
    int32_t SystemErrorCode() const override { return ErrorCode > 0 ? ErrorCode : 0; }
};
// Raises ECommError: Message + " (Error: <Code>) ", ErrorCode = Code.
[[noreturn]] void RaiseCommError(const std::string& Message, int32_t Code);
// The system's code for a transfer that did not finish within its time-out (ERROR_TIMEOUT,
// 1460, on Windows; ETIMEDOUT on POSIX), for callers that treat a short transfer as an error.
extern const int32_t kCommTimeoutError;

// The five special characters of the line. Writing one re-applies the owner's line
// settings (which does nothing while the owner's port is closed).
class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm* Owner);
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    char ErrorChar() const { return FErrorChar; }
    char EofChar() const { return FEofChar; }
    char EvtChar() const { return FEvtChar; }
    void SetXonChar(char Value) { SetEventChar(1, Value); }
    void SetXoffChar(char Value) { SetEventChar(2, Value); }
    void SetErrorChar(char Value) { SetEventChar(3, Value); }
    void SetEofChar(char Value) { SetEventChar(4, Value); }
    void SetEvtChar(char Value) { SetEventChar(5, Value); }
    // Copies the five characters; applies nothing.
    void Assign(const TCommEventChars& Source);

private:
    void SetEventChar(int Index, char Value);
    TCustomComm* FOwner;
    char FXonChar = 17;
    char FXoffChar = 19;
    char FErrorChar = 0;
    char FEofChar = 0;
    char FEvtChar = 0;
};

namespace platform {
struct TComStat;
}

// The open port's handle, closed by the platform's CloseComm.
struct TCommHandleTraits {
    using Handle = THandle;
    static THandle Invalid() { return kInvalidHandle; }
    static void Close(THandle handle);
};

class TCustomComm {
public:
    TCustomComm();
    TCustomComm(const TCustomComm&) = delete;
    TCustomComm& operator=(const TCustomComm&) = delete;
    virtual ~TCustomComm();

    void Open();
    void Close();
    bool Enabled() const { return FHandle.Valid(); }
    // Bytes written or read, or -1 when the transfer did not complete within WriteTimeout
    // or ReadTimeout: what is still pending is then cancelled before the call returns, but
    // bytes the driver had already taken are not called back (TimedOutWriteMoved). A write
    // completes once the line has carried it (POSIX: the terminal's output queue is empty;
    // Windows: the driver completed it). A read returns what the driver holds at once,
    // possibly nothing.
    int32_t Write(const void* Buf, int32_t Count);
    int32_t Read(void* Buf, int32_t Count);
    // The bytes that the last Write which ran out of time had handed to the driver before
    // it did (0 when none): they cannot be called back and may reach the far end.
    int32_t TimedOutWriteMoved() const { return FTimedOutWriteMoved; }
    // Bytes in the driver's queues; -1 while closed, 0 when the driver cannot say (a device
    // that has gone).
    int32_t InQueCount();
    int32_t OutQueCount();
    void PurgeIn();
    void PurgeOut();
    void SetDTRState(bool State);
    void SetRTSState(bool State);
    void SetBREAKState(bool State);
    void SetXONState(bool State);
    // Whether the open port's driver has no modem lines: setting DTR or RTS was refused as
    // not supported (a pseudo-terminal under Wine, some virtual null-modem ports), and the
    // port is used without them.
    bool WithoutModemLines() const { return FWithoutModemLines; }

    // Modem lines; false while closed or when the driver cannot report them.
    bool CTS() { return ModemStatusBit(comm::MsCtsOn); }
    bool DSR() { return ModemStatusBit(comm::MsDsrOn); }
    bool RING() { return ModemStatusBit(comm::MsRingOn); }
    bool RLSD() { return ModemStatusBit(comm::MsRlsdOn); }
    // Transmission holds; false while closed or when the driver cannot report them.
    bool CtsHold() { return HoldBit(0); }
    bool DsrHold() { return HoldBit(1); }
    bool RlsdHold() { return HoldBit(2); }
    bool XoffHold() { return HoldBit(3); }
    bool XOffSent() { return HoldBit(4); }
    // Whether the open port's device has gone (a pulled USB adapter, a hung-up line);
    // false while closed.
    bool DeviceGone();
    // The thread that uses the port: waits until input is waiting (or the device has gone),
    // an event was handed over, or the timeout passes. Where the system lets the thread
    // watch the device itself, input ends the wait at once instead of after the hand-off.
    bool WaitForInputOrMessages(std::chrono::milliseconds timeout);
    // The same without watching the device.
    bool WaitForEvents(std::chrono::milliseconds timeout);
    // Runs the handlers of the events the event thread handed over (see TPortEvents).
    void ProcessEvents();
    // While set, arrivals of input are not reported through OnRxChar where the caller can
    // watch the device itself (WaitForInputOrMessages); the caller then reads all input.
    void SetCallerReadsInput(bool Value);
    THandle Handle() const { return FHandle.Get(); }

    // Properties: X() reads, SetX(v) writes with the write rule of the property.
    const std::string& DeviceName() const { return FDeviceName; }  // UTF-8; "\\.\COM5" on Windows, "/dev/ttyACM0" on POSIX
    void SetDeviceName(const std::string& Value);
    int32_t ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int32_t Value) { FReadTimeout = Value; }
    int32_t WriteTimeout() const { return FWriteTimeout; }
    void SetWriteTimeout(int32_t Value) { FWriteTimeout = Value; }
    int32_t ReadBufSize() const { return FReadBufSize; }
    void SetReadBufSize(int32_t Value);
    int32_t WriteBufSize() const { return FWriteBufSize; }
    void SetWriteBufSize(int32_t Value);
    TCommEventTypes MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(TCommEventTypes Value);
    TBaudrate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudrate Value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity Value);
    TStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TStopbits Value);
    TDatabits Databits() const { return FDatabits; }
    void SetDatabits(TDatabits Value);
    TCommEventChars& EventChars() { return *FEventChars; }
    TCommOptions Options() const { return FOptions; }
    void SetOptions(TCommOptions Value);
    TFlowControl FlowControl() const { return FFlowControl; }
    void SetFlowControl(TFlowControl Value);

    void SetOnBreak(TNotifyEvent Handler) { FOnBreak = std::move(Handler); }
    void SetOnCts(TNotifyEvent Handler) { FOnCts = std::move(Handler); }
    void SetOnDsr(TNotifyEvent Handler) { FOnDsr = std::move(Handler); }
    void SetOnError(TCommErrorEvent Handler) { FOnError = std::move(Handler); }
    void SetOnRing(TNotifyEvent Handler) { FOnRing = std::move(Handler); }
    void SetOnRlsd(TNotifyEvent Handler) { FOnRlsd = std::move(Handler); }
    void SetOnRxChar(TCommRxCharEvent Handler) { FOnRxChar = std::move(Handler); }
    void SetOnRxFlag(TNotifyEvent Handler) { FOnRxFlag = std::move(Handler); }
    void SetOnTxEmpty(TNotifyEvent Handler) { FOnTxEmpty = std::move(Handler); }

protected:
    virtual void OpenDevice();
    void CloseDevice();
    void CheckClosed();
    void ApplyDCB();
    void ApplyFlowControl();
    void ApplyTimeouts();
    void EscapeLine(uint32_t Function);
    // Fires the handlers for one reported event mask, in a fixed order. A handler may end
    // up destroying the component (its owner let go of it meanwhile); the dispatch then
    // stops there.
    void DispatchEvents(TCommEventThread* Sender, uint32_t Status);

    TUniqueHandle<TCommHandleTraits> FHandle;
    TCommDCB FDCB;
    std::string FDeviceName = "Com2";
    std::unique_ptr<TSimpleEvent> FEvent;
    std::unique_ptr<TCriticalSection> FCriticalSection;
    int32_t FReadTimeout = 1000;
    int32_t FWriteTimeout = 1000;
    int32_t FReadBufSize = 4096;
    int32_t FWriteBufSize = 2048;
    TCommEventTypes FMonitorEvents = kAllCommEvents;
    TBaudrate FBaudRate = br9600;
    TParity FParity = paNone;
    TStopbits FStopbits = sb10;
    TDatabits FDatabits = da8;
    std::shared_ptr<TCommEventThread> FEventThread;
    std::shared_ptr<TPortEvents> FPortEvents = TPortEvents::Create();
    std::unique_ptr<TCommEventChars> FEventChars;
    TCommOptions FOptions = 0;
    TFlowControl FFlowControl = fcDefault;
    TNotifyEvent FOnBreak, FOnCts, FOnDsr;
    TCommErrorEvent FOnError;
    TNotifyEvent FOnRing, FOnRlsd;
    TCommRxCharEvent FOnRxChar;
    TNotifyEvent FOnRxFlag, FOnTxEmpty;

private:
    friend class TCommEventChars;
    // Expires with the component: what a dispatch watches to know it is still there.
    std::shared_ptr<char> FLifeToken = std::make_shared<char>();
    // Reading the line's status also resets the driver's error mask: errors collected by a
    // query are kept here for the next error event, so that its handler still sees them.
    uint32_t FLineErrors = 0;
    int32_t FTimedOutWriteMoved = 0;
    bool FWithoutModemLines = false;
    // Opens the device and starts watching it; Open closes the port again when this raises.
    void OpenAndWatch();
    platform::TComStat LineStatus();  // the driver's status, its errors kept
    int32_t Transfer(bool Writing, void* Buf, int32_t Count, const char* FailureMessage);
    bool ModemStatusBit(uint32_t Bit);
    bool HoldBit(int Bit);
};

// The component with every property published; it adds no behaviour.
class TComm : public TCustomComm {};

// Watches one opening of a port: tells the driver which events to report, waits for them,
// and hands each reported mask synchronously to the main thread, where OnSignal runs.
//
// Close does not wait for this thread to end (it may itself be blocked handing a mask to
// the main thread). Instead Stop, on the main thread, marks the thread stopped under the
// lock that the thread holds whenever it touches the device, and does the final purge
// itself while the handle is still open; after Stop the thread never touches the handle
// again, a mask queued for the main thread is dropped, and the thread ends on its own.
class TCommEventThread : public TThread {
public:
    // Raises ECommError when the thread's event or the thread itself cannot be made (the
    // process is out of handles or threads): a watch without them could not be stopped.
    static std::shared_ptr<TCommEventThread> Create(THandle Handle, TCommEventTypes Events,
                                                    std::shared_ptr<TPortEvents> Target);
    ~TCommEventThread() override;
    const TCommEvent& OnSignal() const { return FOnSignal; }
    void SetOnSignal(TCommEvent Handler) { FOnSignal = std::move(Handler); }
    // Main thread: wakes the thread and asks it to end; does not wait for it. Does nothing
    // to a thread that has already ended.
    void Stop();
    // The mask given to the driver.
    uint32_t DriverMask() const { return FDriverMask; }
    // Main thread, after a write: where the system does not report a drained output queue
    // by itself, the thread watches for it.
    void OutputQueued();
    // Main thread, after input was read or discarded: input that is still there or comes
    // next is news, also where the system only tells that input is waiting.
    void InputTaken();
    // Main thread: while set, the main thread watches the device for input itself and reads
    // it as it comes, so the thread does not hand arrivals over (a hand-off per arrival that
    // nobody needs). Only where the main thread can watch the device (POSIX).
    void SetCallerReadsInput(bool Value) { FCallerReadsInput.store(Value); }

protected:
    void Execute() override;

private:
    TCommEventThread(THandle Handle, TCommEventTypes Events);
    std::shared_ptr<TPortEvents> FTarget;  // where the masks go
    void NotifyOwner();
    // Stop's last step while the body runs: drops the input, and the output that the line
    // has not taken.
    void PurgeOnStop();
    // Hands FEventMask to the main thread; false when the thread was stopped meanwhile.
    bool Notify();
    struct Watch;  // the platform's state of the watch

    THandle FCommHandle;
    TSimpleEvent FEvent;
    int32_t FEventError;  // the system's code when FEvent could not be made, else 0
    uint32_t FEventMask = 0;
    TCommEvent FOnSignal;
    uint32_t FDriverMask;
    std::mutex FHandleLock;                   // held whenever the thread touches the device
    bool FStopped = false;                    // set by Stop under FHandleLock
    std::atomic<bool> FStopRequested{false};  // set by Stop before it takes the lock
    std::atomic<bool> FBodyStarted{false};
    std::atomic<bool> FCallerReadsInput{false};
    std::unique_ptr<Watch> FWatch;
};

}  // namespace quor
