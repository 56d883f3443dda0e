// What the serial port and the device link make of the driver's counts: the line errors it
// reports and the output it still holds when a port is closed (counts set through
// DriverSeam.h).
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
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

// A line that stops carrying, at a command's prompt or at its frame: the command fails once
// the write time-out has passed, and what the port still holds of it is discarded, so that
// it never reaches the device after the call has reported the failure. A purge the driver
// refuses is said in the call's message and in the log: the rest may still go out.
TEST_F(DriverCounts, WhatTheLineDidNotCarryOfAFailedCommandIsDiscarded) {
    const struct {
        const char* name;
        bool heldAtFrame;  // the prompt went out whole, the frame stalls
        bool dialogue;
        int purgeError;
    } cases[] = {
        {"trigger, prompt held", false, false, 0},     {"trigger, frame held", true, false, 0},
        {"dialogue, prompt held", false, true, 0},     {"dialogue, frame held", true, true, 0},
        {"trigger, purge refused", true, false, EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto link = OpenLink(100);
        driver_seam::Watch(static_cast<int>(link->Comm32().Handle()));
        driver_seam::FailPurges(c.purgeError);
        bool held = false;
        const auto hold = [&] {
            if (held) return;
            held = true;
            driver_seam::QueueOutput(64, 0);
        };
        if (c.heldAtFrame) {
            TfrmComm::SetPumpHookForTesting(hold);  // the first pump is the prompt's log entry
        } else {
            hold();
        }
        std::string message;
        try {
            if (c.dialogue) {
                link->Dialogue("Y3");
            } else {
                link->SendCommand("T1");
            }
            ADD_FAILURE() << "a command the line did not carry was reported as sent";
        } catch (const ECommError& e) {
            message = e.what();
        }
        TfrmComm::SetPumpHookForTesting(nullptr);
        EXPECT_EQ(message.rfind("Write error: the stimulator's port did not take the command within ", 0), 0u) << message;
        const driver_seam::Record seen = driver_seam::Seen();
        EXPECT_EQ(seen.purges, 1);
        EXPECT_EQ(seen.discarded, c.purgeError ? 0 : 64);
        const std::string refused = "What the port still held of the command could not be discarded (Error: " +
                                    std::to_string(c.purgeError) + "), so it may still reach the stimulator.";
        if (c.purgeError) {
            EXPECT_EQ(message.substr(message.find(") ") + 2), refused) << message;
            ASSERT_FALSE(link->Log().Entries().empty());
            const std::string logged = link->Log().Entries().back().Text;
            EXPECT_EQ(logged.substr(logged.find(":.....") + 6), "Purge failed: " + refused);
        } else {
            EXPECT_EQ(message.find("could not be discarded"), std::string::npos) << message;
        }
        driver_seam::Release();
        link.reset();
    }
}

// A command written whole has left the port: a failure after it (no reply, an interrupt)
// discards nothing, since a purge could take back bytes the line had not yet carried.
TEST_F(DriverCounts, NothingIsDiscardedAfterACommandWasWrittenWhole) {
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "interrupted" : "no reply");
        auto link = OpenLink();
        link->ReplyTimeout = std::chrono::milliseconds(50);
        link->MissingReplyFails = true;
        if (interrupted) TfrmComm::SetInterruptCheck([] { return true; });
        driver_seam::Watch(static_cast<int>(link->Comm32().Handle()));
        try {
            link->Dialogue("Y3");
            ADD_FAILURE() << "the dialogue did not fail";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Kind(), interrupted ? TFailureKind::Interrupted : TFailureKind::NoReply) << e.what();
        }
        TfrmComm::SetInterruptCheck(nullptr);
        EXPECT_EQ(driver_seam::Seen().purges, 0);
        EXPECT_EQ(line.Receive(9), "=>0003Y3R");
        driver_seam::Release();
        link.reset();
    }
}
