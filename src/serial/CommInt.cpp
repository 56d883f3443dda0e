#include "serial/CommInt.h"

#include <system_error>
#include <utility>

#include "base/MainThread.h"
#include "serial/CommPlatform.h"

namespace quor {

namespace comm {
uint32_t DriverMask(TCommEventTypes Events) {
    uint32_t mask = 0;
    for (int type = evBreak; type <= evTxEmpty; ++type)
        if (Events & (1u << type)) mask |= EventBit[type];
    return mask;
}
}  // namespace comm

void RaiseCommError(const std::string& Message, int32_t Code) {
    throw ECommError(Message + " (Error: " + std::to_string(Code) + ") ", Code);
}

// ---- TCommEventChars

TCommEventChars::TCommEventChars(TCustomComm* Owner) : FOwner(Owner) {}

void TCommEventChars::SetEventChar(int Index, char Value) {
    switch (Index) {
    case 1: FXonChar = Value; break;
    case 2: FXoffChar = Value; break;
    case 3: FErrorChar = Value; break;
    case 4: FEofChar = Value; break;
    case 5: FEvtChar = Value; break;
    default: return;
    }
    if (FOwner) FOwner->ApplyDCB();
}

void TCommEventChars::Assign(const TCommEventChars& Source) {
    FXonChar = Source.FXonChar;
    FXoffChar = Source.FXoffChar;
    FErrorChar = Source.FErrorChar;
    FEofChar = Source.FEofChar;
    FEvtChar = Source.FEvtChar;
}

// ---- TCustomComm: life

TCustomComm::TCustomComm()
    : FEvent(nullptr), FCriticalSection(nullptr), FEventChars(std::make_unique<TCommEventChars>(this)) {
    FEvent = std::make_unique<TSimpleEvent>();
    FCriticalSection = std::make_unique<TCriticalSection>();
}

TCustomComm::~TCustomComm() {
    try {
        Close();
    } catch (...) {
        // Closing cannot fail in a way worth reporting from a destructor.
    }
}

void TCustomComm::CheckClosed() {
    if (Enabled()) RaiseCommError("Port already assigned (open)", -1);
}

// A port that failed to open is closed again, whatever step failed: left open, it would
// keep the device locked against every later attempt, this program's included.
void TCustomComm::Open() {
    CheckClosed();
    BindMainThread();
    FWithoutModemLines = false;
    try {
        OpenAndWatch();
    } catch (...) {
        Close();
        throw;
    }
}

void TCustomComm::OpenAndWatch() {
    // The transfers' completion event is made with the component; should the system have
    // refused it then, it is asked once more now, and a refusal is reported: without it no
    // transfer could be waited for.
    if (FEvent->Handle() == kNoEventHandle) {
        FEvent = std::make_unique<TSimpleEvent>();
        if (FEvent->Handle() == kNoEventHandle) {
            RaiseCommError("Error creating the port's transfer event: the system is out of handles; close other "
                           "programs or ports, then connect again",
                           LastSystemError());
        }
    }
    OpenDevice();
    if (!Enabled()) return;
    FEventThread = TCommEventThread::Create(FHandle.Get(), FMonitorEvents, FPortEvents);
    FEventThread->SetOnSignal([this](TCommEventThread* Sender, uint32_t Status) { DispatchEvents(Sender, Status); });
    ApplyTimeouts();
    ApplyDCB();
    int32_t error = 0;
    if (!platform::SetupBuffers(FHandle.Get(), FReadBufSize, FWriteBufSize, error))
        RaiseCommError("Error initializing Read/Write Buffers", error);
}

void TCustomComm::OpenDevice() {
    int32_t error = 0;
    FHandle.Reset(platform::OpenComm(FDeviceName, error));
    if (!Enabled()) RaiseCommError(platform::OpenFailureText(FDeviceName, error), error);
    if (!platform::IsCommDevice(FHandle.Get())) {
        int32_t error = -1;
        const std::string text = platform::NotCommDeviceText(FHandle.Get(), FDeviceName, error);
        CloseDevice();
        RaiseCommError(text, error);
    }
}

void TCustomComm::CloseDevice() { FHandle.Reset(); }

void TCommHandleTraits::Close(THandle handle) { platform::CloseComm(handle); }

void TCustomComm::Close() {
    if (!Enabled()) return;
    if (FEventThread) {
        FEventThread->Stop();
        FEventThread.reset();
    }
    CloseDevice();
}

// ---- settings

void TCustomComm::ApplyTimeouts() {
    int32_t error = 0;
    if (!platform::SetPollingTimeouts(FHandle.Get(), error)) RaiseCommError("Error updating CommTimeouts", error);
}

void TCustomComm::ApplyDCB() {
    static constexpr uint32_t kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                          19200, 38400, 56000, 57600, 115200, 128000, 256000};
    if (!Enabled()) return;
    platform::GetCommDCB(FHandle.Get(), FDCB);
    FDCB.BaudRate = kRates[FBaudRate];
    FDCB.Parity = FParity;
    FDCB.StopBits = FStopbits;
    FDCB.ByteSize = static_cast<uint8_t>(FDatabits + 4);
    FDCB.XonChar = FEventChars->XonChar();
    FDCB.XoffChar = FEventChars->XoffChar();
    FDCB.ErrorChar = FEventChars->ErrorChar();
    FDCB.EofChar = FEventChars->EofChar();
    FDCB.EvtChar = FEventChars->EvtChar();
    FDCB.XonLim = static_cast<uint16_t>(FReadBufSize / 4);
    FDCB.XoffLim = static_cast<uint16_t>(FReadBufSize / 4);
    ApplyFlowControl();
    static constexpr uint32_t kOptionFlags[] = {comm::DcbParity, comm::DcbDsrSensitivity, comm::DcbTXContinueOnXoff,
                                                comm::DcbErrorChar, comm::DcbNull};
    for (int option = coParityCheck; option <= coNullStrip; ++option) {
        if (FOptions & (1u << option))
            FDCB.Flags |= kOptionFlags[option];
        else
            FDCB.Flags &= ~kOptionFlags[option];
    }
    int32_t error = 0;
    if (!platform::SetCommDCB(FHandle.Get(), FDCB, error)) RaiseCommError("Error updating DataControlBlock", error);
}

