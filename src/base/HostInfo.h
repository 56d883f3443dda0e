// What the library learns from its host: the process's command-line arguments, the local
// time as the traffic log shows it, and the trace channel a debugger listens to.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quor {

// The host process's command-line arguments after the program path, as UTF-8.
std::vector<std::string> HostArguments();
// Tests replace the arguments the library sees; nullptr restores the real ones.
void SetHostArgumentsForTesting(const std::vector<std::string>* arguments);

// The value of one of the host process's environment variables, as UTF-8; empty when it is
// not set. (On Windows the process's environment holds the user's and the system's
// variables as they were when the program started.)
std::string HostEnvironmentVariable(const std::string& name);

// The local time of day "hh:nn:ss:zzz" (24-hour clock, milliseconds), separated by the
// user's time separator (":" unless the user's regional settings say otherwise).
std::string LocalTimeStamp();

// Writes one line to the debugger's trace channel (OutputDebugString on Windows; standard
// error on POSIX when QUORLIB_TRACE is set). Tests may listen in.
void Trace(const std::string& line);
using TraceListener = std::function<void(const std::string& line)>;
void SetTraceListenerForTesting(TraceListener listener);

}  // namespace quor
