#include "CommUnit.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "base/Deadline.h"
#include "base/HostInfo.h"
#include "base/MainThread.h"
#include "base/TextConvert.h"
#include "link/PortChoice.h"
#include "link/PortNames.h"

namespace quor {

namespace {

const std::string kPrompt = "=";
// A wait ends early when a message or serial event arrives; the cap only bounds the delay
// if a serial event were ever lost.
constexpr std::chrono::milliseconds kLongestQuietWait{50};

// The hooks below are set while no call runs (at start-up, by tests) but read by every
// thread that runs an operation: each is read and written under this lock.
std::mutex hooksLock;

std::function<void()>& PumpHook() {
    static std::function<void()> hook;
    return hook;
}

std::function<bool()>& InterruptCheck() {
    static std::function<bool()> check;
    return check;
}
// "15", "0.25": a time limit as messages give it, in seconds.
std::string SecondsText(std::chrono::milliseconds limit) {
    std::string text = std::to_string(limit.count() / 1000);
    if (const auto rest = limit.count() % 1000) {
        std::string fraction = IntToDec(static_cast<uint64_t>(rest), 3);
        while (fraction.back() == '0') fraction.pop_back();
        text += "." + fraction;
    }
    return text;
}

TfrmComm::TTrafficListener& TrafficListener() {
    static TfrmComm::TTrafficListener listener;
    return listener;
}

template <class Hook>
Hook Read(Hook& hook) {
    std::lock_guard<std::mutex> guard(hooksLock);
    return hook;
}

template <class Hook>
void Write(Hook& hook, Hook value) {
    std::lock_guard<std::mutex> guard(hooksLock);
    hook = std::move(value);
}

// Raises the failure being handled again, its message followed by `note` when there is one.
[[noreturn]] void RethrowNoting(const std::string& note) {
    if (note.empty()) throw;
    const auto noted = [&](const std::string& message) {
        return message + (!message.empty() && message.back() == ' ' ? "" : " ") + note;
    };
    try {
        throw;
    } catch (const ECommError& e) {
        throw ECommError(noted(e.what()), e.ErrorCode);
    } catch (const Exception& e) {
        throw Exception(noted(e.Message()), e.Kind());
    }
}

// Operations running on this thread's stack, of every link.
thread_local int operationsRunning = 0;
}  // namespace

bool TfrmComm::InterruptRequested() {
    const std::function<bool()> check = Read(InterruptCheck());
    return check && check();
}

TfrmComm::TExclusive::TExclusive(TfrmComm& link)
    : FLock(link.FUseLock, InterruptRequested,
            "Interrupted while waiting for another thread's call to the same stimulator to finish: nothing was sent."),
      FLink(link) {
    ++FLink.FOperationDepth;
}

TfrmComm::TExclusive::~TExclusive() {
    if (--FLink.FOperationDepth == 0 && std::exchange(FLink.FClosePending, false)) FLink.CloseNow();
}

// Counts a running operation and holds the link alive while it runs. Every operation that
// lets messages run (itself or through what it calls) makes one first thing, so that it is
// released last: a link let go meanwhile is destroyed on that release, and the operation
// touches nothing of it afterwards.
// It also holds the link for this thread: another thread's operation waits its turn.
class TfrmComm::TOperation {
public:
    explicit TOperation(TfrmComm& link) : FKeepAlive(link.weak_from_this().lock()), FExclusive(link) {
        ++operationsRunning;
    }
    ~TOperation() { --operationsRunning; }
    TOperation(const TOperation&) = delete;
    TOperation& operator=(const TOperation&) = delete;

private:
    std::shared_ptr<TfrmComm> FKeepAlive;  // empty for a link that is not shared-owned
    TExclusive FExclusive;                 // let go before the link may be destroyed
};

bool TfrmComm::AnyOperationRunning() { return operationsRunning > 0; }

std::chrono::milliseconds TfrmComm::DefaultReplyTimeout{15000};
std::chrono::milliseconds TfrmComm::DefaultReopenPause{500};
// A late reply comes in one piece at the line rate (a few milliseconds), long after the
// command; a second of silence is far longer than any gap inside one.
std::chrono::milliseconds TfrmComm::DefaultQuietTime{1000};

TfrmComm::TfrmComm() : FComm32(std::make_unique<TComm>()) {
    TComm& comm = *FComm32;
    comm.SetDeviceName("Com1");
    comm.SetBaudRate(br38400);
    comm.SetDatabits(da8);
    comm.SetParity(paNone);
    comm.SetStopbits(sb10);
    comm.SetFlowControl(fcNone);
    comm.SetOptions(0);
    comm.SetReadBufSize(8092);
    comm.SetWriteBufSize(4096);
    comm.SetReadTimeout(1000);
    comm.SetWriteTimeout(1000);
    comm.SetMonitorEvents(kAllCommEvents);
    comm.SetOnRxChar([this](TCustomComm* sender, int32_t count) { Comm32RxChar(sender, count); });
    comm.SetOnError([this](TCustomComm* sender, int32_t errors) { Comm32Error(sender, errors); });
    ConnectMonitor();
}

TfrmComm::~TfrmComm() {
    try {
        DrainOutput();
        FComm32->Close();
    } catch (...) {
        // Closing a port never needs to report: the handle is gone either way.
    }
}

void TfrmComm::ClosePort() noexcept {
    std::lock_guard<TReentrantMutex> guard(FUseLock);
    if (FOperationDepth > 0) {
        FClosePending = true;
        return;
    }
    CloseNow();
}

void TfrmComm::CloseNow() noexcept {
    try {
        DrainOutput();
        FComm32->Close();
    } catch (...) {
        // Closing a port never needs to report: the handle is gone either way.
    }
    FPort = 0;
}

bool TfrmComm::PortOpen() {
    if (FPort <= 0) return false;
    std::unique_lock<TReentrantMutex> held(FUseLock, std::try_to_lock);
    if (!held) return !FPortLost;  // in use by another thread: open a moment ago
    return FPort > 0 && !PortLost();
}

// Closing a port discards what the driver has not sent yet, so a trigger or copy written
// just before a disconnect would never reach the stimulator. Give the line time to carry
// it first, bounded by the write limit. (A pseudo-terminal reports an empty output queue
// at once, so this matters on real ports only.)
void TfrmComm::DrainOutput() {
    if (!FComm32->Enabled()) return;
    const TDeadline deadline = TDeadline::In(std::chrono::milliseconds(FComm32->WriteTimeout()));
    while (FComm32->OutQueCount() > 0 && !deadline.Expired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TfrmComm::Init(const std::optional<TPortRequest>& Requested) {
    TOperation operation(*this);
    if (Requested) {
        OpenRequestedPort(*Requested);
        return;
    }
    FPort = PortNamedByHost();
    if (FPort <= 0) FPort = FindPort(*this);
    if (FPort > 0) OpenPort(FPort);
}

int32_t FindPort(TfrmComm& Form) {
    TfrmComm::TOperation operation(Form);
    int32_t result = -1;
    Form.FPort = 0;
    TComm& comm = Form.Comm32();
    try {
        comm.Close();
        const std::vector<std::string> candidates = ListVCPPorts();
        for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
            try {
                const int32_t number = StrToInt(it->substr(7));
                comm.SetDeviceName(PortDeviceName(number));
                comm.Open();
                Form.RaiseModemLines("COM" + std::to_string(number));
                Form.Send("");
                Form.CommState = false;
                result = number;
                break;
            } catch (...) {
                // Any failure (no such device, held by another program, not a serial
                // port, the probe not written) only rules this candidate out.
                comm.Close();
            }
        }
        if (!comm.Enabled()) result = -1;
    } catch (...) {
        Form.FPort = result;
        throw;
    }
    Form.FPort = result;
    return result;
}

// A port the client named itself is opened as it is: no search past it.
void TfrmComm::OpenRequestedPort(const TPortRequest& Requested) {
    FPort = 0;
    if (Requested.Device.empty()) {
        OpenPort(Requested.Number);
    } else {
        OpenDevice(kDevicePathPort, Requested.Device);
    }
}

void TfrmComm::OpenPort(int32_t APort) { OpenDevice(APort, PortDeviceName(APort)); }

void TfrmComm::OpenDevice(int32_t APort, const std::string& Device) {
    FDevicePath = APort == kDevicePathPort ? Device : std::string();
    FComm32->Close();
    std::this_thread::sleep_for(ReopenPause);
    FComm32->SetDeviceName(Device);
    FPrompts.Restart();
    FPortLost = false;
    FLastDialogueTimedOut = false;
    FSendBuffer.clear();
    FComm32->Open();
    try {
        RaiseModemLines(APort == kDevicePathPort ? Device : "COM" + std::to_string(APort));
    } catch (...) {
        // A port that failed to open fully is released, so that nothing keeps it locked.
        FComm32->Close();
        throw;
    }
    FPort = APort;
}

void TfrmComm::RaiseModemLines(const std::string& Name) {
    FComm32->SetRTSState(true);
    FComm32->SetDTRState(true);
    if (FComm32->WithoutModemLines()) {
        AddText(Name + " has no modem lines (its driver does not support DTR and RTS): used without them", true);
    }
}

std::string TfrmComm::PortName() const {
    return FDevicePath.empty() ? "COM" + std::to_string(FPort) : FDevicePath;
}

bool TfrmComm::PortLost() {
    if (!FPortLost && FComm32->DeviceGone()) {
        FPortLost = true;
        // Nothing will ever arrive on it again: closing it ends the watch of the line (which
        // some drivers keep polling), so that a lost port costs nothing until reconnected.
        FComm32->Close();
    }
    return FPortLost;
}

void TfrmComm::CheckPortPresent() {
    if (!PortLost()) return;
    throw Exception("The stimulator's port " + PortName() +
                        " was closed, perhaps unplugged: check its cable and power, then connect again "
                        "(Connect, or set Connected to True).",
                    TFailureKind::PortLost);
}

int32_t TfrmComm::Transfer(const std::function<int32_t()>& Call) {
    try {
        return Call();
    } catch (const ECommError&) {
        CheckPortPresent();  // a transfer refused because the device has gone says so
        throw;
    }
}

void TfrmComm::WriteText(const std::string& Text) {
    // A write that runs out of time (a line held by flow control, a stalled adapter) left
    // the command, or part of it, in the computer: never report that as sent. Part of it may
    // have gone out all the same, and the stimulator may then hold a truncated command.
    const int32_t size = static_cast<int32_t>(Text.size());
    const auto started = std::chrono::steady_clock::now();
    const int32_t written = Transfer([&] { return FComm32->Write(Text.data(), size); });
    if (written == size) return;
    const int32_t moved = written == -1 ? FComm32->TimedOutWriteMoved() : written;
    // The time the call really waited: calling back what the driver holds can take longer
    // than the limit.
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    const std::string within =
        " within " + std::to_string(std::max<int64_t>(waited.count(), FComm32->WriteTimeout())) + " ms";
    if (moved <= 0) {
        RaiseCommError("Write error: the stimulator's port did not take the command" + within, kCommTimeoutError);
    }
    RaiseCommError("Write error: the stimulator's port took only " + std::to_string(moved) + " of the command's " +
                       std::to_string(size) + " bytes" + within +
                       ", so the command may have reached the stimulator incomplete; the rest was discarded. "
                       "Check the stimulator before sending the command again",
                   kCommTimeoutError);
}

void TfrmComm::WritePrompt() {
    FPrompts.AnswerLimit = ReplyTimeout;
    const auto sent = std::chrono::steady_clock::now();
    WriteText(kPrompt);
    // Counted once written: a prompt that never went out is never answered. (No answer can
    // be read before the entry below lets messages run.) Only a dialogue waits for the
    // command's reply; outside one, whatever the device answers is an earlier command's.
    FPrompts.PromptSent(sent, FInDialogue);
    AddText(kPrompt, true);
}

std::string TfrmComm::AbandonCommand() noexcept {
    DropPendingCommand();
    try {
        FComm32->PurgeOut();
        return {};
    } catch (const ECommError& e) {
        const std::string note = "What the port still held of the command could not be discarded (Error: " +
                                 std::to_string(e.ErrorCode) + "), so it may still reach the stimulator.";
        try {
            AddText("Purge failed: " + note, true);
        } catch (...) {
            // The call's own message still says it; the log entry is a copy.
        }
        return note;
    }
}

void TfrmComm::DropPendingCommand() noexcept {
    FSendBuffer.clear();
    // The device may have taken the prompt, or part of the frame, and answer that; prompts
    // it may or may not answer now are no longer counted on.
    FPrompts.CommandAbandoned();
}

void TfrmComm::Send(const std::string& S) {
    TOperation operation(*this);
    Trace("Send:" + S);
    try {
        CheckPortPresent();
        CommState = true;
        WritePrompt();
    } catch (...) {
        RethrowNoting(AbandonCommand());
    }
    FSendBuffer += S;
    FlushSendBuffer();  // abandons the command itself when its write fails
}

void TfrmComm::FlushSendBuffer() {
    if (FSendBuffer.empty()) return;
    // Taken out before the write: whether it goes out or fails, it is never written again.
    const std::string text = std::exchange(FSendBuffer, std::string());
    try {
        WriteText(text);
    } catch (...) {
        RethrowNoting(AbandonCommand());  // also when the device's prompt released it (the receive handler)
    }
    AddText(text, true);
}

void TfrmComm::SendOld(const std::string& S) {
    TOperation operation(*this);
    Trace("Send:" + S);
    CommState = false;
    // The text is queued before the prompt goes out: the device's answer can arrive while
    // the prompt is being logged, and the receive handler must find the text waiting then.
    FSendBuffer += S;
    try {
        WritePrompt();
    } catch (...) {
        RethrowNoting(AbandonCommand());
    }
}

void TfrmComm::SendCommand(const std::string& Command) {
    RefuseWhileAwaitingReply(Command);
    TOperation operation(*this);
    SendFrame(Command);
}

void TfrmComm::SendFrame(const std::string& Command) {
    Send(">" + IntToDec(Command.size(), 4) + Command);
    Pump();
}

void TfrmComm::RefuseWhileAwaitingReply(const std::string& Command) const {
    if (!FInDialogue) return;
    throw Exception("Cannot send \"" + Command +
                    "\" while another command is waiting for the stimulator's reply: "
                    "wait until that call has returned.");
}

namespace {
// The text of a read: it ends at a zero byte (the log shows every byte all the same).
std::string TextUpToZero(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }
}  // namespace

std::string TfrmComm::CommReceive(int32_t NumBytes) {
    TOperation operation(*this);
    return Received(ReadBytes(NumBytes));
}

std::string TfrmComm::Received(const std::string& Bytes) {
    FBytesReceived += Bytes.size();
    FPrompts.Received(Bytes);
    if (!Bytes.empty()) AddText(Bytes, false);
    return TextUpToZero(Bytes);
}

std::string TfrmComm::ReadBytes(int32_t NumBytes) {
    // One read takes at most ReadBufSize - 1 bytes; a larger request is read in further
    // pieces, so nothing is left queued to be mistaken for the next reply.
    const int32_t piece = std::max(FComm32->ReadBufSize() - 1, 1);
    std::string arrived;
    while (NumBytes > 0) {
        const int32_t want = std::min(NumBytes, piece);
        const size_t had = arrived.size();
        arrived.resize(had + static_cast<size_t>(want));
        const int32_t n = Transfer([&] { return FComm32->Read(&arrived[had], want); });
        arrived.resize(had + static_cast<size_t>(std::max(n, 0)));
        if (n <= 0) break;
        NumBytes -= n;
    }
    return arrived;
}

std::string TfrmComm::ReadQueued() {
    // The driver is asked for the count first: a read of an empty queue can wait out the
    // read time-out (as under Wine).
    return ReadBytes(FComm32->InQueCount());
}

std::string TfrmComm::TakeInput(size_t NumBytes) {
    const std::string piece = FInput.substr(0, NumBytes);
    FInput.erase(0, piece.size());
    return Received(piece);
}

void TfrmComm::DrainInput() {
    FInput += ReadQueued();
    TakeInput(FInput.size());
}

std::string TfrmComm::Dialogue(const std::string& Command) {
    TOperation operation(*this);
    Trace("Dialogue:" + Command);
    if (FPort == -1) return {};
    RefuseWhileAwaitingReply(Command);
    // The link's flags are restored on every way out, exceptions included.
    struct TDialogueScope {
        TfrmComm& Form;
        explicit TDialogueScope(TfrmComm& form) : Form(form) {
            Form.FInDialogue = true;
            Form.ProcessCharEvent = false;
            Form.FComm32->SetCallerReadsInput(true);  // the dialogue alone reads the reply
        }
        ~TDialogueScope() {
            Form.FComm32->SetCallerReadsInput(false);
            Form.ProcessCharEvent = true;
            Form.CommState = false;
            Form.FInDialogue = false;
        }
    } scope(*this);

    // Nothing of the command has gone out while the line falls quiet: a failure there (an
    // interrupt) leaves the device nothing to answer, and the prompts' count as it was.
    if (FLastDialogueTimedOut && !FPrompts.DeviceAnswers()) LetLineFallQuiet();
    try {
        return Converse(Command);
    } catch (...) {
        // A frame whose write failed was purged where it failed; one written whole has left
        // the port, and the failure (no reply, an interrupt) came after it.
        DropPendingCommand();
        throw;
    }
}

std::string TfrmComm::Converse(const std::string& Command) {
    DrainInput();
    FPrompts.Resynchronise();  // a frame half read by the drain was discarded with it
    const TDeadline deadline = TDeadline::In(ReplyTimeout);
    SendFrame(Command + "R");
    std::string result;
    bool replied = false;
    bool header = true;
    bool stale = false;  // the frame being read answers an earlier command: it is logged and skipped
    int32_t length = 0;
    bool interrupted = false;
    while (!deadline.Expired()) {
        Pump();
        if (InterruptRequested()) {
            interrupted = true;  // left like a reply that never came: a late one is skipped
            break;
        }
        bool progressed = false;
        if (CommState) {
            // Everything that has arrived is read in one piece and then taken apart, so that
            // a device that never stops sending costs a read and a log entry per arrival.
            FInput += ReadQueued();
            if (header) {
                const size_t frame = FInput.find('<');
                // Bytes before a frame are skipped (logged as one entry); a header is read
                // once all five of its bytes are there.
                if (frame != 0) TakeInput(frame);
                if (FInput.size() >= 5) {
                    progressed = true;
                    TakeInput(1);
                    stale = FPrompts.FrameIsStale(std::chrono::steady_clock::now());
                    length = StrToInt(TakeInput(4));
                    header = false;
                }
            } else if (static_cast<int32_t>(FInput.size()) >= length) {
                const std::string payload = TakeInput(static_cast<size_t>(std::max(length, 0)));
                if (!stale) {
                    result = payload;
                    replied = true;
                    break;
                }
                header = true;
                progressed = true;
            }
        }
        if (!progressed) {
            CheckPortPresent();  // a device that has gone ends the wait at once
            const auto wait = deadline.RemainingAtMost(kLongestQuietWait);
            // Input is read as it arrives where the port can be watched from here; while the
            // link waits for the device's prompt, the receive handler reads it instead.
            if (CommState) {
                FComm32->WaitForInputOrMessages(wait);
            } else {
                FComm32->WaitForEvents(wait);
            }
        }
    }
    if (!CommState) FSendBuffer.clear();
    FLastDialogueTimedOut = !replied;
    DrainInput();
    if (replied) {
        FPrompts.ReplyTaken();
    } else {
        FPrompts.ReplyAbandoned();
        if (FPrompts.PromptsOpen()) FPrompts.GiveUpOnOpenPrompts();
    }
    if (interrupted) {
        throw Exception("Interrupted while waiting for the stimulator's reply to \"" + Command + "\".",
                        TFailureKind::Interrupted);
    }
    if (!replied && MissingReplyFails) {
        throw Exception("The stimulator did not answer \"" + Command + "\" within " +
                            SecondsText(ReplyTimeout) +
                            " s: the command may or may not have taken effect. Check that the stimulator is switched "
                            "on and its cable is plugged in.",
                        TFailureKind::NoReply);
    }
    return result;
}

void TfrmComm::LetLineFallQuiet() {
    // A late reply is over in a moment; a line that keeps talking for three quiet times is
    // not bringing one (a device that streams, another device), and waiting longer would
    // only add to every command's time.
    const TDeadline limit = TDeadline::In(std::min(ReplyTimeout, 3 * QuietTime));
    TDeadline quiet = TDeadline::In(QuietTime);
    while (!quiet.Expired() && !limit.Expired()) {
        const uint64_t before = FBytesReceived;
        Pump();
        if (InterruptRequested()) {
            throw Exception("Interrupted while waiting for the line to fall quiet: nothing was sent.",
                            TFailureKind::Interrupted);
        }
        DrainInput();  // the receive handler may have read some instead; logged either way
        if (FBytesReceived != before) {
            quiet = TDeadline::In(QuietTime);
            continue;
        }
        CheckPortPresent();
        FComm32->WaitForInputOrMessages(std::min(quiet.Remaining(), limit.RemainingAtMost(kLongestQuietWait)));
    }
    FLastDialogueTimedOut = false;
}

std::string TfrmComm::Dialogue(const std::string& Send, double, int32_t, bool, bool) { return Dialogue(Send); }

std::string TfrmComm::ParseErrorResult(const std::string& CommResult) {
    if (CommResult.compare(0, 3, "OK.") == 0) return {};
    return CommResult.size() > 3 ? CommResult.substr(3) : std::string();
}

void TfrmComm::SetInterruptCheck(std::function<bool()> check) { Write(InterruptCheck(), std::move(check)); }

void TfrmComm::SetTrafficListener(TTrafficListener listener) { Write(TrafficListener(), std::move(listener)); }

void TfrmComm::SetPumpHookForTesting(std::function<void()> hook) { Write(PumpHook(), std::move(hook)); }

void TfrmComm::Pump() {
    if (const std::function<void()> hook = Read(PumpHook())) hook();
    FComm32->ProcessEvents();
    // Work handed to the main thread (a click on the monitor window, natively a program's own
    // hand-off) runs inside a dialogue there, as the window's messages do on Windows.
    if (IsMainThread()) RunMainThreadHandoffs();
}

void TfrmComm::PumpFor(const TDeadline& Deadline) {
    while (!Deadline.Expired()) {
        Pump();
        if (InterruptRequested()) throw Exception("Interrupted while waiting.", TFailureKind::Interrupted);
        FComm32->WaitForEvents(Deadline.RemainingAtMost(kLongestQuietWait));
    }
    Pump();
}

void TfrmComm::Wait(float sec) {
    TOperation operation(*this);
    if (sec <= 0) return;
    PumpFor(TDeadline::In(std::chrono::duration<double>(sec)));
}

void TfrmComm::AddText(const std::string& Text, bool Send) {
    TOperation operation(*this);
    const std::string stamp = LocalTimeStamp();
    if (const TTrafficListener listener = Read(TrafficListener()))
        listener(*this, TTrafficEntry{TrafficEntryText(stamp, Text), Send});
    FLog.Append(stamp, Text, Send);
    Pump();
}

void TfrmComm::Comm32RxChar(TCustomComm*, int32_t Count) {
    TOperation operation(*this);
    if (Count <= 0) return;
    if (!CommState) {
        const std::string text = CommReceive(Count);
        if (static_cast<int32_t>(text.size()) == Count && text.back() == '=') {
            CommState = true;
            FlushSendBuffer();
        }
    } else if (ProcessCharEvent) {
        CommReceive(Count);
    }
}

void TfrmComm::Comm32Error(TCustomComm*, int32_t Errors) {
    TOperation operation(*this);
    AddText("Comm32 Errors: Errors Number=" + std::to_string(Errors), true);
}

}  // namespace quor
