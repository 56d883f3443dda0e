#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "HostInfoPlatform.h"

namespace quor::platform {

std::vector<std::string> ProcessArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        arguments.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    if (!arguments.empty()) arguments.erase(arguments.begin());  // the program path
    return arguments;
}

std::string EnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

TimeOfDay LocalTimeOfDay() {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000)};
}

std::string TimeSeparator() { return ":"; }

void WriteTrace(const std::string& line) {
    static const bool enabled = std::getenv("QUORLIB_TRACE") != nullptr;
    if (enabled) std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace quor::platform
