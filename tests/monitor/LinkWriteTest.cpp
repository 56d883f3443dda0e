// A command that the line does not take within the write time-out (output held, as by a
// flow-control stop or a stalled adapter) fails with the write error: it is never reported
// as sent.
#include <gtest/gtest.h>

#include <chrono>

#include "SerialLine.h"
#include "link/CommUnit.h"

namespace monitor_test {
namespace {

TEST(LinkWriteTest, ACommandTheLineDoesNotTakeInTimeFailsWithTheWriteError) {
    SerialLine line;
    quor::TfrmComm link;
    link.Comm32().SetDeviceName(line.PortName());
    link.Comm32().SetWriteTimeout(200);
    link.Comm32().Open();
    link.Comm32().SetXONState(false);  // output held, as after the far end's XOFF
    try {
        link.SendCommand("T1");
        FAIL() << "the held command was reported as sent";
    } catch (const quor::ECommError& e) {
        EXPECT_EQ(e.ErrorCode, quor::kCommTimeoutError);
        EXPECT_EQ(std::string(e.what()), "Write error: the stimulator's port did not take the command within 200 ms (Error: " +
                                             std::to_string(quor::kCommTimeoutError) + ") ");
    }
    // Released, the line carries the next command.
    link.Comm32().SetXONState(true);
    link.SendCommand("T2");
    EXPECT_EQ(line.Receive(8), "=>0002T2");
}

}  // namespace
}  // namespace monitor_test
