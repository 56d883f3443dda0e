// The simulator in-process, driven as a host program would drive the stimulator: over a
// real pseudo-terminal, from the client's end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Json.h"
#include "PtyClient.h"
#include "Simulator.h"

using namespace std::chrono_literals;
using pulsyn_sim::Simulator;

namespace {

class SimulatorPty : public ::testing::Test {
protected:
    void SetUp() override {
        sim.Start();
        client = std::make_unique<PtyClient>(sim.ClientPath());
        ASSERT_TRUE(client->ok()) << sim.ClientPath();
    }

    // Events of one kind from the transcript, parsed.
    std::vector<pulsyn_sim::json::Json> Events(const std::string& kind) {
        std::vector<pulsyn_sim::json::Json> out;
        for (const auto& line : sim.Transcript()) {
            auto v = pulsyn_sim::json::Parse(line);
            EXPECT_TRUE(v) << line;
            if (v && (*v)["ev"].get<std::string>() == kind) out.push_back(*v);
        }
        return out;
    }

    Simulator sim;
    std::unique_ptr<PtyClient> client;
};

// The proof that nothing else came: the next exchange's bytes arrive first.
constexpr const char* kAskParadigm = "=>0003GPR";

}  // namespace

TEST_F(SimulatorPty, AnswersThePromptAndCommandFrames) {
    EXPECT_EQ(client->Exchange("=", 1), "=");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 9), "=<0003OK.");
    EXPECT_EQ(client->Exchange("=>0012L1+25.00E-3R", 9), "=<0003OK.");
    EXPECT_EQ(client->Exchange("=>0012L1+25.0E-3XR", 29), "=<0023ER:bad number: mantissa");
    EXPECT_EQ(client->Exchange(kAskParadigm, 10), "=<0004OK.3");
    ASSERT_TRUE(sim.WaitForFrames(4, 5s));
    EXPECT_EQ(sim.Frames(), (std::vector<std::string>{"Y3R", "L1+25.00E-3R", "L1+25.0E-3XR", "GPR"}));
    EXPECT_EQ(sim.Model().channel(3, 1).value(pulsyn_sim::Quantity::Delay), "+25.00E-3");
}

TEST_F(SimulatorPty, TriggerAndCopyGetNoReply) {
    client->Send("=>0002T4");
    client->Send("=>0003C12");
    EXPECT_EQ(client->Exchange(kAskParadigm, 12), "==" "=<0004OK.1");
    ASSERT_TRUE(sim.WaitForTriggers(1, 5s));
    auto triggers = sim.Triggers();
    ASSERT_EQ(triggers.size(), 1u);
    EXPECT_EQ(triggers[0].channel, 4);
    EXPECT_EQ(triggers[0].paradigm, 1);
    EXPECT_EQ(Events("trigger").size(), 1u);
}

TEST_F(SimulatorPty, NoiseIsLoggedAndSkippedAndTheClientMayReconnect) {
    EXPECT_EQ(client->Exchange("\r\n?!=>0003Y2R", 9), "=<0003OK.");
    auto skipped = Events("skip");
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0]["bytes"].get<std::string>(), "\r\n?!");
    client.reset();  // the host closes its port and opens it again
    client = std::make_unique<PtyClient>(sim.ClientPath());
    EXPECT_EQ(client->Exchange(kAskParadigm, 10), "=<0004OK.2");
}

TEST_F(SimulatorPty, SilenceAndEchoOff) {
    ASSERT_EQ(sim.SetFault("silence"), "");
    client->Send("=>0003Y3R");
    ASSERT_TRUE(sim.WaitForFrames(1, 5s));
    ASSERT_TRUE(sim.WaitForIdle(5s));
    sim.ClearFaults();
    EXPECT_EQ(client->Exchange(kAskParadigm, 10), "=<0004OK.3");  // Y3 was done, silently

    ASSERT_EQ(sim.SetFault("no-echo"), "");
    EXPECT_EQ(client->Exchange("=>0003Y4R", 8), "<0003OK.");
    EXPECT_EQ(client->Exchange(kAskParadigm, 9), "<0004OK.4");
}

TEST_F(SimulatorPty, ReplyShapingFaultsReachTheClient) {
    ASSERT_EQ(sim.SetFault("noise=\\x00#"), "");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 11), std::string("=\0#<0003OK.", 11));
    sim.ClearFaults();
    ASSERT_EQ(sim.SetFault("bad-length"), "");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 9), "=<0x03OK.");
    ASSERT_EQ(sim.SetFault("bad-length=off"), "");
    ASSERT_EQ(sim.SetFault("wrong-length=1"), "");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 9), "=<0004OK.");
    sim.ClearFaults();

    ASSERT_EQ(sim.SetFault("split=2/20"), "");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 9), "=<0003OK.");
    ASSERT_TRUE(sim.WaitForIdle(5s));
    auto tx = Events("tx");
    ASSERT_GE(tx.size(), 4u);  // four pieces of two, the first perhaps with the prompt answer
    EXPECT_EQ(tx[tx.size() - 3]["bytes"].get<std::string>(), "00");
    EXPECT_EQ(tx[tx.size() - 2]["bytes"].get<std::string>(), "3O");
    EXPECT_EQ(tx.back()["bytes"].get<std::string>(), "K.");
}

