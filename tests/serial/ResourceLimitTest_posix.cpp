// A process out of descriptors: the port cannot make the event its watch needs. Opening
// fails with a message, and leaves no thread or port behind; started without the event, the
// watch could never be told to stop, and closing the port would wait for it forever.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "SerialLine.h"
#include "SerialTestSupport.h"

using namespace quor;

namespace {

// While it lives, the process can open exactly one more descriptor.
class OneDescriptorLeft {
public:
    OneDescriptorLeft() {
        getrlimit(RLIMIT_NOFILE, &FOld);
        const int lowestFree = dup(0);  // the number the next descriptor gets
        close(lowestFree);
        rlimit tight = FOld;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree) + 1;
        FSet = setrlimit(RLIMIT_NOFILE, &tight) == 0;
    }
    ~OneDescriptorLeft() { setrlimit(RLIMIT_NOFILE, &FOld); }
    bool Set() const { return FSet; }

private:
    rlimit FOld{};
    bool FSet = false;
};

TEST(ResourceLimit, AnOpenWithoutRoomForTheWatchEventFailsAndReleasesThePort) {
    SerialLine line;
    TestComm comm;
    comm.SetDeviceName(line.PortName());
    quor::BindMainThread();
    quor::ProcessMessages();  // the main thread's own descriptors are made before the limit
    int32_t code = 0;
    std::string message;
    {
        OneDescriptorLeft limit;
        ASSERT_TRUE(limit.Set());
        message = CommErrorOf([&] { comm.Open(); }, &code);  // the device takes the last one
    }
    EXPECT_EQ(message,
              "Error creating the port's event watch: the system is out of handles; close other programs or ports, "
              "then connect again (Error: 24) ");
    EXPECT_EQ(code, EMFILE);
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(TThread::LiveThreads(), 0);

    // With room again, the same component opens, watches and closes as ever.
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    int32_t arrived = 0;
    comm.SetOnRxChar([&](TCustomComm*, int32_t count) { arrived = count; });
    line.Send("abc");
    EXPECT_TRUE(PumpUntil([&] { return arrived == 3; }));
    comm.Close();
    ExpectEventThreadsEnd();
}

}  // namespace
