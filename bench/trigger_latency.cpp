// Trigger latency, the client's side: COUNT triggers of channel 1, each stamped on the steady
// clock where the call starts and where it returns, each after a dialogue (SetChannelDelay),
// whose reply says that the line is quiet, as in a lab script that sets a value and triggers.
// bench/trigger-latency.sh lines the stamps up with the times the simulator's frames were
// complete.
//
//   trigger_latency COUNT [COM7]      through the control object (QUORLIB_COM7 names the device)
//   trigger_latency COUNT --bare DEVICE
//       the same bytes with nothing between the stamps but two write() calls (the prompt, then
//       the frame): the floor the machine itself sets, without the library
//
// Prints "call START RETURN" a trigger, in seconds on the steady clock, which on Linux is the
// monotonic clock every process reads.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "server/ObjPulsyn.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

bool Stamped(int count, const std::function<bool()>& dialogue, const std::function<bool()>& trigger) {
    for (int i = 0; i < count; ++i) {
        if (!dialogue()) return false;
        const auto start = Clock::now();
        if (!trigger()) return false;
        std::printf("call %.6f %.6f\n", Seconds(start), Seconds(Clock::now()));
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Writes a dialogue's prompt and frame and reads until its reply "<0003OK." is complete.
bool BareDialogue(int fd) {
    if (!WriteAll(fd, "=") || !WriteAll(fd, ">0012L1+25.00E-3R")) return false;
    std::string in;
    while (in.find("<0003") == std::string::npos || in.size() < in.find("<0003") + 8) {
        pollfd p{fd, POLLIN, 0};
        char buffer[256];
        if (poll(&p, 1, 5000) <= 0) return false;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        in.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

int Bare(int count, const char* device) {
    const int fd = open(device, O_RDWR | O_NOCTTY);
    if (fd < 0) return std::perror(device), 1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const bool done = Stamped(
        count, [&] { return BareDialogue(fd); }, [&] { return WriteAll(fd, "=") && WriteAll(fd, ">0002T1"); });
    close(fd);
    return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 0;
    if (count <= 0) {
        std::fprintf(stderr, "usage: trigger_latency COUNT [COM7 | --bare DEVICE]\n");
        return 2;
    }
    if (argc > 3 && !std::strcmp(argv[2], "--bare")) return Bare(count, argv[3]);
    quor::TPulsyn p;
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (p.Connect(&connected) != S_OK || !connected) {
        std::fprintf(stderr, "trigger_latency: no stimulator\n");
        return 1;
    }
    VARIANT_BOOL accepted = VARIANT_FALSE;
    const bool done = Stamped(
        count, [&] { return p.SetChannelDelay(1, 0.025, &accepted) == S_OK; }, [&] { return p.Trigger(1) == S_OK; });
    p.put_Connected(VARIANT_FALSE);
    return done ? 0 : 1;
}
