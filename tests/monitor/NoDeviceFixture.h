// A fixture whose connect finds no device (no port named, the search finds none): the
// connection exists without a port, and its log can be shown and saved.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "MonitorTestSupport.h"
#include "base/HostInfo.h"
#include "link/PortNames.h"
#include "server/LinkRegistry.h"

namespace monitor_test {

// The automation calls that reach the window through the connection.
class MonitorCallsTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        Link.reset();
        quor::ReleaseAllLinks();
        quor::SetHostArgumentsForTesting(&NoArguments);
#ifdef _WIN32
        quor::SetDosDeviceQueryForTesting([](const char*, char*, uint32_t) -> uint32_t { return 0; });
#else
        for (int port = quor::kFirstPort; port <= quor::kLastPort; ++port) {
            setenv(("QUORLIB_COM" + std::to_string(port)).c_str(), "/nonexistent/quor-monitor-test", 1);
        }
#endif
    }
    void TearDown() override {
        quor::ReleaseAllLinks();
        quor::SetHostArgumentsForTesting(nullptr);
#ifdef _WIN32
        quor::SetDosDeviceQueryForTesting(nullptr);
#else
        for (int port = quor::kFirstPort; port <= quor::kLastPort; ++port) {
            unsetenv(("QUORLIB_COM" + std::to_string(port)).c_str());
        }
#endif
        MonitorTest::TearDown();
    }
    std::vector<std::string> NoArguments;
};

}  // namespace monitor_test
