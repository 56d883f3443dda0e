#include "ArgumentRules.h"

#include <limits>
#include <string>

#include "base/Exceptions.h"
#include "server/LateBoundArguments.h"

namespace py = pybind11;

namespace quor::python {

namespace {

[[noreturn]] void RaiseArgumentError(const std::string& message, const char* parameter) {
    const py::object error =
        py::module_::import("quorlib._errors").attr("ArgumentError")(message, py::arg("parameter") = parameter);
    PyErr_SetObject(error.get_type().ptr(), error.ptr());
    throw py::error_already_set();
}

// Runs one of the automation server's judgements; its refusal becomes an ArgumentError.
template <class Judgement>
auto Judged(const char* parameter, Judgement&& judge) {
    try {
        return judge();
    } catch (const Exception& refusal) {
        RaiseArgumentError(refusal.Message(), parameter);
    }
}

// The value as a message shows it: its repr, short, with its type where the repr hides it
// (numpy's 2.5 is a float16).
std::string Shown(py::handle value) {
    constexpr size_t kShown = 64;  // room for a Decimal of 28 digits
    std::string text = py::repr(value).cast<std::string>();
    if (text.size() > kShown) text = text.substr(0, kShown) + "...";
    if (value.is_none() || PyFloat_CheckExact(value.ptr()) || PyLong_CheckExact(value.ptr())) return text;
    const py::handle type = py::type::handle_of(value);
    const std::string name = type.attr("__qualname__").cast<std::string>();
    if (text.find(name) != std::string::npos) return text;
    const std::string module = type.attr("__module__").cast<std::string>();
    return text + " (" + (module == "builtins" ? name : module + "." + name) + ")";
}

bool IsBoolean(py::handle value) {
    if (PyBool_Check(value.ptr())) return true;
    const py::handle type = py::type::handle_of(value);
    return type.attr("__module__").cast<std::string>() == "numpy" &&
           type.attr("__name__").cast<std::string>().rfind("bool", 0) == 0;
}

bool IsReal(py::handle value) {
    return py::isinstance(value, py::module_::import("numbers").attr("Real")) ||
           py::isinstance(value, py::module_::import("decimal").attr("Decimal"));
}

// A sequence or an array (a list, text, a numpy array of any shape) is no number, even where
// Python would take one element as one.
bool IsSequence(py::handle value) { return PySequence_Check(value.ptr()) == 1; }

TPassedArgument Refused(py::handle value) {
    TPassedArgument passed = TPassedArgument::Of(TPassedArgument::TKind::Other);
    passed.Shown = Shown(value);
    return passed;
}

// A Python int of any size: beyond 64 bits it is judged by its magnitude alone.
TPassedArgument WholeOf(py::handle integer, py::handle value) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
    TPassedArgument passed = overflow == 0 ? TPassedArgument::OfInteger(number)
                                           : TPassedArgument::OfReal(overflow * std::numeric_limits<double>::max());
    if (overflow != 0 || !PyLong_CheckExact(value.ptr())) passed.Shown = Shown(value);
    return passed;
}

// What a whole-number parameter was given: an integer when the value is exactly whole.
TPassedArgument PassedWhole(py::handle value, TMembers members) {
    if (PyLong_CheckExact(value.ptr())) return WholeOf(value, value);  // the common case, neither bool nor member
    if (IsBoolean(value)) {
        TPassedArgument passed = TPassedArgument::Of(TPassedArgument::TKind::Boolean);
        passed.Boolean = PyObject_IsTrue(value.ptr()) == 1;
        return passed;
    }
    if (py::isinstance(value, py::module_::import("enum").attr("Enum"))) {
        const char* taken = members == TMembers::ChannelModes    ? "ChannelModes"
                            : members == TMembers::ChannelShapes ? "ChannelShapes"
                                                                 : nullptr;
        const py::handle type = py::type::handle_of(value);
        if (!taken || !type.is(py::module_::import("quorlib").attr(taken))) {
            TPassedArgument passed = Refused(value);
            passed.Shown = type.attr("__name__").cast<std::string>() + "." +
                           value.attr("name").cast<std::string>() + " (a member of another enumeration)";
            return passed;
        }
    }
    if (IsSequence(value)) return Refused(value);
    if (PyIndex_Check(value.ptr())) {
        const py::object integer = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
        if (!integer) throw py::error_already_set();
        return WholeOf(integer, value);
    }
    if (!IsReal(value)) return Refused(value);
    py::tuple ratio;
    try {
        ratio = value.attr("as_integer_ratio")();
    } catch (py::error_already_set&) {
        // NaN or an infinity (or a real type without the method): judged as a float.
        TPassedArgument passed = TPassedArgument::OfReal(PyFloat_AsDouble(value.ptr()));
        if (PyErr_Occurred()) throw py::error_already_set();
        passed.Shown = Shown(value);
        return passed;
    }
    if (ratio[1].cast<py::int_>().equal(py::int_(1))) return WholeOf(ratio[0], value);
    return Refused(value);  // not whole, however close its nearest float may be to a whole number
}

}  // namespace

int32_t WholeNumberArgument(py::handle value, const char* parameter, TMembers members) {
    const TPassedArgument passed = PassedWhole(value, members);
    return Judged(parameter, [&] { return quor::WholeNumberArgument(parameter, passed, TNumberFormat{}); });
}

double NumberArgument(py::handle value, const char* parameter) {
    if (PyFloat_CheckExact(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());  // the common case
    TPassedArgument passed;
    if (IsBoolean(value) || IsSequence(value) || py::isinstance(value, py::module_::import("enum").attr("Enum"))) {
        passed = PassedWhole(value, TMembers::None);  // refused as there
    } else if (PyIndex_Check(value.ptr()) || IsReal(value)) {
        const double number = PyFloat_AsDouble(value.ptr());
        if (!PyErr_Occurred()) return number;
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
        PyErr_Clear();
        // Beyond a float: no time or voltage the device takes, which the member says.
        const int negative = PyObject_RichCompareBool(value.ptr(), py::int_(0).ptr(), Py_LT);
        if (negative < 0) throw py::error_already_set();
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else {
        passed = Refused(value);
    }
    return Judged(parameter, [&] { return quor::NumberArgument(parameter, passed, TNumberFormat{}); });
}

bool BooleanArgument(py::handle value, const char* property) {
    return Judged(property, [&] { return quor::BooleanArgument(property, PassedWhole(value, TMembers::None)); });
}

std::u16string FileNameArgument(py::handle value, const char* parameter) {
    py::str name;
    try {
        name = py::module_::import("os").attr("fsdecode")(value);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_TypeError)) throw;
        Judged(parameter, [&] { RequireTextArgument(parameter, Refused(value)); });
    }
    return name.cast<std::u16string>();
}

}  // namespace quor::python
