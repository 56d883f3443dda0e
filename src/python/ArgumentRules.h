// The numbers a Python caller passes, taken by the rule of the automation server: a
// whole-number parameter (paradigm, channel, count, mode, shape) takes an int or any real
// number whose exact value is whole (a float, a numpy scalar, a Decimal, a Fraction); a value
// parameter (a time, a voltage) takes any real number. A bool, a numpy bool, text, None, a
// sequence or array, and a member of an enumeration where it does not belong are refused with
// quorlib.ArgumentError naming the parameter and what was passed, before anything is sent.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace quor::python {

// Which enumeration's members a whole-number parameter also takes.
enum class TMembers { None, ChannelModes, ChannelShapes };

// `parameter` is the automation name ("Channel"), as the library's messages name it.
int32_t WholeNumberArgument(pybind11::handle value, const char* parameter, TMembers members = TMembers::None);
double NumberArgument(pybind11::handle value, const char* parameter);
// A Boolean property (Connected): True or False, a numpy bool, or a whole number (any but 0
// is True).
bool BooleanArgument(pybind11::handle value, const char* property);
// A file name given as str, bytes or os.PathLike, as the automation string the member takes.
std::u16string FileNameArgument(pybind11::handle value, const char* parameter);

}  // namespace quor::python