TEST_F(SimulatorPty, DelayAndPacingPutTheRepliesLater) {
    ASSERT_EQ(sim.SetFault("delay=150"), "");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 9), "=<0003OK.");
    ASSERT_TRUE(sim.WaitForIdle(5s));
    // Time stamps carry microseconds, hence the microsecond of slack.
    double frame_t = Events("frame").back()["t"].get<double>();
    double reply_t = Events("tx").back()["t"].get<double>();
    EXPECT_GE(reply_t - frame_t, 0.150 - 1e-6);

    sim.ClearFaults();
    sim.Reset();
    ASSERT_EQ(sim.SetFault("pace"), "");
    EXPECT_EQ(client->Exchange("=>0003GPR", 10), "=<0004OK.1");
    ASSERT_TRUE(sim.WaitForIdle(5s));
    // Nine bytes in, then the prompt answer and nine reply bytes out: the last byte cannot
    // leave before eighteen byte times after the bytes were read.
    double rx_t = Events("rx").back()["t"].get<double>();
    double last_tx_t = Events("tx").back()["t"].get<double>();
    EXPECT_GE(last_tx_t - rx_t, 18 * pulsyn_sim::kByteTime - 2e-6);
}

TEST_F(SimulatorPty, HangupClosesTheLineMidReplyAndReopenServesAgain) {
    ASSERT_EQ(sim.SetFault("hangup=3"), "");
    EXPECT_EQ(client->Exchange("=>0003Y3R", 10), "=<00");
    EXPECT_TRUE(client->closed);
    EXPECT_TRUE(sim.HungUp());
    EXPECT_FALSE(sim.GetFaults().hangup_after);  // fires once

    std::string path = sim.Reopen();
    EXPECT_FALSE(sim.HungUp());
    PtyClient again(path);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.Exchange(kAskParadigm, 10), "=<0004OK.3");
}

TEST_F(SimulatorPty, LimitsStateResetAndTranscript) {
    sim.SetLimit(pulsyn_sim::Quantity::Voltage, 10.0);
    EXPECT_EQ(client->Exchange("=>0012V1+12.00E+0R", 19), "=<0013ER:over limit");
    EXPECT_EQ(client->Exchange("=>0012V1+10.00E+0R", 9), "=<0003OK.");
    ASSERT_TRUE(sim.WaitForIdle(5s));

    auto state = pulsyn_sim::json::Parse(sim.StateJson());
    ASSERT_TRUE(state);
    EXPECT_EQ((*state)["path"].get<std::string>(), sim.ClientPath());
    EXPECT_EQ((*state)["frames"].get<double>(), 2);
    EXPECT_EQ((*state)["paradigms"][0]["channels"][0]["voltage"].get<std::string>(), "+10.00E+0");
    EXPECT_EQ((*state)["limits"]["voltage"].get<double>(), 10);
    EXPECT_FALSE((*state)["faults"]["silence"].get<bool>());

    auto transcript = pulsyn_sim::json::Parse(sim.TranscriptJson());
    ASSERT_TRUE(transcript);
    std::string rx;
    for (const auto& e : *transcript)
        if (e["ev"].get<std::string>() == "rx") rx += e["bytes"].get<std::string>();
    EXPECT_EQ(rx, "=>0012V1+12.00E+0R=>0012V1+10.00E+0R");  // every byte received, in order

    sim.Reset();
    EXPECT_TRUE(sim.Frames().empty());
    EXPECT_EQ(sim.Model().channel(1, 1).value(pulsyn_sim::Quantity::Voltage), "+0.000E+0");
    EXPECT_EQ(sim.GetLimits()[pulsyn_sim::Quantity::Voltage], 10.0);  // limits survive a reset
}

TEST(SimulatorFiles, LinkPathFileAndTranscriptFile) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("pulsyn-sim-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    pulsyn_sim::Options options;
    options.link = (dir / "stimulator").string();
    options.path_file = (dir / "path.txt").string();
    options.transcript_file = (dir / "transcript.jsonl").string();
    {
        Simulator sim(options);
        sim.Start();
        EXPECT_EQ(fs::read_symlink(options.link).string(), sim.ClientPath());
        std::string written;
        std::getline(std::ifstream(options.path_file), written);
        EXPECT_EQ(written, sim.ClientPath());
        PtyClient client(options.link);
        ASSERT_TRUE(client.ok());
        EXPECT_EQ(client.Exchange("=>0003Y7R", 9), "=<0003OK.");
        ASSERT_TRUE(sim.WaitForIdle(5s));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(options.link)));  // removed at the end
    std::ifstream file(options.transcript_file);
    std::string line, frames;
    while (std::getline(file, line)) {
        auto v = pulsyn_sim::json::Parse(line);
        ASSERT_TRUE(v) << line;
        if ((*v)["ev"].get<std::string>() == "frame") frames += (*v)["cmd"].get<std::string>();
    }
    EXPECT_EQ(frames, "Y7R");
    fs::remove_all(dir);
}
