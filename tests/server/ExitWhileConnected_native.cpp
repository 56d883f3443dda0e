// A program that keeps its control object to the end and exits while connected, right after
// a trigger: the process-wide link is destroyed after main returns, when other statics may
// be gone already. Run under the sanitizers, it must exit cleanly.
#include <cstdio>
#include <string>
#include <vector>

#include "SimBench.h"
#include "base/HostInfo.h"
#include "server/ObjPulsyn.h"

int main() {
    bench::DeviceA().Reset();
    bench::SetCandidatePorts({bench::kPortA});
    static std::vector<std::string> arguments = {"COM" + std::to_string(bench::kPortA)};
    quor::SetHostArgumentsForTesting(&arguments);
    static quor::TPulsyn p;
    VARIANT_BOOL connected = VARIANT_FALSE;
    if (p.Connect(&connected) != S_OK || connected != VARIANT_TRUE) {
        std::fprintf(stderr, "cannot connect to the simulated stimulator\n");
        return 1;
    }
    if (p.Trigger(1) != S_OK) return 1;
    std::printf("exiting while connected\n");
    return 0;
}
