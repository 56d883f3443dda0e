// Soak benchmark: a long run of dialogues against a simulated stimulator that misbehaves now
// and then (late, garbled, split or noisy replies, answers to triggers, silence). Prints how
// many results were wrong (a refused value reported as accepted, or an answered one as
// refused; must be 0), the processor time and the resident memory.
//
//   soak_bench [--count N] [--fault-share PERCENT]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "SimBench.h"
#include "ProcessFigures.h"
#include "base/HostInfo.h"
#include "link/CommUnit.h"
#include "server/ObjPulsyn.h"

namespace {

using bench::ProcessCpuSeconds;
using bench::ResidentMegabytes;

using Clock = std::chrono::steady_clock;
constexpr auto kReplyTimeout = std::chrono::milliseconds(40);

// Faults that leave the device's answers intact, and those that cost the answer.
const char* const kFaults[] = {"delay=20", "delay=60", "split=3/2", "noise", "answer-all", "silence", "no-echo"};

}  // namespace

int main(int argc, char** argv) {
    int count = 100000;
    double faultShare = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--count")) count = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--fault-share")) faultShare = std::atof(argv[i + 1]);
    }
    bench::SimDevice& device = bench::DeviceA();
    device.Reset();
    device.SetLimit("voltage", 5);
    bench::SetCandidatePorts({bench::kPortA, bench::kPortA2, bench::kPortB, bench::kPortB2});
    std::vector<std::string> arguments = {"COM" + std::to_string(bench::kPortA)};
    quor::SetHostArgumentsForTesting(&arguments);
    quor::TPulsyn p;
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (p.Connect(&connected) != S_OK || connected != VARIANT_TRUE) {
        std::fprintf(stderr, "cannot connect to the simulated stimulator\n");
        return 1;
    }
    quor::frmComm->ReplyTimeout = kReplyTimeout;

    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> percent(0, 100);
    int wrong = 0, unanswered = 0, failures = 0, faulted = 0;
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::printf("%-10s %12s %10s %10s %12s %12s\n", "dialogues", "wrong", "no answer", "faulted", "CPU s", "resident MB");
    for (int i = 1; i <= count; ++i) {
        const bool fault = percent(random) < faultShare;
        if (fault) {
            device.SetFault(kFaults[random() % (sizeof kFaults / sizeof *kFaults)]);
            ++faulted;
            if (random() % 2) p.Trigger(1 + static_cast<int>(random() % 9));
        }
        const bool valid = random() % 2 == 0;
        VARIANT_BOOL value = 12345;
        const auto called = Clock::now();
        const HRESULT status = p.SetChannelVoltage(1 + i % 9, valid ? 3 : 7.5, &value);
        const bool timedOut = Clock::now() - called >= kReplyTimeout;
        if (status != S_OK) {
            ++failures;
        } else if (value == VARIANT_TRUE ? !valid : valid && !timedOut) {
            ++wrong;
        }
        unanswered += status == S_OK && value == VARIANT_FALSE && timedOut;
        if (fault) {
            device.Reset();
            device.SetLimit("voltage", 5);
        }
        if (i % (count / 10 > 0 ? count / 10 : 1) == 0 || i == count) {
            std::printf("%-10d %12d %10d %10d %12.2f %12.1f\n", i, wrong, unanswered, faulted, ProcessCpuSeconds() - cpu0,
                        ResidentMegabytes());
            std::fflush(stdout);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%d dialogues in %.1f s (%.3f ms each), %d wrong results, %d failed calls, host CPU %.3f ms each\n",
                count, seconds, 1000 * seconds / count, wrong, failures, 1000 * (ProcessCpuSeconds() - cpu0) / count);
    p.put_Connected(VARIANT_FALSE);
    device.Reset();
    return wrong == 0 && failures == 0 ? 0 : 1;
}
