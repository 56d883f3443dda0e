// Devices that do not behave: whatever they send, a call ends within its time limit with
// the device's own answer or none, the link reads what is queued in one piece, and the
// next command gets its own answer.
#include <chrono>

#include "PulsynTestSupport.h"

using namespace std::chrono_literals;
using quor::TPulsyn;

namespace bench {
namespace {

class MisbehavingDeviceTest : public PulsynTest {
protected:
    void SetUp() override {
        PulsynTest::SetUp();
        ConnectTo(p);
        quor::frmComm->ReplyTimeout = 400ms;
    }
    TPulsyn p;
    VARIANT_BOOL value = 12345;
};

// A device that never stops talking (or a wrong device found by the search): the waiting
// command reads each arrival in one piece, so the log grows by an entry per arrival, not
// per byte, and the call still ends in time.
TEST_F(MisbehavingDeviceTest, AStreamWithoutEndIsReadInPiecesNotByteByByte) {
    DeviceA().SetFault("silence");  // no answer: the command waits out its time limit
    DeviceA().SetFault("stream=20000");
    quor::frmComm->Log().Clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK) << LastDescription();
    EXPECT_EQ(value, VARIANT_FALSE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    size_t entries = 0, bytes = 0;
    for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) {
        if (entry.Sent) continue;
        ++entries;
        bytes += entry.Text.size() - entry.Text.find(":.....") - 6;
    }
    EXPECT_GT(bytes, 1000u);
    EXPECT_LT(entries * 8, bytes) << entries << " entries for " << bytes << " bytes";

    DeviceA().SetFault("stream=off");
    DeviceA().SetFault("silence=off");
    quor::frmComm->Wait(0.1f);
    value = 0;
    EXPECT_EQ(p.SetChannelShape(2, csBipolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
}

}  // namespace
}  // namespace bench
