// quorlib._quorlib: the stimulator control object for Python on Linux, under the pure-Python
// package quorlib (which adds the exception classes, the port list, the command line and
// logging of the traffic).
//
// Pulsyn has the members of IPulsyn with the same names, argument order and results, so that
// a script written for the automation server on Windows runs here by changing the line that
// makes the object. The out-values of the interface are return values (Python bool),
// Connected is a property, and a failed call raises the quorlib exception class of its kind
// with the library's own message.
//
// Threads: any thread may use any object. Every call runs with the GIL released, so other
// Python threads go on while it waits for the device; calls on one object, and commands on
// one connection, wait their turn (the library serialises them), while objects on different
// devices work in parallel. Nothing binds the module to a thread.
//
// Ctrl+C: while a call waits (for the device, or for its turn), the library asks at every
// pass (at least every 50 ms) whether a signal is pending; in the main thread Python's
// handler then runs (KeyboardInterrupt), the wait ends as if the reply never came (a late
// reply is skipped), and the handler's exception is raised by that call.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ArgumentRules.h"
#include "link/CommUnit.h"
#include "link/PortNames.h"
#include "link/PortRequest.h"
#include "server/ErrorInfo.h"
#include "server/ObjPulsyn.h"

namespace py = pybind11;

namespace {

// The exception a signal handler raised while a call waited (KeyboardInterrupt for Ctrl+C),
// raised again once the call has returned, by the thread whose call it interrupted (handlers
// run in the main thread only). Touched only with the GIL held.
thread_local std::optional<py::error_already_set> pendingSignal;

bool SignalPending() {
    py::gil_scoped_acquire gil;
    if (pendingSignal) return true;  // raised in Python code the link called (the traffic logging)
    if (PyErr_CheckSignals() == 0) return false;
    pendingSignal.emplace();  // takes the handler's exception
    return true;
}

// The quorlib exception class for a kind of failure (quorlib/_errors.py).
py::object ErrorClass(quor::TFailureKind kind) {
    const py::module_ errors = py::module_::import("quorlib._errors");
    switch (kind) {
        case quor::TFailureKind::Refused: return errors.attr("ArgumentError");
        case quor::TFailureKind::Port: return errors.attr("PortError");
        case quor::TFailureKind::NotConnected: return errors.attr("NotConnectedError");
        case quor::TFailureKind::PortLost: return errors.attr("PortLostError");
        case quor::TFailureKind::NoReply: return errors.attr("NoReplyError");
        case quor::TFailureKind::File: return errors.attr("LogFileError");
        default: return errors.attr("Error");
    }
}

[[noreturn]] void RaiseFailure() {
    const quor::TErrorInfoRecord& info = quor::LastErrorInfo();
    if (info.Kind == quor::TFailureKind::Interrupted && pendingSignal) {
        py::error_already_set signal = std::move(*pendingSignal);
        pendingSignal.reset();
        throw signal;
    }
    // The system's error number of a port or file failure comes first, as OSError takes it.
    py::object error;
    if (info.Kind == quor::TFailureKind::Port || info.Kind == quor::TFailureKind::File) {
        error = ErrorClass(info.Kind)(info.SystemErrorCode ? py::int_(info.SystemErrorCode) : py::object(py::none()),
                                      info.Description);
    } else if (info.Kind == quor::TFailureKind::Refused && !info.Parameter.empty()) {
        error = ErrorClass(info.Kind)(info.Description, py::arg("parameter") = info.Parameter);
    } else {
        error = ErrorClass(info.Kind)(info.Description);
    }
    PyErr_SetObject(error.get_type().ptr(), error.ptr());
    throw py::error_already_set();
}

// Runs one member and raises its failure. The GIL is released meanwhile: a member may wait
// for the device, or for another thread's call on the same object or connection, whose
// traffic logging needs the GIL to go on.
template <class Member>
void Call(Member&& member) {
    HRESULT status;
    {
        py::gil_scoped_release released;
        status = member();
    }
    if (status < 0) RaiseFailure();
    if (pendingSignal) {
        // A signal whose handler ran in the traffic logging of a call that did not wait.
        py::error_already_set signal = std::move(*pendingSignal);
        pendingSignal.reset();
        throw signal;
    }
}

bool IsTrue(VARIANT_BOOL value) { return value != VARIANT_FALSE; }

class TPythonPulsyn {
public:
    TPythonPulsyn(const std::optional<std::string>& port, double timeout) {
        // The module never reads the interpreter's command line: a script's own arguments
        // are no port names. quorlib.Pulsyn passes QUORLIB_PORT in as port.
        FObject.SetUsesHostPortChoice(false);
        FObject.SetMissingReplyFails(true);
        SetTimeout(timeout);
        Call([&] {
            return quor::RunGuarded([&] {
                if (port) FObject.SetRequestedPort(quor::ParsePortRequest(*port));
            });
        });
    }

