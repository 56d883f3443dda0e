// quorlib: the stimulator control object for Python on Linux.
//
// quorlib.Pulsyn has the members of IPulsyn with the same names, argument order and
// results, so that a script written for the automation server on Windows runs here by
// changing the line that makes the object. The out-values of the interface are return
// values (Python bool), Connected is a property, and a failed call raises quorlib.Error
// with the library's own message.
//
// Threads: the library belongs to the thread that first used it (see RequireLibraryThread).
// Making a Pulsyn binds that thread, so its calls work however the interpreter schedules
// threads. On that thread a call runs with the GIL released, so other Python threads go on
// while it waits for the device; on any other thread the call keeps the GIL and goes
// straight to the member, whose first step, the library's thread check, refuses it. So no
// second thread ever gets past that check while a command waits.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/MainThread.h"
#include "link/PortRequest.h"
#include "server/ErrorInfo.h"
#include "server/ObjPulsyn.h"

namespace py = pybind11;

namespace {

// A failed call: carries the library's message to quorlib.Error.
class TCallFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TWait { MayWait, Never };

// Runs one member and raises its failure. Members that may wait for the device or the
// port release the GIL on the library's thread (see the top of the file).
template <class Member>
void Call(Member&& member, TWait wait = TWait::MayWait) {
    HRESULT status;
    if (wait == TWait::Never || quor::IsAnotherThreadThanMain()) {
        status = member();
    } else {
        py::gil_scoped_release released;
        status = member();
    }
    if (status < 0) throw TCallFailed(quor::LastErrorInfo().Description);
}

bool IsTrue(VARIANT_BOOL value) { return value != VARIANT_FALSE; }

class TPythonPulsyn {
public:
    explicit TPythonPulsyn(const std::optional<std::string>& port) {
        quor::BindMainThread();
        // Made on another thread than the library's, the object could never be used: say so
        // now, with the library's message, rather than at its first call.
        Call([&] {
            return quor::RunGuarded([&] {
                if (port) FObject.SetRequestedPort(quor::ParsePortRequest(*port));
            });
        }, TWait::Never);
    }

    void ChangeParadigm(LONG paradigm) { Call([&] { return FObject.ChangeParadigm(paradigm); }); }
    void ChangeChannelMode(LONG channel, LONG mode) {
        // Any number reaches the member, which refuses those that are no mode.
        Call([&] { return FObject.ChangeChannelMode(channel, static_cast<ChannelModes>(mode)); });
    }
    bool GetConnected() {
        VARIANT_BOOL value = VARIANT_FALSE;
        Call([&] { return FObject.get_Connected(&value); }, TWait::Never);
        return IsTrue(value);
    }
    void SetConnected(bool value) {
        Call([&] { return FObject.put_Connected(value ? VARIANT_TRUE : VARIANT_FALSE); });
    }
    bool Connect() { return Result([&](VARIANT_BOOL* value) { return FObject.Connect(value); }); }
    void ClearParadigm() { Call([&] { return FObject.ClearParadigm(); }); }
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
    void ShowMonitor() { Call([&] { return FObject.ShowMonitor(); }); }
    void SaveSessionCommands(const std::u16string& fileName) {
        // With its length: a NUL inside the name is refused, not taken as its end.
        Call([&] { return FObject.SaveSessionCommands(std::u16string_view(fileName)); });
    }

    // The end of a with-block: disconnects, also when the block raised (which then goes on).
    bool Exit(const py::args&) {
        SetConnected(false);
        return false;
    }

private:
    template <class Member>
    bool Result(Member&& member) {
        VARIANT_BOOL value = VARIANT_FALSE;
        Call([&] { return member(&value); });
        return IsTrue(value);
    }

    quor::TPulsyn FObject;
};

// A path given as str, bytes or os.PathLike, as the automation string the member takes.
std::u16string FileNameArgument(const py::object& path) {
    const py::str name = py::module_::import("os").attr("fsdecode")(path);
    return name.cast<std::u16string>();
}

// The interface's enumerations as enum.IntEnum classes, their members also at module level
// (as a generated type library wrapper has them): quorlib.cmTrain, quorlib.csBipolar.
template <class Enumeration>
void AddEnumeration(py::module_& m, const char* name, std::initializer_list<std::pair<const char*, Enumeration>> members) {
    py::list pairs;
    for (const auto& [member, value] : members) pairs.append(py::make_tuple(member, static_cast<int>(value)));
    py::object type = py::module_::import("enum").attr("IntEnum")(name, pairs, py::arg("module") = "quorlib");
    m.attr(name) = type;
    for (const auto& member : members) m.attr(member.first) = type.attr(member.first);
}

}  // namespace

