// Line rates on POSIX systems other than Linux (the BSDs, macOS): only the rates with a
// Bnnn constant exist, so a rate without one (14400, 56000, 128000, 256000) is refused.
#include <termios.h>

#include <cerrno>
#include <cstdint>

// These systems define each Bnnn as the rate itself, which is what reading it back relies on.
static_assert(B38400 == 38400, "a system whose Bnnn constants are codes needs a table of them here");

namespace quor::platform {

bool SetCustomLineRate(int, uint32_t, int32_t& error) {
    error = EINVAL;
    return false;
}

uint32_t CurrentLineRate(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return 0;
    return static_cast<uint32_t>(cfgetospeed(&t));
}

}  // namespace quor::platform
