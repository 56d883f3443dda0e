// The one deadline every bounded wait counts down: the time left is rounded up to whole
// milliseconds (a rounded-down remainder of zero would make the last wait return at once and
// spin), never negative, and an endless deadline never ends.
#include "base/Deadline.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>

using namespace std::chrono_literals;
using quor::TDeadline;

namespace {

TEST(DeadlineTest, TheTimeLeftIsRoundedUpToWholeMillisecondsAndNeverNegative) {
    const auto t0 = TDeadline::Clock::now();
    const TDeadline deadline = TDeadline::At(t0 + 10ms);
    EXPECT_EQ(deadline.Remaining(t0), 10ms);
    EXPECT_EQ(deadline.Remaining(t0 + 9500us), 1ms);  // half a millisecond is still one to wait
    EXPECT_EQ(deadline.Remaining(t0 + 10ms - 1ns), 1ms);
    EXPECT_FALSE(deadline.Expired(t0 + 10ms - 1ns));
    EXPECT_EQ(deadline.Remaining(t0 + 10ms), 0ms);
    EXPECT_TRUE(deadline.Expired(t0 + 10ms));
    EXPECT_EQ(deadline.Remaining(t0 + 1h), 0ms);

    EXPECT_TRUE(TDeadline::In(0ms).Expired());
    EXPECT_EQ(TDeadline::In(-5ms).Remaining(), 0ms);
    const TDeadline soon = TDeadline::In(std::chrono::duration<double>(0.0015));
    EXPECT_GE(soon.Remaining(), 1ms);
    EXPECT_LE(soon.Remaining(), 2ms);
    EXPECT_EQ(TDeadline::In(10s).RemainingAtMost(50ms), 50ms);
}

TEST(DeadlineTest, SystemWaitsGetAClampedTimeOrTheirEndlessValue) {
    const TDeadline never = TDeadline::Never();
    EXPECT_TRUE(never.Endless());
    EXPECT_FALSE(never.Expired(TDeadline::Clock::now() + 24h * 365 * 100));
    EXPECT_EQ(never.SystemTimeout(INT_MAX, -1), -1);
    EXPECT_EQ(never.SystemTimeout<uint32_t>(0xFFFFFFFEu, 0xFFFFFFFFu), 0xFFFFFFFFu);

    EXPECT_EQ(TDeadline::In(24h * 100).SystemTimeout(INT_MAX, -1), INT_MAX);  // more than poll can take
    EXPECT_EQ(TDeadline::In(-1s).SystemTimeout(INT_MAX, -1), 0);
    const int left = TDeadline::In(200ms).SystemTimeout(INT_MAX, -1);
    EXPECT_GT(left, 0);
    EXPECT_LE(left, 200);
}

// A caller may ask for a wait longer than the clock can count (hours::max(), a huge number
// of seconds): the deadline lies in the far future instead of wrapping round into the past.
TEST(DeadlineTest, ATimeoutBeyondTheClocksRangeEndsAtItsLastMomentNotInThePast) {
    const TDeadline hours = TDeadline::In(std::chrono::hours::max());
    EXPECT_FALSE(hours.Expired());
    EXPECT_FALSE(hours.Endless());
    EXPECT_EQ(hours.SystemTimeout(INT_MAX, -1), INT_MAX);
    EXPECT_GT(hours.Remaining(), 24h * 365 * 100);
    const TDeadline seconds = TDeadline::In(std::chrono::duration<double>(1e300));
    EXPECT_FALSE(seconds.Expired());
    EXPECT_FALSE(TDeadline::In(std::chrono::nanoseconds::max()).Expired());
    EXPECT_TRUE(TDeadline::In(std::chrono::hours::min()).Expired());
    EXPECT_TRUE(TDeadline::In(std::chrono::duration<double>(std::nan(""))).Expired());
}

}  // namespace