void TCustomComm::ApplyFlowControl() {
    switch (FFlowControl) {
    case fcNone: FDCB.Flags = comm::DcbBinary; break;
    case fcCTS: FDCB.Flags |= comm::DcbOutxCtsFlow | comm::DcbRtsControlHandshake; break;
    case fcDTR: FDCB.Flags |= comm::DcbOutxDsrFlow | comm::DcbDtrControlHandshake; break;
    case fcSoftware: FDCB.Flags |= comm::DcbOutX | comm::DcbInX; break;
    case fcDefault: break;
    }
}

void TCustomComm::SetDeviceName(const std::string& Value) {
    if (Value == FDeviceName) return;
    CheckClosed();
    FDeviceName = Value;
}

void TCustomComm::SetReadBufSize(int32_t Value) {
    if (Value == FReadBufSize) return;
    CheckClosed();
    FReadBufSize = Value;
}

void TCustomComm::SetWriteBufSize(int32_t Value) {
    if (Value == FWriteBufSize) return;
    CheckClosed();
    FWriteBufSize = Value;
}

void TCustomComm::SetMonitorEvents(TCommEventTypes Value) {
    if (Value == FMonitorEvents) return;
    CheckClosed();
    FMonitorEvents = Value;
}

#define QUOR_LINE_SETTER(Name, Type, Field) \
    void TCustomComm::Set##Name(Type Value) { \
        if (Value == Field) return;           \
        Field = Value;                        \
        ApplyDCB();                           \
    }
QUOR_LINE_SETTER(BaudRate, TBaudrate, FBaudRate)
QUOR_LINE_SETTER(Parity, TParity, FParity)
QUOR_LINE_SETTER(Stopbits, TStopbits, FStopbits)
QUOR_LINE_SETTER(Databits, TDatabits, FDatabits)
QUOR_LINE_SETTER(Options, TCommOptions, FOptions)
QUOR_LINE_SETTER(FlowControl, TFlowControl, FFlowControl)
#undef QUOR_LINE_SETTER

// ---- transfers

