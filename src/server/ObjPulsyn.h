// TPulsyn: the stimulator control object behind "QuorLib.Pulsyn".
//
// Each member checks its arguments before any traffic, turns the call into one short ASCII
// command and hands it to the device link of the object's connection (server/LinkRegistry.h:
// objects on one device share it). Natively any thread may call any object: calls on one
// object, and commands on one connection, run one at a time (a second thread's call waits
// its turn), while connections to different devices work in parallel. Every member returns an
// automation status: S_OK, or on failure E_UNEXPECTED (or the failure's own negative
// status) with the thread's error information describing what went wrong. Out-parameters
// are written only on success.
//
// Errors, at this boundary: the layers below raise exceptions; RunGuarded turns every one
// into a status and error information, and nothing else leaves a member (an exception
// crossing into the host would end it).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "base/InterruptibleLock.h"
#include "link/CommUnit.h"
#include "link/PortRequest.h"
#include "server/LinkRegistry.h"
#include "server/AutomationTypes.h"
#ifdef QUOR_AUTOMATION
#include "server/AutoObject.h"
#endif

namespace quor {

#ifdef QUOR_AUTOMATION
using TPulsynBase = TAutoObject;
#define QUOR_OVERRIDE override
#else
// Natively an owner that holds the object by shared pointer (the Python module, a host's
// own code) may let go of it from a call that a member's waits let run; the member keeps
// the object until it returns (see TPulsyn::Guarded).
class TPulsynBase : public std::enable_shared_from_this<TPulsynBase> {
protected:
    // A reference for as long as a member runs; none for an object that no shared pointer
    // owns (its owner keeps it for the call, as a stack or static object is kept).
    std::shared_ptr<TPulsynBase> HoldWhileRunning() { return weak_from_this().lock(); }
};
#define QUOR_OVERRIDE
#endif
#define QUOR_METHOD HRESULT STDMETHODCALLTYPE

// The link of the latest connect (the process's one link with the automation server; see
// server/LinkRegistry.h for how objects share connections); null when it has been let go.
extern std::shared_ptr<TfrmComm> frmComm;

// The device number text (e.g. +25.00E-3) of a value; raises for values without one, naming
// the parameter the value was passed for.
std::string EncodeDeviceNumber(double Value, const char* Parameter = "");

// Runs a member's body under the automation boundary: S_OK when it completes, otherwise a
// failed status with the thread's error information set from the failure.
template <class Body>
HRESULT RunGuarded(Body&& body);
HRESULT ReportFailure(const std::string& message, int32_t status);
HRESULT ReportFailure(const Exception& failure);

// On Windows TPulsyn is the automation object itself: TAutoObject supplies IUnknown,
// IDispatch (from the type library), ISupportErrorInfo and IProvideClassInfo, and the
// members below implement IPulsyn. Natively it is a plain class with the same members.
class TPulsyn : public TPulsynBase {
public:
#ifdef QUOR_AUTOMATION
    // Outer: the controlling object when the object is made inside an aggregate.
    explicit TPulsyn(IUnknown* Outer = nullptr) : TAutoObject(Outer) {}
#else
    TPulsyn() = default;
#endif
    virtual ~TPulsyn() = default;

