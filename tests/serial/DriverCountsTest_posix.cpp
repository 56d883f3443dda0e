// What the serial port and the device link make of the driver's counts: the line errors it
// reports and the output it still holds when a port is closed (counts set through
// DriverSeam.h).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "DriverSeam.h"
#include "SerialLine.h"
#include "SerialTestSupport.h"
#include "link/CommUnit.h"

using namespace quor;

namespace {

class DriverCounts : public ::testing::Test {
protected:
    void TearDown() override {
        driver_seam::Release();
        ExpectEventThreadsEnd();
    }
    // A link with its port open on the test line (a write time-out in ms, or the default).
    std::unique_ptr<TfrmComm> OpenLink(int32_t writeTimeout = 0) {
        auto link = std::make_unique<TfrmComm>();
        link->Comm32().SetDeviceName(line.PortName());
        if (writeTimeout > 0) link->Comm32().SetWriteTimeout(writeTimeout);
        link->Comm32().Open();
        return link;
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

// Closing a port discards what its driver has not sent, so the link lets the line carry
// it first: a trigger written just before a disconnect reaches the stimulator.
TEST_F(DriverCounts, TheLinkClosesItsPortOnceTheLineHasCarriedTheOutput) {
    auto link = OpenLink();
    link->SendCommand("T1");
    EXPECT_EQ(line.Receive(8), "=>0002T1");
    driver_seam::Watch(static_cast<int>(link->Comm32().Handle()));
    driver_seam::QueueOutput(64, 16);  // the command still on its way
    link.reset();
    const driver_seam::Record seen = driver_seam::Seen();
    EXPECT_TRUE(seen.closed);
    EXPECT_EQ(seen.queuedAtClose, 0);
    EXPECT_EQ(seen.discarded, 0) << "closed before the line had carried the output";
    EXPECT_GE(seen.looks, 5);
}

// A line that carries nothing (held by flow control, a stalled adapter) holds the closing
// only for the write time-out; what it still holds is then discarded, so that closing
// never waits on it.
TEST_F(DriverCounts, ALineThatCarriesNothingIsClosedAfterTheWriteTimeOut) {
    auto link = OpenLink(100);
    driver_seam::Watch(static_cast<int>(link->Comm32().Handle()));
    driver_seam::QueueOutput(64, 0);
    link.reset();
    const driver_seam::Record seen = driver_seam::Seen();
    EXPECT_TRUE(seen.closed);
    EXPECT_EQ(seen.discarded, 64);
    EXPECT_EQ(seen.queuedAtClose, 0);
}

// A write is complete once the line has carried it: a slow line holds the call for as long
// as it takes, and nothing is discarded.
TEST_F(DriverCounts, AWriteReturnsOnceTheLineHasCarriedIt) {
    auto link = OpenLink();
    driver_seam::Watch(static_cast<int>(link->Comm32().Handle()));
    driver_seam::QueueOutput(64, 16);
    link->SendCommand("T1");
    EXPECT_EQ(line.Receive(8), "=>0002T1");
    const driver_seam::Record seen = driver_seam::Seen();
    EXPECT_EQ(seen.discarded, 0);
    EXPECT_GE(seen.looks, 5);
}

// A line that carries nothing: the command fails once the write time-out has passed, and
// what the port still holds for the line is discarded, so that it never reaches the device
// after the call has reported the failure.
TEST_F(DriverCounts, ACommandTheLineDoesNotCarryInTimeFailsAndIsDiscarded) {
    auto link = OpenLink(100);
    driver_seam::Watch(static_cast<int>(link->Comm32().Handle()));
    driver_seam::QueueOutput(64, 0);
    try {
        link->SendCommand("T1");
        FAIL() << "a command the line did not carry was reported as sent";
    } catch (const ECommError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Write error: the stimulator's port did not take the command within 100 ms", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(driver_seam::Seen().discarded, 64);
    link.reset();
}