    void ChangeParadigm(LONG paradigm) { Call([&] { return FObject.ChangeParadigm(paradigm); }); }
    void ChangeChannelMode(LONG channel, LONG mode) {
        // Any number reaches the member, which refuses those that are no mode.
        Call([&] { return FObject.ChangeChannelMode(channel, static_cast<ChannelModes>(mode)); });
    }
    bool GetConnected() {
        VARIANT_BOOL value = VARIANT_FALSE;
        Call([&] { return FObject.get_Connected(&value); });
        return IsTrue(value);
    }
    void SetConnected(bool value) {
        Call([&] { return FObject.put_Connected(value ? VARIANT_TRUE : VARIANT_FALSE); });
    }
    bool Connect() { return Result([&](VARIANT_BOOL* value) { return FObject.Connect(value); }); }
    void ClearParadigm() { Call([&] { return FObject.ClearParadigm(); }); }
    std::string Ping() {
        std::string reply;
        Call([&] { return FObject.Ping(reply); });
        return reply;
    }
    void CopyParadigm(LONG destination) { Call([&] { return FObject.CopyParadigm(destination); }); }
    void Trigger(LONG channel) { Call([&] { return FObject.Trigger(channel); }); }
    void ConnectChannel(LONG channel1, LONG channel2) {
        Call([&] { return FObject.ConnectChannel(channel1, channel2); });
    }
    void DisconnectChannel(LONG channel1, LONG channel2) {
        Call([&] { return FObject.DisconnectChannel(channel1, channel2); });
    }
    bool SetChannelDelay(LONG channel, double delay) {
        return Result([&](VARIANT_BOOL* value) { return FObject.SetChannelDelay(channel, delay, value); });
    }
    bool SetChannelDuration(LONG channel, double duration) {
        return Result([&](VARIANT_BOOL* value) { return FObject.SetChannelDuration(channel, duration, value); });
    }
    bool SetChannelInterval(LONG channel, double interval) {
        return Result([&](VARIANT_BOOL* value) { return FObject.SetChannelInterval(channel, interval, value); });
    }
    bool SetChannelN(LONG channel, LONG count) {
        return Result([&](VARIANT_BOOL* value) { return FObject.SetChannelN(channel, count, value); });
    }
    bool SetChannelVoltage(LONG channel, double voltage) {
        return Result([&](VARIANT_BOOL* value) { return FObject.SetChannelVoltage(channel, voltage, value); });
    }
    bool SetChannelDeltaV(LONG channel, double step) {
        return Result([&](VARIANT_BOOL* value) { return FObject.SetChannelDeltaV(channel, step, value); });
    }
    bool SetChannelShape(LONG channel, LONG shape) {
        return Result([&](VARIANT_BOOL* value) {
            return FObject.SetChannelShape(channel, static_cast<ChannelShapes>(shape), value);
        });
    }
    void SaveSessionCommands(const std::u16string& fileName) {
        // With its length: a NUL inside the name is refused, not taken as its end.
        Call([&] { return FObject.SaveSessionCommands(std::u16string_view(fileName)); });
    }

