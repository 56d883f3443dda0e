// Platform half of HostInfo: one implementation per system.
#pragma once

#include <string>
#include <vector>

namespace quor::platform {

struct TimeOfDay {
    int hour, minute, second, millisecond;
};

std::vector<std::string> ProcessArguments();
std::string EnvironmentVariable(const std::string& name);
TimeOfDay LocalTimeOfDay();
std::string TimeSeparator();
void WriteTrace(const std::string& line);

}  // namespace quor::platform
