// TfrmComm: the device link to the stimulator and the traffic log behind the monitor window.
//
// The link owns the serial port Comm32, chooses and opens the port the stimulator is on,
// frames commands (prompt byte "=", then ">" + four-digit length + command text), runs the
// command/reply dialogue (reply frame "<" + four-digit length + payload) and logs every byte
// sent and received. Any thread may use a link, one at a time: each operation holds it for
// its thread (TExclusive), so another thread's command waits its turn and never interleaves
// with a dialogue. Every wait keeps the waiting thread serving the port's events (and, on
// Windows, its messages), so serial events and window clicks are handled meanwhile.
//
// Errors, in this component: every failure raises an exception (quor::Exception or the
// port's ECommError) whose message is the one the client reads; no result is a sentinel,
// except that a dialogue with no port found gives an empty reply, as a silent device does.
//
// Those messages can carry a client call that disconnects (a button handler in the host),
// so a link owned through a shared pointer keeps itself alive while one of its operations
// runs: the owner may let go at any time, and the link goes when its outermost operation
// returns. A command that arrives while a dialogue waits for its reply is refused, since the
// reply could not be told apart from an answer to it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Deadline.h"
#include "base/InterruptibleLock.h"
#include "link/MonitorWindow.h"
#include "link/PortRequest.h"
#include "link/PromptTracker.h"
#include "link/TrafficLog.h"
#include "serial/CommInt.h"

namespace quor {

class TfrmComm : public std::enable_shared_from_this<TfrmComm> {
public:
    TfrmComm();
    virtual ~TfrmComm();  // FormDestroy: closes the port
    TfrmComm(const TfrmComm&) = delete;
    TfrmComm& operator=(const TfrmComm&) = delete;

    // Chooses the port (the requested one, else a "COMn" host argument, else the search)
    // and opens it.
    void Init(const std::optional<TPortRequest>& Requested = std::nullopt);
    void OpenPort(int32_t APort);

    void Send(const std::string& S);
    void SendOld(const std::string& S);
    void SendCommand(const std::string& Command);
    std::string CommReceive(int32_t NumBytes);
    std::string Dialogue(const std::string& Command);
    std::string Dialogue(const std::string& Send, double Timeout, int32_t ReceiveLength, bool Echo, bool ClearDisplay);
    static std::string ParseErrorResult(const std::string& CommResult);
    void Wait(float sec);
    void AddText(const std::string& Text, bool Send);

    void Comm32RxChar(TCustomComm* Sender, int32_t Count);
    void Comm32Error(TCustomComm* Sender, int32_t Errors);

    // The open port's number (-1 when the search found none); a port opened by its device
    // path has no number of its own and reads kDevicePathPort.
    int32_t Port() const { return FPort; }
    static constexpr int32_t kDevicePathPort = 0x7FFFFFFF;
    // The port as messages name it: "COM7", or the device path it was opened by.
    std::string PortName() const;
    TComm& Comm32() { return *FComm32; }
    TTrafficLog& Log() { return FLog; }

    bool CommState = false;
    bool ProcessCharEvent = false;
    // The command text not yet written (held for the device's prompt), for tests to look at.
    const std::string& SendBufferForTesting() const { return FSendBuffer; }

    // How long a dialogue waits for the reply, and the pause before a port is reopened.
    // The device needs them as they are; tests shorten them, for every link made afterwards
    // through the two defaults.
    static std::chrono::milliseconds DefaultReplyTimeout;
    static std::chrono::milliseconds DefaultReopenPause;
    std::chrono::milliseconds ReplyTimeout = DefaultReplyTimeout;
    std::chrono::milliseconds ReopenPause = DefaultReopenPause;
    // After a dialogue ran out of time on a device that does not answer the prompt byte, its
    // reply may still come, and nothing would tell it from the next command's: the next
    // dialogue first lets the line fall quiet for QuietTime (what arrives is logged and
    // dropped), waiting at most three times that (and no longer than ReplyTimeout) for a
    // line that keeps talking.
    static std::chrono::milliseconds DefaultQuietTime;
    std::chrono::milliseconds QuietTime = DefaultQuietTime;

    // Whether a dialogue whose reply never came fails (TFailureKind::NoReply) instead of
    // returning an empty reply as a silent device's.
    bool MissingReplyFails = false;
    // Asked at every pass of a wait, on the library's thread: when it returns true, the
    // waiting dialogue stops and fails with TFailureKind::Interrupted (the Python module
    // asks whether Ctrl+C was pressed). Empty: never.
    static void SetInterruptCheck(std::function<bool()> check);
    // Told every traffic entry of every link as it is logged (the Python module hands them
    // to its logging). Empty: nobody.
    using TTrafficListener = std::function<void(const TfrmComm& link, const TTrafficEntry& entry)>;
    static void SetTrafficListener(TTrafficListener listener);

    // Asks the interrupt check (above) now.
    static bool InterruptRequested();

    // Holds the link for the calling thread while it lives: any other thread's operation on
    // the link waits until it is let go, asking the interrupt check meanwhile (and failing
    // with TFailureKind::Interrupted when it says so). Every operation takes one; a caller
    // whose steps must follow one another without another thread's command in between (a
    // question to the device and the command that depends on its answer) holds one across
    // them. The same thread may take it again.
    class TExclusive {
    public:
        explicit TExclusive(TfrmComm& link);
        ~TExclusive();  // a port closed meanwhile (ClosePort) closes when the last one goes

