/* A serial line between two COM ports for tests under Wine: two pseudo-terminals whose
 * masters this relay joins, their slaves linked by name (e.g. <prefix>/dosdevices/com21 and
 * com22). The relay holds each slave open itself, so that the line stays up while a test
 * opens and closes its ports. When the hang-up file appears, the relay closes everything,
 * as when the cable's adapter is pulled out, and ends.
 *
 * usage: ptylink LINK_A LINK_B HANGUP_FILE
 * Prints the relay's process id once both links exist, and runs on in the background. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

static const char *links[2];

static void remove_links(void) {
    unlink(links[0]);
    unlink(links[1]);
}

static void on_term(int sig) {
    (void)sig;
    remove_links();
    _exit(0);
}

static void relay(int from, int to) {
    char buf[4096];
    ssize_t n = read(from, buf, sizeof buf);
    for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = write(to, buf + done, (size_t)(n - done));
        if (w > 0) done += w;
        else if (errno != EAGAIN && errno != EINTR) break;
        else {
            struct pollfd p = {to, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: ptylink LINK_A LINK_B HANGUP_FILE\n");
        return 2;
    }
    links[0] = argv[1];
    links[1] = argv[2];
    const char *hangup = argv[3];
    int master[2], slave[2];
    struct termios raw;
    cfmakeraw(&raw);
    for (int i = 0; i < 2; ++i) {
        if (openpty(&master[i], &slave[i], NULL, &raw, NULL) != 0) {
            perror("openpty");
            return 1;
        }
        unlink(links[i]);
        if (symlink(ttyname(slave[i]), links[i]) != 0) {
            perror("symlink");
            return 1;
        }
    }
    unlink(hangup);
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid > 0) {
        printf("%d\n", (int)pid);
        return 0;
    }
    /* The relay must not hold the test harness's output open. */
    setsid();
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    signal(SIGTERM, on_term);
    signal(SIGHUP, SIG_IGN);
    for (;;) {
        struct pollfd p[2] = {{master[0], POLLIN, 0}, {master[1], POLLIN, 0}};
        /* The timeout is the look for the hang-up file; data never waits for it. */
        poll(p, 2, 20);
        if (p[0].revents & POLLIN) relay(master[0], master[1]);
        if (p[1].revents & POLLIN) relay(master[1], master[0]);
        if (access(hangup, F_OK) == 0) {
            close(master[0]);
            close(slave[0]);
            close(master[1]);
            close(slave[1]);
            remove_links();
            unlink(hangup);
            return 0;
        }
    }
}