PYBIND11_MODULE(quorlib, m) {
    m.doc() = "The Pulsyn nine-channel pulse stimulator from Python on Linux: quorlib.Pulsyn has the "
              "members of the automation object QuorLib.Pulsyn.";

    py::register_exception<TCallFailed>(m, "Error", PyExc_RuntimeError);
    m.attr("Error").attr("__doc__") = "A call to the stimulator failed; the message says why and what to do.";

    AddEnumeration<ChannelModes>(m, "ChannelModes", {{"cmOff", cmOff}, {"cmFreeRun", cmFreeRun}, {"cmTrain", cmTrain},
                                                     {"cmTrig", cmTrig}, {"cmDC", cmDC}, {"cmGate", cmGate},
                                                     {"cmTwin", cmTwin}});
    AddEnumeration<ChannelShapes>(m, "ChannelShapes",
                                  {{"csMonopolar", csMonopolar}, {"csBipolar", csBipolar}, {"csRamp", csRamp}});

    py::class_<TPythonPulsyn>(m, "Pulsyn",
                              "The stimulator control object. port: \"COM7\" or a device path such as "
                              "\"/dev/ttyACM0\"; without it the port comes from a COMn argument of the "
                              "program (QUORLIB_COMn names its device), else the search. Use it from the "
                              "thread that made it.")
        .def(py::init<const std::optional<std::string>&>(), py::arg("port") = py::none())
        .def("ChangeParadigm", &TPythonPulsyn::ChangeParadigm, py::arg("ParadigmNumber"))
        .def("ChangeChannelMode", &TPythonPulsyn::ChangeChannelMode, py::arg("Channel"), py::arg("Mode"))
        .def_property("Connected", &TPythonPulsyn::GetConnected, &TPythonPulsyn::SetConnected)
        .def("Connect", &TPythonPulsyn::Connect, "Opens the stimulator's port; True when connected.")
        .def("ClearParadigm", &TPythonPulsyn::ClearParadigm)
        .def("CopyParadigm", &TPythonPulsyn::CopyParadigm, py::arg("DestParadigm"))
        .def("Trigger", &TPythonPulsyn::Trigger, py::arg("Channel"))
        .def("ConnectChannel", &TPythonPulsyn::ConnectChannel, py::arg("Channel1"), py::arg("Channel2"))
        .def("DisconnectChannel", &TPythonPulsyn::DisconnectChannel, py::arg("Channel1"), py::arg("Channel2"))
        .def("SetChannelDelay", &TPythonPulsyn::SetChannelDelay, py::arg("Channel"), py::arg("Delay"))
        .def("SetChannelDuration", &TPythonPulsyn::SetChannelDuration, py::arg("Channel"), py::arg("Duration"))
        .def("SetChannelInterval", &TPythonPulsyn::SetChannelInterval, py::arg("Channel"), py::arg("Interval"))
        .def("SetChannelN", &TPythonPulsyn::SetChannelN, py::arg("Channel"), py::arg("N"))
        .def("SetChannelVoltage", &TPythonPulsyn::SetChannelVoltage, py::arg("Channel"), py::arg("Voltage"))
        .def("SetChannelDeltaV", &TPythonPulsyn::SetChannelDeltaV, py::arg("Channel"), py::arg("DeltaV"))
        .def("SetChannelShape", &TPythonPulsyn::SetChannelShape, py::arg("Channel"), py::arg("Shape"))
        .def("ShowMonitor", &TPythonPulsyn::ShowMonitor,
             "Echoes the traffic log so far, then every new entry, to standard error.")
        .def(
            "SaveSessionCommands",
            [](TPythonPulsyn& self, const py::object& path) { self.SaveSessionCommands(FileNameArgument(path)); },
            py::arg("FileName"), "Saves the traffic log as a Rich Text Format document.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", &TPythonPulsyn::Exit);
}
