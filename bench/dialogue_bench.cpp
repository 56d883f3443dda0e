// Dialogue benchmark: how fast the control object gets commands acknowledged by a simulated
// stimulator, how that compares with the time the bytes need on a real 38400-baud line,
// and how much processor time a dialogue spends waiting for a device that stays silent.
// With --memory N it runs N dialogues instead and prints the resident memory as they go:
// the traffic log is bounded, so it must level off once the log is full.
//
//   dialogue_bench [--count N] [--paced-count N] [--silence-seconds S]
//   dialogue_bench --memory N [--log-budget BYTES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "SimBench.h"
#include "ProcessFigures.h"
#include "base/HostInfo.h"
#include "base/MainThread.h"
#include "link/CommUnit.h"
#include "server/ObjPulsyn.h"

namespace {

using bench::ProcessCpuSeconds;
using bench::ResidentMegabytes;

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds;
    double cpu;
    int acknowledged;
};

Run Dialogues(quor::TPulsyn& p, int count) {
    int acknowledged = 0;
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        VARIANT_BOOL value = VARIANT_FALSE;
        if (p.SetChannelDelay(1 + i % 9, 0.025, &value) == S_OK && value == VARIANT_TRUE) ++acknowledged;
    }
    return {std::chrono::duration<double>(Clock::now() - start).count(), ProcessCpuSeconds() - cpu0, acknowledged};
}

void Report(const char* title, int count, const Run& r) {
    std::printf("%-34s %6d dialogues  %8.1f /s  %7.3f ms each  host CPU %6.3f ms each  (%d acknowledged)\n", title,
                count, count / r.seconds, 1000 * r.seconds / count, 1000 * r.cpu / count, r.acknowledged);
}

#ifndef _WIN32
// What a script does that writes the frame and reads the reply itself (pySerial's write
// and read on the same line): the prompt, the frame, then reads until the reply frame is
// complete; no log, no event thread, no message queue.
Run BareLoop(const std::string& path, int count) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return {0, 0, 0};
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    int acknowledged = 0;
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string command = "L" + std::to_string(1 + i % 9) + "+25.00E-3R";
        const std::string frame = ">" + std::string(4 - std::to_string(command.size()).size(), '0') +
                                  std::to_string(command.size()) + command;
        if (write(fd, "=", 1) != 1 || write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) break;
        std::string in;
        size_t at = std::string::npos, need = 0;
        while (at == std::string::npos || in.size() < at + 5 + need) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) break;
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) in.append(buf, static_cast<size_t>(n));
            if (at == std::string::npos) at = in.find('<');
            if (at != std::string::npos && in.size() >= at + 5) need = std::stoul(in.substr(at + 1, 4));
        }
        if (at != std::string::npos && in.compare(at + 5, 1, "O") == 0) ++acknowledged;
    }
    const Run run{std::chrono::duration<double>(Clock::now() - start).count(), ProcessCpuSeconds() - cpu0, acknowledged};
    close(fd);
    return run;
}
#endif

// Resident memory over a long session of dialogues, at 10^4, 10^5, 2x10^5, 5x10^5, 10^6...
// The in-process simulator records everything it receives; it is reset every 10,000
// dialogues, so that the figures are the library's.
void MemoryOverASession(quor::TPulsyn& p, bench::SimDevice& device, int total) {
    std::printf("%-12s %12s %14s %14s\n", "dialogues", "resident MB", "log entries", "log characters");
    int done = 0;
    for (int checkpoint : {10000, 100000, 200000, 500000, 1000000, 2000000, 5000000, 10000000}) {
        if (checkpoint > total) break;
        while (done < checkpoint) {
            const int chunk = std::min(10000, checkpoint - done);
            Dialogues(p, chunk);
            done += chunk;
            device.Reset();
        }
        size_t characters = 0;
        for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) characters += entry.Text.size();
        std::printf("%-12d %12.1f %14zu %14zu\n", done, ResidentMegabytes(), quor::frmComm->Log().Entries().size(),
                    characters);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int count = 500, pacedCount = 100, memoryCount = 0;
    size_t logBudget = 0;
    double silenceSeconds = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--count")) count = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--paced-count")) pacedCount = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--silence-seconds")) silenceSeconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--memory")) memoryCount = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--log-budget")) logBudget = std::strtoul(argv[i + 1], nullptr, 10);
    }
    bench::SimDevice& device = bench::DeviceA();
    device.Reset();
    bench::SetCandidatePorts({bench::kPortA, bench::kPortA2, bench::kPortB, bench::kPortB2});
    std::vector<std::string> arguments = {"COM" + std::to_string(bench::kPortA)};
    quor::SetHostArgumentsForTesting(&arguments);

    quor::TPulsyn p;
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (p.Connect(&connected) != S_OK || connected != VARIANT_TRUE) {
        std::fprintf(stderr, "cannot connect to the simulated stimulator\n");
        return 1;
    }

    if (memoryCount > 0) {
        if (logBudget > 0) quor::frmComm->Log().SetBudget(logBudget);
        MemoryOverASession(p, device, memoryCount);
        p.put_Connected(VARIANT_FALSE);
        return 0;
    }
    const Run library = Dialogues(p, count);
    Report("unpaced simulator", count, library);