    double Timeout() const { return FTimeout; }
    void SetTimeout(double seconds) {
        if (!(seconds > 0 && seconds <= 3600)) {
            PyErr_SetObject(ErrorClass(quor::TFailureKind::Refused).ptr(),
                            py::str("timeout must be a number of seconds above 0 and at most 3600, not {!r}")
                                .attr("format")(seconds)
                                .ptr());
            throw py::error_already_set();
        }
        FTimeout = seconds;
        const std::chrono::milliseconds limit(static_cast<long long>(std::ceil(seconds * 1000)));
        py::gil_scoped_release released;  // waits for another thread's call on the object
        FObject.SetReplyTimeout(limit);
    }
    std::string PortName() const {
        py::gil_scoped_release released;  // waits for another thread's call on the object
        return FObject.ConnectedPortName();
    }
    // The connection's log so far, as (port, sent, bytes) entries.
    py::list TrafficSoFar() {
        std::shared_ptr<quor::TfrmComm> link;
        std::string port;
        std::vector<quor::TTrafficEntry> copied;
        Call([&] {
            return quor::RunGuarded([&] {
                link = FObject.ConnectedLink();
                const quor::TfrmComm::TExclusive turn(*link);  // the log is not appended to meanwhile
                port = link->PortName();
                for (const quor::TTrafficEntry& entry : link->Log().Entries()) copied.push_back(entry);
            });
        });
        py::list entries;
        for (const quor::TTrafficEntry& entry : copied) entries.append(py::make_tuple(port, entry.Sent, py::bytes(entry.Text)));
        return entries;
    }

private:
    template <class Member>
    bool Result(Member&& member) {
        VARIANT_BOOL value = VARIANT_FALSE;
        Call([&] { return member(&value); });
        return IsTrue(value);
    }

    quor::TPulsyn FObject;
    double FTimeout = 15;
};

}  // namespace

