// A device that goes away while the port is open (a USB adapter pulled out): the event
// thread must not spin, and the port must stay closable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "SerialLine.h"
#include "SerialTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

using namespace quor;
using namespace std::chrono_literals;

namespace {
double ProcessCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}
// A second of a waiting main thread, as the device link waits for a reply.
double CpuOverOneSecondOfWaiting() {
    const double before = ProcessCpuSeconds();
    const auto end = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < end) {
        ProcessMessages();
        WaitForMessages(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()) + 1ms);
    }
    return ProcessCpuSeconds() - before;
}

}  // namespace

TEST(Unplug, AGoneDeviceCostsNoCpuAndThePortStillCloses) {
    SerialLine line;
    TestComm comm;
    int calls = 0;
    comm.SetDeviceName(line.PortName());
    comm.SetFlowControl(fcNone);
    comm.SetOnRxChar([&](TCustomComm* sender, int32_t count) {
        char buf[64];
        sender->Read(buf, std::min<int32_t>(count, 64));
        ++calls;
    });
    comm.SetOnError([&](TCustomComm*, int32_t) {});
    comm.Open();
    line.Send("x");
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    int errors = 0;
    comm.SetOnError([&](TCustomComm*, int32_t) { ++errors; });
    const double idle = CpuOverOneSecondOfWaiting();
    line.HangUp();
    const double used = CpuOverOneSecondOfWaiting();
    std::printf("CPU time over one second with the device there: %.3f s\n", idle);
    std::printf("CPU time over one second with the device gone: %.3f s; notifications: %d received, %d errors\n", used,
                calls, errors);
    EXPECT_LT(used, 0.3);

    // With the device gone the driver cannot count its queues: they read as empty.
    EXPECT_GE(comm.InQueCount(), 0);
    EXPECT_FALSE(comm.CtsHold());
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
    ExpectEventThreadsEnd();
}
