#include "HostInfo.h"

#include <mutex>

#include "HostInfoPlatform.h"

namespace quor {

namespace {
std::mutex g_mutex;
bool g_argumentsOverridden = false;
std::vector<std::string> g_arguments;
TraceListener g_listener;
}  // namespace

std::vector<std::string> HostArguments() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_argumentsOverridden) return g_arguments;
    }
    return platform::ProcessArguments();
}

void SetHostArgumentsForTesting(const std::vector<std::string>* arguments) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_argumentsOverridden = arguments != nullptr;
    g_arguments = arguments ? *arguments : std::vector<std::string>{};
}

std::string HostEnvironmentVariable(const std::string& name) { return platform::EnvironmentVariable(name); }

std::string LocalTimeStamp() {
    const platform::TimeOfDay t = platform::LocalTimeOfDay();
    const std::string sep = platform::TimeSeparator();
    auto two = [](int v) { return std::string{char('0' + v / 10 % 10), char('0' + v % 10)}; };
    return two(t.hour) + sep + two(t.minute) + sep + two(t.second) + sep +
           std::string{char('0' + t.millisecond / 100 % 10), char('0' + t.millisecond / 10 % 10),
                       char('0' + t.millisecond % 10)};
}

void Trace(const std::string& line) {
    TraceListener listener;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        listener = g_listener;
    }
    if (listener) listener(line);
    platform::WriteTrace(line);
}

void SetTraceListenerForTesting(TraceListener listener) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listener = std::move(listener);
}

}  // namespace quor