    private:
        TInterruptibleLock FLock;
        TfrmComm& FLink;
    };

    // Whether a dialogue is waiting for its reply right now.
    bool InDialogue() const { return FInDialogue; }
    // Whether an operation of any link is running on the calling thread's stack (the caller
    // was reached through the messages that operation lets run).
    static bool AnyOperationRunning();

    // Runs just before the link lets the thread's messages run, at every such point: tests
    // put a client call there, as a host's message queue can deliver one. Empty to stop.
    static void SetPumpHookForTesting(std::function<void()> hook);
    // Closes the port (after its last output has gone out) and sets Port to 0; the log stays.
    // Called while this thread holds the link (a disconnect that a host delivered inside a
    // command), the port closes when the outermost hold ends; another thread's hold is
    // waited for.
    void ClosePort() noexcept;
    // Whether the port is open and its device still there, as far as can be told without
    // waiting for another thread's operation on the link.
    bool PortOpen();
    // Whether the open port's device has gone (unplugged, switched off with its adapter):
    // every command then fails at once with a message that says to connect again.
    bool PortLost();

    // The monitor window, created hidden with the link; it shows the log as it grows.
    void ShowMonitor();
    void SaveSessionCommands(const std::string& fileNameUtf8);
    TMonitorWindow& Monitor() { return *FMonitor; }

private:
    friend int32_t FindPort(TfrmComm& Form);
    class TOperation;
    // The frame of a command, written after the check that no reply is awaited.
    void SendFrame(const std::string& Command);
    void RefuseWhileAwaitingReply(const std::string& Command) const;
    std::string Converse(const std::string& Command);  // the dialogue proper, its flags set
    // Runs one read or write of the port; a refusal because the device has gone raises the
    // lost-port message instead of the bare system error.
    int32_t Transfer(const std::function<int32_t()>& Call);
    void WriteText(const std::string& Text);
    std::string ReadBytes(int32_t NumBytes);  // reads, without logging
    std::string ReadQueued();                 // reads what is queued, without logging
    // Bytes read from the device: followed by the prompt tracker, logged as one received
    // entry; returns their text, which ends at a zero byte.
    std::string Received(const std::string& Bytes);
    // The next bytes of the input a dialogue has read, as Received.
    std::string TakeInput(size_t NumBytes);
    void DrainInput();  // logs and drops the input read and queued
    void CheckPortPresent();  // raises the message of a lost port
    // Raises DTR and RTS on the port just opened; a port whose driver has none (a
    // pseudo-terminal under Wine, some virtual null-modem ports) is used without them, and
    // the traffic log says so.
    void RaiseModemLines(const std::string& Name);
    void WritePrompt();
    void FlushSendBuffer();  // writes and logs the text held for the device, if any
    // A command whose call fails must never reach the device later: the text held for it is
    // dropped, and what the port still holds for output is discarded. Should the port refuse
    // to discard it, the log says so and the result is what the failed call's message must
    // add; empty otherwise.
    std::string AbandonCommand() noexcept;
    // As AbandonCommand, for a failure after every write of the command completed: nothing of
    // it is left in the port, so nothing is purged (on a pseudo-terminal a purge could take
    // back a frame the far end has not read yet, making it uncertain whether it went out).
    void DropPendingCommand() noexcept;
    // Reads, logs and drops input until none has arrived for QuietTime (see QuietTime).
    void LetLineFallQuiet();
    void DrainOutput();
    void PumpFor(const TDeadline& Deadline);
    void Pump();  // lets the thread's messages run: serial events, clicks, client calls

    TReentrantMutex FUseLock;  // see TExclusive
    std::unique_ptr<TComm> FComm32;
    TPromptTracker FPrompts;  // tells a reply from a late answer to an earlier command
    TTrafficLog FLog;
    std::unique_ptr<TMonitorWindow> FMonitor;  // destroyed before the log it shows
    void ConnectMonitor();
    std::atomic<int32_t> FPort{0};  // read by other threads (whether a connection is open)
    std::string FDevicePath;  // set when the port was opened by its device path
    void OpenRequestedPort(const TPortRequest& Requested);
    void OpenDevice(int32_t APort, const std::string& Device);
    bool FInDialogue = false;
    std::atomic<bool> FPortLost{false};  // once gone, a port stays gone until it is opened again
    int FOperationDepth = 0;             // holds (TExclusive) of the holding thread
    bool FClosePending = false;          // ClosePort was called inside one of them
    void CloseNow() noexcept;
    std::string FInput;      // read by the running dialogue, not yet taken apart
    std::string FSendBuffer;  // command text not yet written
    bool FLastDialogueTimedOut = false;  // its reply may still be on its way
    uint64_t FBytesReceived = 0;         // every byte read from the device, counted
};

// The port search: tries the candidate ports from the highest down and returns the number
// of the first that opens and takes the "=" probe (left open), or -1.
int32_t FindPort(TfrmComm& Form);

}  // namespace quor
