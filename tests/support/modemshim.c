/* Modem lines for pseudo-terminals, preloaded into test processes (Wine's among them).
 *
 * The Linux pty driver has no modem lines: TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC fail,
 * and so does TIOCGICOUNT, and Wine's EscapeCommFunction, GetCommModemStatus and
 * WaitCommEvent then fail too. This library answers those requests on pty descriptors as a
 * null-modem cable would: each end's DTR and RTS are its own (both raised at first), and an
 * end sees the other end's RTS as CTS and its DTR as DSR and carrier detect, when both ends
 * are in this process; the interrupt counters stay at zero. Every other request goes to the
 * C library. 32-bit glibc with 64-bit time enters through __ioctl_time64, so both names are
 * interposed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#define MAX_PTYS 4096

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct {
    int used;
    int lines[2]; /* [0] master end, [1] slave end: TIOCM_DTR and TIOCM_RTS */
} ptys[MAX_PTYS];

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn next_ioctl(const char *name) {
    ioctl_fn fn = (ioctl_fn)dlsym(RTLD_NEXT, name);
    if (!fn) fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return fn;
}

/* Which pty and which end; -1 when the descriptor is not a pty. */
static int pty_of(ioctl_fn real, int fd, int *end) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return -1;
    unsigned ma = major(st.st_rdev), mi = minor(st.st_rdev);
    if (ma >= 136 && ma <= 143) {
        *end = 1;
        unsigned index = (ma - 136) * 256 + mi;
        return index < MAX_PTYS ? (int)index : -1;
    }
    if (ma == 5 && mi == 2) {
        unsigned index;
        if (real(fd, TIOCGPTN, &index) != 0 || index >= MAX_PTYS) return -1;
        *end = 0;
        return (int)index;
    }
    return -1;
}

static int handled(unsigned long request) {
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC ||
           request == TIOCGICOUNT;
}

static int modem_ioctl(ioctl_fn real, int fd, unsigned long request, void *arg) {
    int end;
    int index = pty_of(real, fd, &end);
    if (index < 0) return real(fd, request, arg);
    if (request == TIOCGICOUNT) {
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    }
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    pthread_mutex_lock(&lock);
    if (!ptys[index].used) {
        ptys[index].used = 1;
        ptys[index].lines[0] = ptys[index].lines[1] = TIOCM_DTR | TIOCM_RTS;
    }
    int *mine = &ptys[index].lines[end];
    int other = ptys[index].lines[1 - end];
    int value = *(int *)arg;
    switch (request) {
    case TIOCMGET:
        *(int *)arg = *mine | ((other & TIOCM_RTS) ? TIOCM_CTS : 0) | ((other & TIOCM_DTR) ? TIOCM_DSR | TIOCM_CAR : 0);
        break;
    case TIOCMSET: *mine = value & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMBIS: *mine |= value & (TIOCM_DTR | TIOCM_RTS); break;
    case TIOCMBIC: *mine &= ~(value & (TIOCM_DTR | TIOCM_RTS)); break;
    }
    pthread_mutex_unlock(&lock);
    return 0;
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!real) real = next_ioctl("ioctl");
    return handled(request) ? modem_ioctl(real, fd, request, arg) : real(fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!real) real = next_ioctl("__ioctl_time64");
    return handled(request) ? modem_ioctl(real, fd, request, arg) : real(fd, request, arg);
}