PYBIND11_MODULE(_quorlib, m) {
    m.doc() = "The native half of quorlib: the control object over the library's device link.";
    m.attr("__version__") = QUOR_VERSION;
    quor::TfrmComm::SetInterruptCheck(SignalPending);

    m.def("set_traffic_listener", [](const py::object& listener) {
        if (listener.is_none()) {
            quor::TfrmComm::SetTrafficListener(nullptr);
            return;
        }
        // Kept for the life of the process: the library may outlive the interpreter's objects.
        PyObject* const callable = listener.inc_ref().ptr();
        quor::TfrmComm::SetTrafficListener([callable](const quor::TfrmComm& link, const quor::TTrafficEntry& entry) {
            if (!Py_IsInitialized()) return;
            py::gil_scoped_acquire gil;
            try {
                const py::handle function(callable);
                function(link.PortName(), entry.Sent, py::bytes(entry.Text));
            } catch (py::error_already_set& e) {
                // Python code may run a signal's handler (Ctrl+C): its exception is raised by the
                // waiting call. Any other failure of the logging never breaks a command.
                if (e.matches(PyExc_Exception)) {
                    e.discard_as_unraisable("quorlib's traffic logging");
                } else if (!pendingSignal) {
                    pendingSignal.emplace(std::move(e));
                }
            }
        });
    });
    m.def("candidate_ports", [] {
        // The ports the search tries, lowest first, with the devices they name.
        py::list ports;
        for (const std::string& name : quor::ListVCPPorts()) {
            const int number = std::stoi(name.substr(7));  // "\\.\COMn"
            ports.append(py::make_tuple(number, quor::PortDeviceName(number)));
        }
        return ports;
    });
    m.def("port_device", [](const std::string& port) {
        const quor::TPortRequest request = quor::ParsePortRequest(port);
        return request.Device.empty() ? quor::PortDeviceName(request.Number) : request.Device;
    });

    // Every argument is taken as a Python object and judged by ArgumentRules.h, so that a
    // wrong one raises quorlib.ArgumentError naming its parameter.
    using quor::python::NumberArgument;
    using quor::python::TMembers;
    using quor::python::WholeNumberArgument;
    using TSelf = TPythonPulsyn;
    const auto value_setter = [](bool (TSelf::*member)(LONG, double), const char* parameter) {
        return [member, parameter](TSelf& self, py::handle channel, py::handle value) {
            const LONG number = WholeNumberArgument(channel, "Channel");
            return (self.*member)(number, NumberArgument(value, parameter));
        };
    };
    const auto channel_pair = [](void (TSelf::*member)(LONG, LONG)) {
        return [member](TSelf& self, py::handle channel1, py::handle channel2) {
            const LONG first = WholeNumberArgument(channel1, "Channel1");
            (self.*member)(first, WholeNumberArgument(channel2, "Channel2"));
        };
    };
    py::class_<TSelf>(m, "Pulsyn")
        .def(py::init([](py::handle port, py::handle timeout) {
                 std::optional<std::string> named;
                 if (!port.is_none()) {
                     named = py::cast(quor::python::FileNameArgument(port, "port")).cast<std::string>();
                 }
                 return new TSelf(named, NumberArgument(timeout, "timeout"));
             }),
             py::arg("port") = py::none(), py::arg("timeout") = 15.0)
        .def("ChangeParadigm",
             [](TSelf& self, py::handle paradigm) {
                 self.ChangeParadigm(WholeNumberArgument(paradigm, "ParadigmNumber"));
             })
        .def("ChangeChannelMode",
             [](TSelf& self, py::handle channel, py::handle mode) {
                 const LONG number = WholeNumberArgument(channel, "Channel");
                 self.ChangeChannelMode(number, WholeNumberArgument(mode, "Mode", TMembers::ChannelModes));
             })
        .def_property(
            "Connected", &TSelf::GetConnected,
            [](TSelf& self, py::handle value) { self.SetConnected(quor::python::BooleanArgument(value, "Connected")); })
        .def_property(
            "timeout", &TSelf::Timeout,
            [](TSelf& self, py::handle seconds) { self.SetTimeout(NumberArgument(seconds, "timeout")); })
        .def_property_readonly("port_name", &TSelf::PortName)
        .def("Connect", &TSelf::Connect)
        .def("ClearParadigm", &TSelf::ClearParadigm)
        .def("ping", [](TSelf& self) { return py::str(py::bytes(self.Ping()).attr("decode")("latin-1")); })
        .def("CopyParadigm",
             [](TSelf& self, py::handle destination) {
                 self.CopyParadigm(WholeNumberArgument(destination, "DestParadigm"));
             })
        .def("Trigger", [](TSelf& self, py::handle channel) { self.Trigger(WholeNumberArgument(channel, "Channel")); })
        .def("ConnectChannel", channel_pair(&TSelf::ConnectChannel))
        .def("DisconnectChannel", channel_pair(&TSelf::DisconnectChannel))
        .def("SetChannelDelay", value_setter(&TSelf::SetChannelDelay, "Delay"))
        .def("SetChannelDuration", value_setter(&TSelf::SetChannelDuration, "Duration"))
        .def("SetChannelInterval", value_setter(&TSelf::SetChannelInterval, "Interval"))
        .def("SetChannelN",
             [](TSelf& self, py::handle channel, py::handle count) {
                 const LONG number = WholeNumberArgument(channel, "Channel");
                 return self.SetChannelN(number, WholeNumberArgument(count, "N"));
             })
        .def("SetChannelVoltage", value_setter(&TSelf::SetChannelVoltage, "Voltage"))
        .def("SetChannelDeltaV", value_setter(&TSelf::SetChannelDeltaV, "DeltaV"))
        .def("SetChannelShape",
             [](TSelf& self, py::handle channel, py::handle shape) {
                 const LONG number = WholeNumberArgument(channel, "Channel");
                 return self.SetChannelShape(number, WholeNumberArgument(shape, "Shape", TMembers::ChannelShapes));
             })
        .def("_traffic_so_far", &TSelf::TrafficSoFar)
        .def("SaveSessionCommands",
             [](TSelf& self, py::handle path) {
                 self.SaveSessionCommands(quor::python::FileNameArgument(path, "FileName"));
             });
}
