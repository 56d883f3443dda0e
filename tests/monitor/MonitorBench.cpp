// How fast the monitor takes entries as its log grows, up to and past its capacity.
// Prints figures; asserts nothing.
//
//   monitor_bench [characters to fill, default: the capacity and a quarter more]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/CommUnit.h"

int main(int argc, char** argv) {
    quor::TfrmComm link;
    const size_t capacity = link.Monitor().Capacity();
    const size_t target = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : capacity + capacity / 4;
    std::printf("monitor_bench: window %s, capacity %zu characters\n",
                link.Monitor().Available() ? "available" : "missing", capacity);
    std::printf("%14s %12s %16s\n", "log chars", "entries", "us per entry");
    size_t characters = 0, entries = 0;
    size_t nextReport = 250000;
    auto start = std::chrono::steady_clock::now();
    size_t entriesAtStart = 0;
    while (characters < target) {
        // An exchange as the link logs it: about 170 characters in 6 entries.
        for (const char* text : {"=", ">0012L1+25.00E-3R", "=", "<", "0003", "OK."}) {
            link.AddText(text, text[0] == '>' || entries % 6 == 0);
            characters += 20 + std::char_traits<char>::length(text);
            ++entries;
        }
        if (characters >= nextReport) {
            const auto now = std::chrono::steady_clock::now();
            const double us = std::chrono::duration<double, std::micro>(now - start).count();
            std::printf("%14zu %12zu %16.1f\n", characters, entries, us / static_cast<double>(entries - entriesAtStart));
            std::fflush(stdout);
            start = now;
            entriesAtStart = entries;
            nextReport += target / 10 > 250000 ? target / 10 : 250000;
        }
    }
    return 0;
}
