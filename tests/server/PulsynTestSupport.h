// Shared fixture of the control object's tests: a clean process state (no window), both
// simulated devices fresh, the host's command line naming device A's port, and short
// limits so that a silent device costs a fraction of a second.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "SimBench.h"
#include "link/CommUnit.h"
#include "server/LinkRegistry.h"
#include "server/ObjPulsyn.h"

namespace bench {

class PulsynTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Args(std::vector<std::string> arguments);
    // Connects p through the command line's port and expects a connection.
    void ConnectTo(quor::TPulsyn& p);
    // Processes messages until `done` holds or the time is up; returns `done()`.
    static bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // The sent/received entries of the log, as marker-free texts: "> =", "< OK." ...
    static std::vector<std::string> LogLines();
    // Description, source and interface of the thread's last error information.
    static std::string LastDescription();
    static std::string LastSource();

private:
    std::vector<std::string> FArguments;
    quor::TLinkPolicy FPolicy{};
};

}  // namespace bench