    QUOR_METHOD ChangeParadigm(LONG ParadigmNumber) QUOR_OVERRIDE;
    QUOR_METHOD ChangeChannelMode(LONG Channel, ChannelModes Mode) QUOR_OVERRIDE;
    QUOR_METHOD get_Connected(VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD put_Connected(VARIANT_BOOL Value) QUOR_OVERRIDE;
    QUOR_METHOD Connect(VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD ClearParadigm() QUOR_OVERRIDE;
    QUOR_METHOD CopyParadigm(LONG DestParadigm) QUOR_OVERRIDE;
    QUOR_METHOD Trigger(LONG Channel) QUOR_OVERRIDE;
    QUOR_METHOD ConnectChannel(LONG Channel1, LONG Channel2) QUOR_OVERRIDE;
    QUOR_METHOD DisconnectChannel(LONG Channel1, LONG Channel2) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelDelay(LONG Channel, double Delay, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelDuration(LONG Channel, double Duration, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelInterval(LONG Channel, double Interval, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelN(LONG Channel, LONG N, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelVoltage(LONG Channel, double Voltage, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelDeltaV(LONG Channel, double DeltaV, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD SetChannelShape(LONG Channel, ChannelShapes Shape, VARIANT_BOOL* Value) QUOR_OVERRIDE;
    QUOR_METHOD ShowMonitor() QUOR_OVERRIDE;
    QUOR_METHOD SaveSessionCommands(BSTR FileName) QUOR_OVERRIDE;

    // SaveSessionCommands with a name of known length (which may hold a NUL): the native
    // callers' form (the Python module).
    HRESULT SaveSessionCommands(std::u16string_view FileName);

    // The port this object connects to instead of the host's command line and the search
    // (the Python module's port= argument); none: chosen as usual.
    void SetRequestedPort(std::optional<TPortRequest> Port) {
        std::lock_guard<TReentrantMutex> turn(FCallLock);
        FRequestedPort = std::move(Port);
    }
    // Whether a connect without a requested port reads the host's command line and
    // QUORLIB_PORT before it searches (the Python module resolves the port itself).
    void SetUsesHostPortChoice(bool Value) {
        std::lock_guard<TReentrantMutex> turn(FCallLock);
        FUsesHostPortChoice = Value;
    }
    // How long this object's commands wait for the stimulator's reply; none: the link's own.
    void SetReplyTimeout(std::optional<std::chrono::milliseconds> Timeout) {
        std::lock_guard<TReentrantMutex> turn(FCallLock);
        FReplyTimeout = Timeout;
    }
    // Whether a command whose reply never came fails (with TFailureKind::NoReply) instead of
    // reading as no acknowledgement; the automation interface reports False, as it always has.
    void SetMissingReplyFails(bool Value) {
        std::lock_guard<TReentrantMutex> turn(FCallLock);
        FMissingReplyFails = Value;
    }
    // Asks the stimulator something harmless (which paradigm is selected: "GP") and gives its
    // reply ("OK.2"), so that a program can tell a port with a stimulator behind it from one
    // that merely opened (Connected says only that the port is open). Nothing answering
    // within the reply time fails with TFailureKind::NoReply, naming the port.
    HRESULT Ping(std::string& Reply);

    // The port this object connected to, as messages name it ("COM7", "/dev/ttyACM0"); empty
    // before its first connect.
    std::string ConnectedPortName() const;
    // This object's link, for clients that read its log themselves; raises as the members do
    // without a connection.
    std::shared_ptr<TfrmComm> ConnectedLink() const;

protected:
    VARIANT_BOOL FConnected = VARIANT_FALSE;  // this object holds an open connection
    bool FConnecting = false;  // this object's connect is running (a disconnect may cancel it)
    bool FConnectCancelled = false;  // a disconnect arrived while this object's connect ran
    std::optional<TPortRequest> FRequestedPort;
    bool FUsesHostPortChoice = true;
    std::optional<std::chrono::milliseconds> FReplyTimeout;
    bool FMissingReplyFails = false;
    std::weak_ptr<TfrmComm> FPendingLink;  // the link this object's running connect opens
    std::shared_ptr<TConnection> FConnection;  // held while this object is connected
    // The link of this object's latest connect, kept after it let go of the connection (its
    // log can still be shown and saved) until the object connects again.
    std::shared_ptr<TfrmComm> FLink;
    std::string FLinkName;  // its port as messages name it
    // The ports the latest connect's search looked at when it found no stimulator.
    std::optional<std::vector<int>> FSearchedPorts;
    // Calls on one object run one at a time, whichever threads make them.
    mutable TReentrantMutex FCallLock;

    // This object's link with its port open, held for the calling thread (with the object's
    // reply settings applied) while the result lives; or a clear failure when the object is
    // not connected (never connected, its search found none, its connection let go or
    // replaced).
    class TLinkInUse {
    public:
        TLinkInUse(std::shared_ptr<TfrmComm> link, const TPulsyn& owner);
        TfrmComm* operator->() const { return FLink.get(); }

    private:
        std::shared_ptr<TfrmComm> FLink;
        TfrmComm::TExclusive FExclusive;
    };
    TLinkInUse Window() const;
    // This object's link also when its connect found no port: its log can be shown and saved.
    std::shared_ptr<TfrmComm> MonitorWindow() const;
    static void CheckChannel(LONG Channel);
    bool CommandSucceeded(const std::string& Command) const;

private:
    // Runs a member's body under the automation boundary, holding the object meanwhile: a
    // client call let run by the body's waits may release the last reference to it (a host's
    // button handler, say), and the body still writes the object's fields when it returns.
    template <class Body>
    HRESULT Guarded(Body&& body) {
        const auto hold = HoldWhileRunning();
        return RunGuarded([&] {
            const TInterruptibleLock turn(FCallLock, TfrmComm::InterruptRequested,
                                          "Interrupted while waiting for another thread's call on the same object to "
                                          "finish: nothing was sent.");
            body();
        });
    }
    std::string NotConnectedMessage() const;
    void WriteConnected(VARIANT_BOOL Value);
    // Connected, through a link that still exists (another object may have disconnected it)
    // to a port that is still there: otherwise the object reads as not connected, and
    // connecting again opens the port afresh.
    bool IsConnected() const;
    // The port a connect opens without a search: requested, or named by the host.
    std::optional<TPortRequest> PortToOpen() const;
    void Hold(const std::shared_ptr<TConnection>& Connection);
    void LinkChannels(char Letter, LONG Channel1, LONG Channel2, const char* SameChannelMessage);
    HRESULT SetChannelValue(LONG Channel, char Letter, double Value, VARIANT_BOOL* Result);
};

}  // namespace quor

#include "server/ObjPulsynGuard.h"
