// A port that the client program names itself, in place of its command line and the port
// search: the Python module's port= argument, since a Python program's own command line
// is not the place for it.
#pragma once

#include <cstdint>
#include <string>

namespace quor {

struct TPortRequest {
    int32_t Number = 0;  // port n, opened as PortDeviceName(n); 0 when Device is set
    std::string Device;  // POSIX: a device path opened as it is ("/dev/ttyUSB0")
};

// "COMn" (any case, n of 1 or more) or a device path (POSIX; any text with a "/" in it,
// absolute or relative to the working directory). Anything else is
// refused, saying what is accepted.
TPortRequest ParsePortRequest(const std::string& text);

}  // namespace quor
