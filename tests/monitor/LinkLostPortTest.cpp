// A port whose device has gone (a USB adapter pulled out) is closed as soon as the link
// learns of it, so that nothing goes on watching a line that will never carry a byte again;
// every later command says that the port was lost.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "SerialLine.h"
#include "base/Deadline.h"
#include "base/MainThread.h"
#include "link/CommUnit.h"

namespace monitor_test {
namespace {

TEST(LinkLostPortTest, APortWhoseDeviceHasGoneIsClosedAndEveryLaterCommandSaysSo) {
    SerialLine line;
    quor::TfrmComm link;
    link.Comm32().SetDeviceName(line.PortName());
    link.Comm32().Open();
    link.SendCommand("T1");
    EXPECT_EQ(line.Receive(8), "=>0002T1");

    line.HangUp();
    // The hang-up reaches the port through the system; wait for it without spinning.
    const quor::TDeadline deadline = quor::TDeadline::In(std::chrono::seconds(5));
    while (!link.PortLost() && !deadline.Expired()) {
        quor::ProcessMessages();
        quor::WaitForMessages(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(link.PortLost());
    EXPECT_FALSE(link.Comm32().Enabled()) << "the lost port is still open (and watched)";
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            link.SendCommand("T2");
            ADD_FAILURE() << "a command on a lost port was reported as sent";
        } catch (const quor::Exception& e) {
            EXPECT_NE(e.Message().find("was closed, perhaps unplugged"), std::string::npos) << e.Message();
        }
    }
}

}  // namespace
}  // namespace monitor_test
