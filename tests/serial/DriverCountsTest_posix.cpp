// What the serial port and the device link make of the driver's counts: the line errors it
// reports and the output it still holds when a port is closed (counts set through
// DriverSeam.h).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "DriverSeam.h"
#include "SerialLine.h"
#include "SerialTestSupport.h"

using namespace quor;

namespace {

class DriverCounts : public ::testing::Test {
protected:
    void TearDown() override {
        driver_seam::Release();
        ExpectEventThreadsEnd();
    }
    SerialLine line;
};

}  // namespace

// The error handler gets the kinds of line error that the driver counted since the last
// report, as the driver's error word, each kind once.
TEST_F(DriverCounts, LineErrorsReachTheErrorHandlerAsTheDriversErrorWord) {
    TestComm comm;
    comm.SetDeviceName(line.PortName());
    comm.SetMonitorEvents(0);  // the dispatches below are the only ones
    std::vector<int32_t> words;
    comm.SetOnError([&](TCustomComm*, int32_t errors) { words.push_back(errors); });
    comm.Open();
    driver_seam::Watch(static_cast<int>(comm.Handle()));

    driver_seam::LineErrors first;
    first.frame = 1;
    first.brk = 2;
    driver_seam::CountLineErrors(first);
    comm.DispatchEvents(nullptr, comm::EvErr);
    driver_seam::LineErrors second;
    second.overrun = 1;
    second.parity = 3;
    second.bufferOverrun = 1;
    driver_seam::CountLineErrors(second);
    comm.DispatchEvents(nullptr, comm::EvErr);
    comm.DispatchEvents(nullptr, comm::EvErr);  // nothing new
    EXPECT_EQ(words, (std::vector<int32_t>{comm::CeFrame | comm::CeBreak,
                                           comm::CeOverrun | comm::CeRxParity | comm::CeRxOver, 0}));
    comm.Close();
}