int32_t TCustomComm::Transfer(bool Writing, void* Buf, int32_t Count, const char* FailureMessage) {
    std::lock_guard<TCriticalSection> held(*FCriticalSection);
    // A negative count would be taken by the system as a huge buffer.
    if (Count < 0) RaiseCommError(FailureMessage, platform::kInvalidParameterError);
    const uint32_t timeout = static_cast<uint32_t>(Writing ? FWriteTimeout : FReadTimeout);
    int32_t error = 0;
    int32_t movedBefore = 0;
    const int32_t result = platform::Transfer(FHandle.Get(), *FEvent, Writing, Buf, Count, timeout, error, movedBefore);
    if (result == platform::kTransferFailed) RaiseCommError(FailureMessage, error);
    if (Writing) FTimedOutWriteMoved = result == -1 ? movedBefore : 0;
    if (result > 0 && FEventThread) {
        // Watching the output queue drain costs the thread a wake-up per write: done only
        // for a handler that listens.
        if (Writing && FOnTxEmpty)
            FEventThread->OutputQueued();
        else if (!Writing)
            FEventThread->InputTaken();
    }
    return result;
}

int32_t TCustomComm::Write(const void* Buf, int32_t Count) {
    return Transfer(true, const_cast<void*>(Buf), Count, "Write error");
}

int32_t TCustomComm::Read(void* Buf, int32_t Count) {
    return Transfer(false, Buf, Count, "Read error");
}

// ---- queues and lines

int32_t TCustomComm::InQueCount() {
    if (!Enabled()) return -1;
    return static_cast<int32_t>(platform::InputQueued(FHandle.Get(), FLineErrors));
}

int32_t TCustomComm::OutQueCount() {
    if (!Enabled()) return -1;
    return static_cast<int32_t>(LineStatus().OutQue);
}

bool TCustomComm::HoldBit(int Bit) {
    if (!Enabled()) return false;
    return (LineStatus().Hold >> Bit) & 1;
}

platform::TComStat TCustomComm::LineStatus() {
    platform::TComStat stat;
    platform::ClearErrors(FHandle.Get(), stat);
    FLineErrors |= stat.Errors;
    return stat;
}

bool TCustomComm::DeviceGone() { return Enabled() && platform::DeviceGone(FHandle.Get()); }

void TCustomComm::SetCallerReadsInput(bool Value) {
    if (FEventThread && platform::InputDescriptor(FHandle.Get()) >= 0) FEventThread->SetCallerReadsInput(Value);
}

bool TCustomComm::WaitForInputOrMessages(std::chrono::milliseconds timeout) {
    return FPortEvents->Wait(timeout, Enabled() ? platform::InputDescriptor(FHandle.Get()) : -1);
}

bool TCustomComm::WaitForEvents(std::chrono::milliseconds timeout) { return FPortEvents->Wait(timeout, -1); }

void TCustomComm::ProcessEvents() { FPortEvents->RunPending(); }

void TCustomComm::PurgeIn() {
    if (!Enabled()) return;
    int32_t error = 0;
    const bool purged = platform::Purge(FHandle.Get(), comm::PurgeRxAbort | comm::PurgeRxClear, error);
    if (FEventThread) FEventThread->InputTaken();
    if (!purged) RaiseCommError("Error discarding the port's input", error);
}

void TCustomComm::PurgeOut() {
    int32_t error = 0;
    if (Enabled() && !platform::Purge(FHandle.Get(), comm::PurgeTxAbort | comm::PurgeTxClear, error)) {
        RaiseCommError("Error discarding the port's output", error);
    }
}

void TCustomComm::EscapeLine(uint32_t Function) {
    if (!Enabled()) RaiseCommError("Port not open, unable to complete operation", -1);
    int32_t error = 0;
    if (platform::Escape(FHandle.Get(), Function, error)) return;
    // A driver without modem lines (a pseudo-terminal under Wine, some virtual null-modem
    // ports) refuses to set DTR and RTS, yet carries data as well as any: the port is used
    // without them. Every other refusal stays an error.
    const bool modemLine = Function == comm::SetDtr || Function == comm::ClrDtr || Function == comm::SetRts ||
                           Function == comm::ClrRts;
    if (modemLine && error == platform::kNoModemLinesError) {
        FWithoutModemLines = true;
        return;
    }
    RaiseCommError("EscapeCommFunction failure", error);
}

void TCustomComm::SetDTRState(bool State) { EscapeLine(State ? comm::SetDtr : comm::ClrDtr); }
void TCustomComm::SetRTSState(bool State) { EscapeLine(State ? comm::SetRts : comm::ClrRts); }
void TCustomComm::SetXONState(bool State) { EscapeLine(State ? comm::SetXon : comm::SetXoff); }

