// Trigger latency, the client's side: COUNT triggers of channel 1 through the control object,
// each stamped on the steady clock where the call starts and where it returns, each after a
// dialogue (SetChannelDelay), whose reply says that the line is quiet, as in a lab script
// that sets a value and triggers. bench/trigger-latency.sh lines the stamps up with the
// times the simulator's frames were complete.
//
//   trigger_latency COUNT [COM7]   (the port as a lab program names it; QUORLIB_COM7 on Linux)
//
// Prints "call START RETURN" a trigger, in seconds on the steady clock, which on Linux is
// the monotonic clock every process reads.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "server/ObjPulsyn.h"

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 0;
    if (count <= 0) {
        std::fprintf(stderr, "usage: trigger_latency COUNT [COM7]\n");
        return 2;
    }
    quor::TPulsyn p;
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (p.Connect(&connected) != S_OK || !connected) {
        std::fprintf(stderr, "trigger_latency: no stimulator\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); };
    for (int i = 0; i < count; ++i) {
        VARIANT_BOOL accepted = VARIANT_FALSE;
        p.SetChannelDelay(1, 0.025, &accepted);
        const auto start = Clock::now();
        if (p.Trigger(1) != S_OK) {
            std::fprintf(stderr, "trigger_latency: trigger %d failed\n", i + 1);
            return 1;
        }
        std::printf("call %.6f %.6f\n", seconds(start), seconds(Clock::now()));
    }
    p.put_Connected(VARIANT_FALSE);
    return 0;
}
