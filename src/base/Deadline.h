// TDeadline: the moment a bounded wait must end, on the monotonic clock, and the time left.
//
// Every bounded wait of the library counts one of these down, so that the rounding is decided
// once: the time left is rounded up to whole milliseconds and is never negative. Rounded
// down, a remainder below a millisecond would read as zero, and a wait for it would return at
// once and spin through the last millisecond; rounded up, the last wait blocks a little
// longer instead. An endless deadline stands for a wait without a bound.
#pragma once

#include <algorithm>
#include <chrono>

namespace quor {

class TDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // Ends `timeout` from now; a timeout of zero or less (or not a number) has ended already. A timeout longer
    // than the clock can count to ends at the clock's last moment instead of wrapping round
    // into the past (hours::max() or a huge number of seconds from a caller).
    template <class Rep, class Period>
    static TDeadline In(std::chrono::duration<Rep, Period> timeout) {
        const Clock::time_point now = Clock::now();
        if (!(timeout > timeout.zero())) return TDeadline(now, false);
        // Compared as floating point first: converting a timeout that does not fit into the
        // clock's ticks would itself overflow.
        const Clock::duration room = Clock::time_point::max() - now;
        const std::chrono::duration<long double, Clock::period> wanted = timeout;
        if (wanted.count() >= static_cast<long double>(room.count())) return TDeadline(Clock::time_point::max(), false);
        return TDeadline(now + std::chrono::duration_cast<Clock::duration>(wanted), false);
    }
    static TDeadline At(Clock::time_point at) { return TDeadline(at, false); }
    static TDeadline Never() { return TDeadline(Clock::time_point::max(), true); }

    bool Endless() const { return FEndless; }
    bool Expired(Clock::time_point now = Clock::now()) const { return !FEndless && now >= FAt; }

    // The time left, rounded up to whole milliseconds; zero once expired, and the largest
    // value for an endless deadline.
    std::chrono::milliseconds Remaining(Clock::time_point now = Clock::now()) const {
        if (FEndless) return std::chrono::milliseconds::max();
        if (now >= FAt) return std::chrono::milliseconds(0);
        return std::chrono::ceil<std::chrono::milliseconds>(FAt - now);
    }
    std::chrono::milliseconds RemainingAtMost(std::chrono::milliseconds cap) const { return std::min(Remaining(), cap); }

    // The time left in milliseconds for a system call's wait: at most `largest`, and
    // `endless` for an endless deadline (poll: INT_MAX and -1; WaitForSingleObject:
    // INFINITE - 1 and INFINITE).
    template <class Int>
    Int SystemTimeout(Int largest, Int endless) const {
        if (FEndless) return endless;
        return static_cast<Int>(std::min<long long>(Remaining().count(), static_cast<long long>(largest)));
    }

private:
    TDeadline(Clock::time_point at, bool endless) : FAt(at), FEndless(endless) {}
    Clock::time_point FAt;
    bool FEndless;
};

}  // namespace quor
