// Natively any thread may use any object: devices driven from different threads at once,
// one connection shared by threads without a dialogue ever interleaving, and a program that
// starts in a worker thread and goes on in others. (The sanitizer build checks the races.)
#include <thread>

#include "PulsynTestSupport.h"

using namespace std::chrono_literals;
using quor::TPulsyn;
using Frames = std::vector<std::string>;

namespace bench {
namespace {

class ThreadsTest : public PulsynTest {
protected:
    // Runs each job in a thread of its own, all at once, and waits for them.
    static void RunTogether(const std::vector<std::function<void()>>& jobs) {
        std::vector<std::thread> threads;
        for (const auto& job : jobs) threads.emplace_back(job);
        for (auto& thread : threads) thread.join();
    }
    // `count` count setters on a channel, each of which must be acknowledged.
    static std::function<void()> Setters(TPulsyn& p, int channel, int count) {
        return [&p, channel, count] {
            for (int i = 1; i <= count; ++i) {
                VARIANT_BOOL ok = VARIANT_FALSE;
                ASSERT_EQ(p.SetChannelN(channel, i, &ok), S_OK) << LastDescription();
                ASSERT_EQ(ok, VARIANT_TRUE) << "reply " << i << " on channel " << channel;
            }
        };
    }
};

// The frames of `count` setters on a channel, in order.
Frames SetterFrames(int channel, int count) {
    Frames frames;
    for (int i = 1; i <= count; ++i) frames.push_back("N" + std::to_string(channel) + quor::EncodeDeviceNumber(i) + "R");
    return frames;
}

// The frames of one channel, as they arrived.
Frames OfChannel(const Frames& frames, int channel) {
    Frames mine;
    for (const std::string& frame : frames)
        if (frame.size() > 1 && frame[1] == static_cast<char>('0' + channel)) mine.push_back(frame);
    return mine;
}

// Two devices from two threads at once, and one device from three threads through two
// objects (one of them used by two threads): every command is answered with its own reply.
TEST_F(ThreadsTest, DevicesAndSharedConnectionsDrivenFromSeveralThreadsAtOnce) {
    TPulsyn a, b, a2;
    ConnectTo(a);
    ConnectTo(a2);
    Args({"COM" + std::to_string(kPortB)});
    ConnectTo(b);
    DeviceA().Reset();
    DeviceB().Reset();
    constexpr int kCount = 15;
    RunTogether({Setters(a, 1, kCount), Setters(b, 2, kCount), Setters(a, 3, kCount), Setters(a2, 4, kCount)});
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    ASSERT_TRUE(DeviceB().WaitForIdle(3s));
    const Frames onA = DeviceA().Frames();
    EXPECT_EQ(onA.size(), 3u * kCount);
    for (const int channel : {1, 3, 4}) EXPECT_EQ(OfChannel(onA, channel), SetterFrames(channel, kCount));
    EXPECT_EQ(DeviceB().Frames(), SetterFrames(2, kCount));
}

// A program whose first object is made and connected in a worker thread that then ends goes
// on in the main thread and in fresh threads (before, the library stayed bound to the worker).
TEST_F(ThreadsTest, AWorkerFirstProgramGoesOnInTheMainThreadAndInFreshThreads) {
    auto p = std::make_shared<TPulsyn>();
    std::thread([&] { ConnectTo(*p); }).join();
    DeviceA().Reset();
    ASSERT_EQ(p->ChangeParadigm(2), S_OK) << LastDescription();
    for (int channel = 1; channel <= 3; ++channel) {
        std::thread([&] { EXPECT_EQ(p->Trigger(channel), S_OK) << LastDescription(); }).join();
    }
    TPulsyn mainObject;
    ConnectTo(mainObject);
    ASSERT_EQ(mainObject.ClearParadigm(), S_OK);
    std::thread([&] { p.reset(); }).join();  // released in yet another thread
    ASSERT_TRUE(DeviceA().WaitForFrames(5, 3s));
    EXPECT_EQ(DeviceA().Frames(), (Frames{"Y2R", "T1", "T2", "T3", "ER"}));
}

}  // namespace
}  // namespace bench
