// Line rates that have no Bnnn constant (14400, 56000, 128000, 256000) are set through the
// kernel's termios2 with BOTHER. Kept apart because <asm/termbits.h> cannot share a
// translation unit with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace quor::platform {

bool SetCustomLineRate(int fd, uint32_t rate, int32_t& error) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) {
        error = errno;
        return false;
    }
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    if (ioctl(fd, TCSETS2, &t) != 0) {
        error = errno;
        return false;
    }
    return true;
}

uint32_t CurrentLineRate(int fd) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}

}  // namespace quor::platform
