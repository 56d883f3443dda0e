// TPulsyn: the stimulator control object behind "QuorLib.Pulsyn".
//
// Each member checks its arguments before any traffic, turns the call into one short ASCII
// command and hands it to the process-wide device link frmComm. Every member returns an
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

#include "base/Exceptions.h"
#include "link/PortRequest.h"
#include "server/AutomationTypes.h"
#ifdef QUOR_AUTOMATION
#include "server/AutoObject.h"
#endif

namespace quor {

class TfrmComm;

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
// server/LinkRegistry.h for how objects find theirs); null when it has been let go. A link
// let go while one of its operations runs (a disconnect that a host delivered inside a
// command) is destroyed when that returns.
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
    void SetRequestedPort(std::optional<TPortRequest> Port) { FRequestedPort = std::move(Port); }
    // Whether a connect without a requested port reads the host's command line and
    // QUORLIB_PORT before it searches (the Python module resolves the port itself).
    void SetUsesHostPortChoice(bool Value) { FUsesHostPortChoice = Value; }
    // How long this object's commands wait for the stimulator's reply; none: the link's own.
    void SetReplyTimeout(std::optional<std::chrono::milliseconds> Timeout) { FReplyTimeout = Timeout; }
    // Whether a command whose reply never came fails (with TFailureKind::NoReply) instead of
    // reading as no acknowledgement; the automation interface reports False, as it always has.
    void SetMissingReplyFails(bool Value) { FMissingReplyFails = Value; }
    // The port this object connected to, as messages name it ("COM7", "/dev/ttyACM0"); empty
    // before its first connect.
    const std::string& ConnectedPortName() const { return FLinkName; }
    // This object's link, for clients that read its log themselves; raises as the members do
    // without a connection.
    std::shared_ptr<TfrmComm> ConnectedLink() const { return MonitorWindow(); }

protected:
    VARIANT_BOOL FConnected = VARIANT_FALSE;
    bool FConnecting = false;  // this object's connect is running (a disconnect may cancel it)
    bool FConnectCancelled = false;  // a disconnect arrived while this object's connect ran
    std::optional<TPortRequest> FRequestedPort;
    bool FUsesHostPortChoice = true;
    std::optional<std::chrono::milliseconds> FReplyTimeout;
    bool FMissingReplyFails = false;
    std::weak_ptr<TfrmComm> FPendingLink;  // the link this object's running connect opens
    bool FHasLink = false;  // a connect of this object made or found a link
    std::string FLinkKey;   // the device of this object's link (see LinkRegistry.h)
    std::string FLinkName;  // its port as messages name it

    // This object's link with its port open, or a clear failure when the object is not
    // connected (never connected, its port never opened, or its link let go or replaced).
    // The caller holds it for as long as it uses it.
    std::shared_ptr<TfrmComm> Window() const;
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
        return RunGuarded(std::forward<Body>(body));
    }
    void WriteConnected(VARIANT_BOOL Value);
    // Connected, through a link that still exists (another object may have disconnected it)
    // to a port that is still there: otherwise the object reads as not connected, and
    // connecting again opens the port afresh.
    bool IsConnected() const;
    // The port a connect opens without a search: requested, or named by the host.
    std::optional<TPortRequest> PortToOpen() const;
    void AdoptLink(const std::string& Key, const std::shared_ptr<TfrmComm>& Link);
    void LinkChannels(char Letter, LONG Channel1, LONG Channel2, const char* SameChannelMessage);
    HRESULT SetChannelValue(LONG Channel, char Letter, double Value, VARIANT_BOOL* Result);
};

}  // namespace quor

#include "server/ObjPulsynGuard.h"
