#include "ObjPulsyn.h"

#include "base/TextConvert.h"
#include "link/CommUnit.h"
#include "link/LogFileName.h"
#include "link/PortChoice.h"
#include "link/PortNames.h"
#include "server/ErrorInfo.h"
#ifdef QUOR_AUTOMATION
#include "server/ComServer.h"
#endif
#include "value/QuorClasses.h"

namespace quor {

namespace {

// An automation string, its whole length (a null one is empty). On Windows the string
// carries its length, so an embedded NUL is seen; natively it ends at its first NUL.
std::u16string_view AutomationText(BSTR text) {
    if (!text) return {};
#ifdef _WIN32
    return {reinterpret_cast<const char16_t*>(text), SysStringLen(text)};
#else
    return text;
#endif
}

// Arguments are compared as unsigned 32-bit numbers, so negative ones fail like numbers
// that are too large.
bool InRange(int32_t value, uint32_t low, uint32_t high) {
    const uint32_t v = static_cast<uint32_t>(value);
    return v >= low && v <= high;
}

void Require(bool condition, const char* message, const char* parameter) {
    if (!condition) throw EArgumentRefused(message, parameter);
}

constexpr char kModeLetters[] = {'O', 'F', 'N', 'G', 'C', 'T', 'W'};
constexpr char kShapeLetters[] = {'M', 'B', 'R'};

// The device number keeps four significant digits, so a count of five or more digits
// reaches the device rounded (12345 would program 12350 pulses). Such a count is refused,
// naming the nearest counts that go out exactly.
void RequireExactCount(int32_t count) {
    const int64_t magnitude = count < 0 ? -static_cast<int64_t>(count) : count;
    int64_t step = 1;
    while (magnitude / step >= 10000) step *= 10;
    if (magnitude % step == 0) return;
    const int64_t sign = count < 0 ? -1 : 1;
    const int64_t toward_zero = magnitude / step * step * sign;
    const int64_t away_from_zero = (magnitude / step + 1) * step * sign;
    // Near the ends of the 32-bit range the farther neighbour is a count the device takes but
    // no caller can pass: it is named with the reason rather than offered.
    const std::string nearest =
        away_from_zero < INT32_MIN || away_from_zero > INT32_MAX
            ? std::to_string(toward_zero) + " (" + std::to_string(away_from_zero) +
                  " is beyond the counts a call can pass)"
            : std::to_string(toward_zero) + " or " + std::to_string(away_from_zero);
    const std::string message = "Range Error: N Value " + std::to_string(count) +
                                " has more than four significant digits, which the stimulator cannot take exactly: "
                                "use " + nearest + ".";
    throw EArgumentRefused(message, "N");
}

// The value setters' parameters, by the letter of their command.
const char* ValueParameter(char letter) {
    switch (letter) {
        case 'L': return "Delay";
        case 'D': return "Duration";
        case 'I': return "Interval";
        case 'N': return "N";
        case 'V': return "Voltage";
        default: return "DeltaV";
    }
}

const char* const kNotConnected = "Not connected to the stimulator: call Connect (or set Connected to True) first.";

// The device a requested port opens.
std::string DeviceOf(const TPortRequest& request) {
    return request.Device.empty() ? PortDeviceName(request.Number) : request.Device;
}

// "COM3 (/dev/ttyACM2), COM5 (/dev/ttyACM4)": the ports a search looked at, by the names a
// user gives them.
std::string PortList(const std::vector<int>& ports) {
    std::string list;
    for (const int port : ports) {
        if (!list.empty()) list += ", ";
        list += "COM" + std::to_string(port);
        const std::string device = PortDeviceName(port);
        if (device != CandidateName(port)) list += " (" + device + ")";
    }
    return list;
}

// An early-bound caller can pass a null pointer for a result; writing through it would crash
// the host, which no handler catches.
HRESULT NullResultPointer(const char* member) {
    return ReportFailure(std::string(member) +
                             " was called with a null pointer for its result: pass a variable to receive it.",
                         E_POINTER);
}

}  // namespace

HRESULT ReportFailure(const std::string& message, int32_t status) {
    SetPulsynErrorInfo(message);
    return status < 0 ? static_cast<HRESULT>(status) : E_UNEXPECTED;
}

HRESULT ReportFailure(const Exception& failure) {
    const HRESULT status = ReportFailure(failure.Message(), failure.StatusCode());
#ifndef _WIN32
    SetFailureDetails(failure.Kind(), failure.SystemErrorCode(), failure.Parameter());
#endif
    return status;
}

std::string EncodeDeviceNumber(double Value, const char* Parameter) {
    try {
        TQuorValue value;
        value.SetAsDouble(Value);
        return value.PulsynValue();
    } catch (const Exception& e) {
        throw EArgumentRefused(e.Message(), Parameter);  // a value refused before any traffic
    }
}

TPulsyn::TLinkInUse::TLinkInUse(std::shared_ptr<TfrmComm> link, const TPulsyn& owner)
    : FLink(std::move(link)), FExclusive(*FLink) {
    if (owner.FReplyTimeout) FLink->ReplyTimeout = *owner.FReplyTimeout;
    FLink->MissingReplyFails = owner.FMissingReplyFails;
}

std::string TPulsyn::NotConnectedMessage() const {
    if (!FConnected && !FConnection && FSearchedPorts) {
        return "Not connected to the stimulator: Connect searched for it and found none (" +
               (FSearchedPorts->empty() ? std::string("no serial port of the kind it uses was there")
                                        : "it tried " + PortList(*FSearchedPorts)) +
               "). Check that the stimulator is plugged in and switched on, then call Connect again, or name its "
               "port: a \"COM7\" argument on the host's command line or " +
               kPortVariable + "=COM7 in the environment (from Python: Pulsyn(port=...)).";
    }
    return kNotConnected;
}

std::shared_ptr<TfrmComm> TPulsyn::MonitorWindow() const {
    std::shared_ptr<TfrmComm> link = FConnecting ? FPendingLink.lock() : nullptr;
    if (!link) link = FLink;
    if (link) return link;
    throw Exception(kNotConnected, TFailureKind::NotConnected);
}

std::shared_ptr<TfrmComm> TPulsyn::ConnectedLink() const {
    std::lock_guard<TReentrantMutex> turn(FCallLock);
    return MonitorWindow();
}

std::string TPulsyn::ConnectedPortName() const {
    std::lock_guard<TReentrantMutex> turn(FCallLock);
    return FLinkName;
}

TPulsyn::TLinkInUse TPulsyn::Window() const {
    if (FConnection && FConnection->Link->Port() > 0) return TLinkInUse(FConnection->Link, *this);
    if (FConnection && LinkPolicy() == TLinkPolicy::OneLinkPerProcess) {
        // One connection per process: another object's connect closed this object's.
        if (const std::shared_ptr<TConnection> latest = LatestConnection()) {
            throw Exception("Not connected to the stimulator on " + FLinkName +
                                " any more: another object connected to " + latest->Link->PortName() +
                                ", and QuorLib keeps one connection per process. Call Connect (or set Connected to "
                                "True) to connect this object again.",
                            TFailureKind::NotConnected);
        }
    }
    throw Exception(NotConnectedMessage(), TFailureKind::NotConnected);
}

void TPulsyn::CheckChannel(LONG Channel) {
    Require(InRange(Channel, 1, 9), "Channel Error: Channel Parameter must be between 1 and 9.", "Channel");
}

bool TPulsyn::CommandSucceeded(const std::string& Command) const {
    const std::string reply = Window()->Dialogue(Command);
    return !reply.empty() && reply[0] == 'O';
}

bool TPulsyn::IsConnected() const { return FConnected && FConnection && FConnection->Link->PortOpen(); }

HRESULT STDMETHODCALLTYPE TPulsyn::get_Connected(VARIANT_BOOL* Value) {
    if (!Value) return NullResultPointer("Connected");
    return Guarded([&] { *Value = IsConnected() ? VARIANT_TRUE : VARIANT_FALSE; });
}

std::optional<TPortRequest> TPulsyn::PortToOpen() const {
    if (FRequestedPort) return FRequestedPort;
    if (!FUsesHostPortChoice) return std::nullopt;
    const int32_t named = PortNamedByHost();
    if (named <= 0) return std::nullopt;
    TPortRequest request;
    request.Number = named;
    return request;
}

void TPulsyn::Hold(const std::shared_ptr<TConnection>& Connection) {
    FConnection = Connection;
    FLink = Connection->Link;
    FLinkName = FLink->PortName();
    FSearchedPorts.reset();
    FConnected = VARIANT_TRUE;
}

void TPulsyn::WriteConnected(VARIANT_BOOL Value) {
    const bool wanted = Value != 0;
    // Disconnecting lets go of the connection also when its device has gone (connecting
    // opens it afresh then), and cancels this object's own connect when a host delivers it
    // inside.
    if (wanted ? IsConnected() : !(FConnected || FConnecting || FConnection)) return;
    if (!wanted) {
        FConnected = VARIANT_FALSE;
        FConnectCancelled = FConnecting;
        if (FConnecting) ForgetLatestLink(FPendingLink.lock().get());
        FConnection.reset();  // the port closes when no other object holds it
        return;
    }
    // A connect that arrives inside a running operation (from a button handler, say) would
    // open the port a second time while that operation still uses it.
    if (TfrmComm::AnyOperationRunning()) {
        throw Exception("Cannot change the connection while a command is waiting for the stimulator's reply: "
                        "wait until that call has returned.");
    }
    FConnected = VARIANT_FALSE;
    const std::optional<TPortRequest> request = PortToOpen();
    // An open connection on the device is shared; without a port named, the latest open
    // connection is (the device the process's latest connect found), so two objects of one
    // script that name no port talk to one stimulator.
    const std::string key = request ? DeviceKey(DeviceOf(*request)) : std::string();
    const std::shared_ptr<TConnection> open = request ? ConnectionOnDevice(key) : LatestConnection();
    if (open && open->Link->PortOpen()) {
        Hold(open);
        if (LinkPolicy() == TLinkPolicy::OneLinkPerProcess || !request) AddConnection(open);  // now the latest
        return;
    }
    // A connection whose device has gone is closed for every object that held it (they could
    // not use it any more), so that its port can be opened afresh; with one link per process
    // the connection this one replaces lets go of its port first, for the same reason.
    if (open) CloseConnection(open->Key);
    if (FConnection) CloseConnection(FConnection->Key);
    FConnection.reset();
    if (LinkPolicy() == TLinkPolicy::OneLinkPerProcess) ReleaseAllLinks();
#ifdef QUOR_AUTOMATION
    // The window and its port belong to the process and may outlive every object, so the
    // library may not be unloaded under them.
    TComServer::KeepLoaded();
#endif
    const auto link = std::make_shared<TfrmComm>();
    // While the port is chosen and opened, the new link is the process's latest (its window
    // can be shown meanwhile).
    SetLatestLink(link);
    FPendingLink = link;
    FConnecting = true;
    FConnectCancelled = false;
    struct TConnecting {
        TPulsyn& Object;
        ~TConnecting() {
            Object.FConnecting = false;
            // A connect that raised or was cancelled leaves no link behind.
            if (const std::shared_ptr<TfrmComm> pending = Object.FPendingLink.lock()) {
                pending->ClosePort();
                ForgetLatestLink(pending.get());
            }
            Object.FPendingLink.reset();
        }
    } connecting{*this};
    std::vector<int> searched;
    if (request) {
        link->Init(*request);
    } else {
        for (const std::string& candidate : ListVCPPorts()) searched.push_back(StrToInt(candidate.substr(7)));
        const int32_t found = FindPort(*link);
        if (found > 0) link->OpenPort(found);
    }
    // A disconnect of this object delivered during the port search cancels the connect.
    if (FConnectCancelled) return;
    FPendingLink.reset();
    if (link->Port() > 0) {
        const auto connection = std::make_shared<TConnection>(DeviceKey(link->Comm32().DeviceName()), link);
        AddConnection(connection);
        Hold(connection);
        return;
    }
    // The search found no port: the link stays, so that its log can be shown and saved.
    FLink = link;
    FLinkName.clear();
    FSearchedPorts = std::move(searched);
}

HRESULT STDMETHODCALLTYPE TPulsyn::put_Connected(VARIANT_BOOL Value) {
    return Guarded([&] { WriteConnected(Value); });
}

HRESULT STDMETHODCALLTYPE TPulsyn::Connect(VARIANT_BOOL* Value) {
    if (!Value) return NullResultPointer("Connect");
    return Guarded([&] {
        if (!IsConnected()) WriteConnected(VARIANT_TRUE);
        *Value = FConnected;
    });
}

HRESULT TPulsyn::Ping(std::string& Reply) {
    return Guarded([&] {
        const TLinkInUse link = Window();
        link->MissingReplyFails = false;  // the silence is reported below, naming the port
        std::string reply = link->Dialogue("GP");
        if (reply.empty()) {
            throw Exception("No stimulator answered on " + FLinkName + ": the port is open, but nothing replied to \"GP\" within " +
                                std::to_string(link->ReplyTimeout.count()) +
                                " ms. Check that the stimulator is switched on and plugged in, and that this is its port.",
                            TFailureKind::NoReply);
        }
        Reply = std::move(reply);
    });
}

HRESULT STDMETHODCALLTYPE TPulsyn::ChangeParadigm(LONG ParadigmNumber) {
    return Guarded([&] {
        Require(InRange(ParadigmNumber, 1, 9),
                "ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.", "ParadigmNumber");
        Window()->Dialogue("Y" + std::to_string(ParadigmNumber));
    });
}

HRESULT STDMETHODCALLTYPE TPulsyn::ChangeChannelMode(LONG Channel, ChannelModes Mode) {
    return Guarded([&] {
        CheckChannel(Channel);
        Require(InRange(Mode, 0, 6), "ChannelMode Error: Wrong Mode Parameter.", "Mode");
        Window()->Dialogue(std::string("M") + kModeLetters[Mode] + std::to_string(Channel));
    });
}

HRESULT STDMETHODCALLTYPE TPulsyn::ClearParadigm() {
    return Guarded([&] { Window()->Dialogue("E"); });
}

HRESULT STDMETHODCALLTYPE TPulsyn::CopyParadigm(LONG DestParadigm) {
    return Guarded([&] {
        // Held from the question to the copy: another thread's command in between could
        // change the paradigm the copy starts from.
        const TLinkInUse window = Window();
        const std::string reply = window->Dialogue("GP");
        if (reply.empty()) throw Exception("CopyParadigm Error: Cannot read current paradigm number.");
        // The fourth character is the paradigm digit of the reply "OK.3".
        const int32_t current = StrToInt(reply.size() > 3 ? reply.substr(3, 1) : std::string());
        Require(InRange(DestParadigm, 1, 9), "CopyParadigm Error: Paradigm Parameter must be between 1 and 9.",
                "DestParadigm");
        Require(DestParadigm != current, "CopyParadigm Error: Cannot copy paradigm to itself.", "DestParadigm");
        window->SendCommand("C" + std::to_string(current) + std::to_string(DestParadigm));
    });
}

HRESULT STDMETHODCALLTYPE TPulsyn::Trigger(LONG Channel) {
    return Guarded([&] {
        CheckChannel(Channel);
        Window()->SendCommand("T" + std::to_string(Channel));
    });
}

// Joining ("X") and separating ("Z") two channels: the first is 1 to 9, the second 1 to 12
// (10 to 12 go out as the hexadecimal digits A to C), and never the same channel.
void TPulsyn::LinkChannels(char Letter, LONG Channel1, LONG Channel2, const char* SameChannelMessage) {
    Require(InRange(Channel1, 1, 9), "Error: First Parameter must be between 1 and 9.", "Channel1");
    Require(InRange(Channel2, 1, 12), "Error: Second Parameter must be between 1 and 12.", "Channel2");
    Require(Channel1 != Channel2, SameChannelMessage, "Channel2");
    Window()->Dialogue(Letter + IntToHex(static_cast<uint32_t>(Channel1)) + IntToHex(static_cast<uint32_t>(Channel2)));
}

HRESULT STDMETHODCALLTYPE TPulsyn::ConnectChannel(LONG Channel1, LONG Channel2) {
    return Guarded(
        [&] { LinkChannels('X', Channel1, Channel2, "Error: ConnectChannel cant Connect a channel to itself."); });
}

HRESULT STDMETHODCALLTYPE TPulsyn::DisconnectChannel(LONG Channel1, LONG Channel2) {
    return Guarded([&] {
        LinkChannels('Z', Channel1, Channel2, "Error: DisconnectChannel cant disconnect a channel from itself.");
    });
}

HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelShape(LONG Channel, ChannelShapes Shape, VARIANT_BOOL* Value) {
    if (!Value) return NullResultPointer("SetChannelShape");
    return Guarded([&] {
        CheckChannel(Channel);
        Require(InRange(Shape, 0, 2), "ChannelShape Error: Wrong Shape Parameter.", "Shape");
        const bool ok = CommandSucceeded("S" + std::to_string(Channel) + kShapeLetters[Shape]);
        *Value = ok ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

// The value setters: channel first, then the range of the time values (NaN fails every
// comparison and would pass a plain range check, so it is refused by the conversion),
// then one dialogue whose acknowledgement becomes the result.
HRESULT TPulsyn::SetChannelValue(LONG Channel, char Letter, double Value, VARIANT_BOOL* Result) {
    if (!Result) {
        switch (Letter) {
            case 'L': return NullResultPointer("SetChannelDelay");
            case 'D': return NullResultPointer("SetChannelDuration");
            case 'I': return NullResultPointer("SetChannelInterval");
            case 'N': return NullResultPointer("SetChannelN");
            case 'V': return NullResultPointer("SetChannelVoltage");
            default: return NullResultPointer("SetChannelDeltaV");
        }
    }
    return Guarded([&] {
        CheckChannel(Channel);
        switch (Letter) {
            case 'L':
                Require(!(Value < 0 || Value > 3999), "Range Error: Delay Value must be between 0 and 3999s.", "Delay");
                break;
            case 'D':
                Require(!(Value < 0.000004 || Value > 3999),
                        "Range Error: Duration Value must be between 4us and 3999s.", "Duration");
                break;
            case 'I':
                Require(!(Value < 0.00004 || Value > 3999),
                        "Range Error: Interval Value must be between 40us and 3999s.", "Interval");
                break;
            case 'N':
                RequireExactCount(static_cast<int32_t>(Value));  // a 32-bit count, held exactly
                break;
            default:
                break;
        }
        const std::string command =
            Letter + std::to_string(Channel) + EncodeDeviceNumber(Value, ValueParameter(Letter));
        *Result = CommandSucceeded(command) ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelDelay(LONG Channel, double Delay, VARIANT_BOOL* Value) {
    return SetChannelValue(Channel, 'L', Delay, Value);
}
HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelDuration(LONG Channel, double Duration, VARIANT_BOOL* Value) {
    return SetChannelValue(Channel, 'D', Duration, Value);
}
HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelInterval(LONG Channel, double Interval, VARIANT_BOOL* Value) {
    return SetChannelValue(Channel, 'I', Interval, Value);
}
HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelN(LONG Channel, LONG N, VARIANT_BOOL* Value) {
    return SetChannelValue(Channel, 'N', static_cast<double>(N), Value);
}
HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelVoltage(LONG Channel, double Voltage, VARIANT_BOOL* Value) {
    return SetChannelValue(Channel, 'V', Voltage, Value);
}
HRESULT STDMETHODCALLTYPE TPulsyn::SetChannelDeltaV(LONG Channel, double DeltaV, VARIANT_BOOL* Value) {
    return SetChannelValue(Channel, 'J', DeltaV, Value);
}

// The monitor window: shown on request, and its log saved as Rich Text Format.
HRESULT STDMETHODCALLTYPE TPulsyn::ShowMonitor() {
    return Guarded([&] { MonitorWindow()->ShowMonitor(); });
}

HRESULT STDMETHODCALLTYPE TPulsyn::SaveSessionCommands(BSTR FileName) {
    return SaveSessionCommands(AutomationText(FileName));
}

HRESULT TPulsyn::SaveSessionCommands(std::u16string_view FileName) {
    return Guarded([&] {
        const std::shared_ptr<TfrmComm> window = MonitorWindow();
        try {
            window->SaveSessionCommands(LogFileNameFromUtf16(FileName));
        } catch (const Exception& e) {
            // Past the connection, every failure is the file's: a name that names no file on
            // disk, or a file that could not be made or written.
            if (e.Kind() != TFailureKind::General) throw;
            throw ESystemError(e.Message(), TFailureKind::File, e.SystemErrorCode());
        }
    });
}

}  // namespace quor
