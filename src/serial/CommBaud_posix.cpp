// Line rates on POSIX systems other than Linux: only the rates with a Bnnn constant exist,
// so a rate without one (14400, 56000, 128000, 256000) is refused.
#include <termios.h>

#include <cerrno>
#include <cstdint>

namespace quor::platform {

namespace {
struct RateCode {
    uint32_t rate;
    speed_t code;
};
constexpr RateCode kRates[] = {{110, B110},     {300, B300},     {600, B600},       {1200, B1200},
                               {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
                               {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};
}  // namespace

bool SetCustomLineRate(int, uint32_t, int32_t& error) {
    error = EINVAL;
    return false;
}

uint32_t CurrentLineRate(int fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return 0;
    const speed_t code = cfgetospeed(&t);
    for (const RateCode& r : kRates)
        if (r.code == code) return r.rate;
    return 0;
}

}  // namespace quor::platform