#ifndef _WIN32
    // The same dialogues without the library, against the same device in the same run.
    p.put_Connected(VARIANT_FALSE);
    const char* path = std::getenv(("QUORLIB_COM" + std::to_string(bench::kPortA)).c_str());
    const Run bare = BareLoop(path ? path : "", count);
    Report("bare C++ loop (write, poll, read)", count, bare);
    std::printf("%-34s %+7.3f ms each (%+.0f%%)\n", "library minus bare loop", 1000 * (library.seconds - bare.seconds) / count,
                100 * (library.seconds - bare.seconds) / bare.seconds);
    // A pySerial script (Debian's python3-serial), where it is installed.
    const std::string script = std::string(QUOR_SOURCE_DIR) + "/bench/pyserial_dialogues.py";
    if (FILE* run = popen(("/usr/bin/python3 " + script + " " + (path ? path : "") + " " + std::to_string(count) +
                           " 2>/dev/null").c_str(),
                          "r")) {
        int n = 0, acknowledged = 0;
        double seconds = 0;
        if (std::fscanf(run, "%d %lf %d", &n, &seconds, &acknowledged) == 3 && n > 0) {
            std::printf("%-34s %6d dialogues  %8.1f /s  %7.3f ms each  (its own process; %d acknowledged)\n",
                        "pySerial script", n, n / seconds, 1000 * seconds / n, acknowledged);
            std::printf("%-34s %+7.3f ms each (%+.0f%%)\n", "library minus pySerial script",
                        1000 * (library.seconds / count - seconds / n), 100 * (library.seconds / count * n - seconds) / seconds);
        } else {
            std::printf("%-34s not run: python3-serial is not installed\n", "pySerial script");
        }
        pclose(run);
    }
    p.Connect(&connected);
#endif

    device.SetFault("pace");
    const Run paced = Dialogues(p, pacedCount);
    Report("paced at 38400 baud", pacedCount, paced);
    // Per dialogue: "=" and ">0012L1+25.00E-3R" out, "=" and "<0003OK." back; ten bits a byte.
    const int lineBytes = 1 + 17 + 1 + 8;
    const double lineSeconds = lineBytes * 10.0 / 38400.0;
    std::printf("%-34s %6d bytes      %8.1f /s  %7.3f ms each  (the line's own limit)\n", "line time", lineBytes,
                1 / lineSeconds, 1000 * lineSeconds);

    device.Reset();
    device.SetFault("silence");
    quor::frmComm->ReplyTimeout = std::chrono::milliseconds(static_cast<long long>(silenceSeconds * 1000));
    const Run silent = Dialogues(p, 1);
    std::printf("%-34s %6.1f s waited   host CPU %.4f s (%.3f%% of one core)\n", "silent device", silent.seconds,
                silent.cpu, 100 * silent.cpu / silent.seconds);

#ifdef _WIN32
    // A host that is closing: its quit request waits in the queue while a command waits.
    device.Reset();
    device.SetFault("silence");
    quor::frmComm->ReplyTimeout = std::chrono::seconds(2);
    PostQuitMessage(0);
    const Run closing = Dialogues(p, 1);
    MSG quit;
    const bool kept = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    std::printf("%-34s %6.1f s waited   host CPU %.3f s (%.2f%% of one core); quit request %s\n",
                "host closing, silent device", closing.seconds, closing.cpu, 100 * closing.cpu / closing.seconds,
                kept ? "still queued" : "lost");
#endif

    // A device that never stops sending (at the line's full rate, and far faster than any
    // serial line): one command waits out its time limit reading it.
    for (const char* rate : {"3840", "200000"}) {
        device.Reset();
        device.SetFault("silence");
        device.SetFault(std::string("stream=") + rate);
        quor::frmComm->Log().Clear();
        const double rss0 = ResidentMegabytes();
        const Run streamed = Dialogues(p, 1);
        size_t entries = 0, bytes = 0;
        for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) {
            if (entry.Sent) continue;
            ++entries;
            bytes += entry.Text.size() - entry.Text.find(":.....") - 6;
        }
        std::printf("%-34s %6.1f s waited   host CPU %.3f s (%.2f%% of one core)  %zu bytes in %zu log entries  "
                    "resident %+.1f MB\n",
                    (std::string("device streaming ") + rate + " B/s").c_str(), streamed.seconds, streamed.cpu,
                    100 * streamed.cpu / streamed.seconds, bytes, entries, ResidentMegabytes() - rss0);
    }

    // A device that hangs up mid-reply (a pulled cable): the command fails at once, and the
    // open port of the gone device must cost nothing while the host waits on.
    device.Reset();
    quor::frmComm->ReplyTimeout = std::chrono::seconds(15);
    // The streaming cases ended by running out of time, so the next command first waits for a
    // quiet line (a second): that wait is spent here, not counted as the hang-up's.
    Dialogues(p, 1);
    device.SetFault("hangup=3");
    const Run lost = Dialogues(p, 1);
    const double cpu0 = ProcessCpuSeconds();
    const auto idleEnd = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < idleEnd) {
        quor::ProcessMessages();
        quor::WaitForMessages(std::chrono::milliseconds(10));
    }
    const double idleCpu = ProcessCpuSeconds() - cpu0;
    std::printf("%-34s %6.3f s to fail   then host CPU %.3f s over 2 s of waiting (%.1f%% of one core)\n",
                "device gone mid-reply", lost.seconds, idleCpu, 100 * idleCpu / 2);
    device.Reopen();
    p.put_Connected(VARIANT_FALSE);
    device.Reset();
    return 0;
}
