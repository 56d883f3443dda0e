// Which port the host names for the stimulator, before any search.
//
// A host command-line argument that begins with "COM" (any case) names it; the last such
// argument wins, and "COM0" asks for the search. Hosts without a command line of their own
// (Excel, MATLAB, LabVIEW) name it in the environment variable QUORLIB_PORT instead
// (QUORLIB_PORT=COM7, set for the user or the system); it is read only when no argument
// begins with "COM".
#pragma once

#include <cstdint>

namespace quor {

inline constexpr const char* kPortVariable = "QUORLIB_PORT";

// The port number named by the host, or 0 when it names none (the link then searches).
// Raises the integer conversion error for an argument "COM" + no number, and a message
// that says how to fix it for a QUORLIB_PORT that names no port.
int32_t PortNamedByHost();

}  // namespace quor