void TCustomComm::SetBREAKState(bool State) {
    EscapeLine(State ? comm::SetBreak : comm::ClrBreak);
    if (!Enabled()) return;
    int32_t ignored = 0;  // the break has gone out whatever the queues held
    platform::Purge(FHandle.Get(), comm::PurgeTxAbort | comm::PurgeRxAbort | comm::PurgeTxClear | comm::PurgeRxClear,
                    ignored);
    if (FEventThread) FEventThread->InputTaken();
}

bool TCustomComm::ModemStatusBit(uint32_t Bit) {
    uint32_t status = 0;
    return Enabled() && platform::ModemStatus(FHandle.Get(), status) && (status & Bit) != 0;
}

// ---- events

void TCustomComm::DispatchEvents(TCommEventThread*, uint32_t Status) {
    const platform::TComStat stat = LineStatus();
    // The errors of this event, and those that a query collected since the last one.
    const uint32_t errors = (Status & comm::EvErr) ? std::exchange(FLineErrors, 0u) : 0u;
    const std::weak_ptr<char> alive = FLifeToken;
    // Each event is handled only while the component is still there.
    auto wants = [&](uint32_t bit) { return (Status & bit) && !alive.expired(); };
    auto notify = [&](uint32_t bit, const TNotifyEvent& handler) {
        if (wants(bit) && handler) handler(this);
    };
    notify(comm::EvBreak, FOnBreak);
    notify(comm::EvCts, FOnCts);
    notify(comm::EvDsr, FOnDsr);
    if (wants(comm::EvErr) && FOnError) FOnError(this, static_cast<int32_t>(errors));
    notify(comm::EvRing, FOnRing);
    notify(comm::EvRlsd, FOnRlsd);
    if (wants(comm::EvRxChar) && FOnRxChar && stat.InQue > 0) FOnRxChar(this, static_cast<int32_t>(stat.InQue));
    notify(comm::EvRxFlag, FOnRxFlag);
    notify(comm::EvTxEmpty, FOnTxEmpty);
}

// ---- TCommEventThread: the portable half; Execute, Stop's device part and the watch
// state are the platform's (CommInt_win32.cpp, CommInt_posix.cpp).

std::shared_ptr<TCommEventThread> TCommEventThread::Create(THandle Handle, TCommEventTypes Events,
                                                           std::shared_ptr<TPortEvents> Target) {
    std::shared_ptr<TCommEventThread> thread(new TCommEventThread(Handle, Events));
    thread->FTarget = std::move(Target);
    // The event is both the thread's wait and Stop's way to end it: a thread started
    // without one could never be stopped, and closing the port would wait for it forever.
    if (thread->FEventError != 0 || thread->FEvent.Handle() == kNoEventHandle) {
        RaiseCommError("Error creating the port's event watch: the system is out of handles; close other "
                       "programs or ports, then connect again",
                       thread->FEventError != 0 ? thread->FEventError : -1);
    }
    try {
        thread->Start();
    } catch (const std::system_error& e) {
        RaiseCommError("Error starting the port's event thread: the system has no room for another thread; close "
                       "other programs, then connect again",
                       e.code().value());
    }
    return thread;
}

void TCommEventThread::NotifyOwner() {
    // A mask that waited in the queue while the port was closed (or destroyed) is dropped.
    if (FStopRequested.load()) return;
    if (FOnSignal) FOnSignal(this, FEventMask);
}

// What was written last (a trigger just before a disconnect) is left to go out: the link
// drains the port before closing it, so output still queued now is output that the line did
// not take in time, and only that is discarded, so that closing never waits on it. (A
// pseudo-terminal reports none queued: its bytes wait for the reader on the other side, and
// discarding them there would lose them.)
void TCommEventThread::PurgeOnStop() {
    platform::TComStat stat;
    platform::ClearErrors(FCommHandle, stat);
    uint32_t flags = comm::PurgeRxAbort | comm::PurgeRxClear;
    if (stat.OutQue > 0) flags |= comm::PurgeTxAbort | comm::PurgeTxClear;
    int32_t ignored = 0;  // the port is closing: nothing is left to report to
    platform::Purge(FCommHandle, flags, ignored);
}

bool TCommEventThread::Notify() {
    return FTarget->Post([this] { NotifyOwner(); }, [this] { return FStopRequested.load(); });
}

}  // namespace quor
