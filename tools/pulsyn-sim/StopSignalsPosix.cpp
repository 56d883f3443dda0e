#include <signal.h>

#include <thread>

#include "StopSignals.h"

namespace pulsyn_sim {

namespace {
sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
}  // namespace

void PrepareStopSignals() {
    sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void WatchStopSignals(std::function<void()> on_stop) {
    std::thread([on_stop = std::move(on_stop)] {
        sigset_t set = StopSet();
        int sig = 0;
        while (sigwait(&set, &sig) != 0) {
        }
        on_stop();
    }).detach();
}

}  // namespace pulsyn_sim
