// How fast the monitor takes entries as its log grows, up to and past its capacity, and
// what the process's resident memory does meanwhile. Prints figures; asserts nothing.
//
//   monitor_bench [dialogues to log, default 100000] [--show] [--capacity CHARACTERS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ProcessFigures.h"
#include "link/CommUnit.h"

int main(int argc, char** argv) {
    long dialogues = 100000;
    bool show = false;
    size_t capacity = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--show")) {
            show = true;
        } else if (!std::strcmp(argv[i], "--capacity") && i + 1 < argc) {
            capacity = std::strtoul(argv[++i], nullptr, 10);
        } else {
            dialogues = std::strtol(argv[i], nullptr, 10);
        }
    }
    quor::TfrmComm link;
    if (capacity > 0) link.Monitor().SetCapacity(capacity);
    if (show) link.ShowMonitor();
    std::printf("monitor_bench: window %s%s\n", link.Monitor().Available() ? "available" : "missing",
                show ? ", shown" : ", hidden");
    std::printf("%12s %14s %16s %12s\n", "dialogues", "log entries", "us per dialogue", "resident MB");
    std::printf("%12d %14zu %16s %12.1f\n", 0, link.Log().Entries().size(), "", bench::ResidentMegabytes());
    const long step = dialogues / 10 > 0 ? dialogues / 10 : 1;
    auto start = std::chrono::steady_clock::now();
    for (long done = 1; done <= dialogues; ++done) {
        // A dialogue as the link logs it: six entries, about 150 characters.
        link.AddText("=", true);
        link.AddText(">0012L1+25.00E-3R", true);
        link.AddText("=", false);
        link.AddText("<", false);
        link.AddText("0003", false);
        link.AddText("OK.", false);
        if (done % step == 0 || done == dialogues) {
            const auto now = std::chrono::steady_clock::now();
            const double us = std::chrono::duration<double, std::micro>(now - start).count();
            std::printf("%12ld %14zu %16.1f %12.1f\n", done, link.Log().Entries().size(), us / static_cast<double>(step),
                        bench::ResidentMegabytes());
            std::fflush(stdout);
            start = now;
        }
    }
    return 0;
}
