// The protocol engine on a virtual clock: framing, what is skipped, and how each fault shapes
// what the device sends and when. The times checked here are the schedule the engine makes,
// not measured durations.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Engine.h"
#include "Json.h"

using pulsyn_sim::Engine;
using pulsyn_sim::kByteTime;

namespace {

struct Sent {
    double t;
    std::string bytes;
    bool hangup;
};

class EngineTest : public ::testing::Test {
protected:
    pulsyn_sim::Transcript transcript;
    Engine engine{pulsyn_sim::EngineSettings{1.0}, transcript};

    // Feeds bytes at time t and returns what the device sends at that same moment.
    std::string Exchange(std::string_view in, double t = 0) {
        engine.Receive(in, t);
        return engine.Advance(t).bytes;
    }
    // Runs the clock forward through every pending event; what went out, and when.
    std::vector<Sent> Drain() {
        std::vector<Sent> sent;
        while (auto due = engine.NextDue()) {
            auto out = engine.Advance(*due);
            if (!out.bytes.empty() || out.hangup) sent.push_back({*due, out.bytes, out.hangup});
        }
        return sent;
    }
    std::string All(const std::vector<Sent>& sent) {
        std::string bytes;
        for (const auto& s : sent) bytes += s.bytes;
        return bytes;
    }
    std::vector<std::string> Events(const char* kind) {
        std::vector<std::string> lines;
        for (const auto& line : transcript.Lines()) {
            auto v = pulsyn_sim::json::Parse(line);
            EXPECT_TRUE(v) << line;
            if (v && (*v)["ev"].get<std::string>() == kind) lines.push_back(line);
        }
        return lines;
    }
};

}  // namespace

TEST_F(EngineTest, PromptIsAnsweredAndRepliesGoOnlyToCommandsEndingInR) {
    EXPECT_EQ(Exchange("="), "=");
    EXPECT_EQ(Exchange("=>0003Y3R"), "=<0003OK.");
    EXPECT_EQ(Exchange("=>0002T4"), "=");         // trigger: no reply
    EXPECT_EQ(Exchange("=>0003C35"), "=");        // copy: no reply
    EXPECT_EQ(Exchange("=>0002Y5"), "=");         // no "R", no reply, but done
    EXPECT_EQ(Exchange(">0003GPR"), "<0004OK.5");  // a frame needs no prompt before it
    EXPECT_EQ(Exchange("=>0004S4RR"), "=<0003OK.");
    EXPECT_EQ(Exchange("=>0012V1+2.500E+0R"), "=<0003OK.");
    EXPECT_EQ(Exchange("=>0003Y0R"), "=<0015ER:bad paradigm");
    EXPECT_EQ(engine.frames, (std::vector<std::string>{"Y3R", "T4", "C35", "Y5", "GPR", "S4RR", "V1+2.500E+0R", "Y0R"}));
    EXPECT_EQ(engine.model.triggers.size(), 1u);
    EXPECT_EQ(engine.model.paradigms[4].channels[0].value(pulsyn_sim::Quantity::Voltage), "+2.500E+0");
}

TEST_F(EngineTest, FramesMayArriveInAnyPiecesAndBytesThatAreNoFrameAreSkipped) {
    const std::string stream = "=>0003Y3R";
    std::string out;
    for (char c : stream) out += Exchange(std::string(1, c));
    EXPECT_EQ(out, "=<0003OK.");
    EXPECT_EQ(Exchange("\r\nhello=>0003GPR"), "=<0004OK.3");
    // A header that is not four digits is skipped; the byte that broke it may start a frame.
    EXPECT_EQ(Exchange(">00x3Y3R"), "");
    EXPECT_EQ(Exchange(">01>0003GPR"), "<0004OK.3");
    // A frame's body is taken by its length, whatever bytes it holds.
    EXPECT_EQ(Exchange(">0003=>R"), "<0018ER:unknown command");
    EXPECT_EQ(Exchange(">0000"), "");  // empty command, no reply asked for
    auto skipped = Events("skip");
    ASSERT_EQ(skipped.size(), 4u);
    EXPECT_NE(skipped[0].find(R"("bytes":"\r\nhello","why":"not a frame")"), std::string::npos) << skipped[0];
    EXPECT_NE(skipped[1].find(R"("bytes":">00","why":"bad frame header")"), std::string::npos) << skipped[1];
    EXPECT_NE(skipped[2].find(R"("bytes":"x3Y3R","why":"not a frame")"), std::string::npos) << skipped[2];
    EXPECT_NE(skipped[3].find(R"("bytes":">01","why":"bad frame header")"), std::string::npos) << skipped[3];
    EXPECT_EQ(engine.frames, (std::vector<std::string>{"Y3R", "GPR", "GPR", "=>R", ""}));
}

TEST_F(EngineTest, AFrameThatStopsArrivingIsDroppedAfterTheFrameTimeout) {
    EXPECT_EQ(Exchange("=>0012V1+2.5", 0), "=");
    EXPECT_FALSE(engine.Idle());
    ASSERT_TRUE(engine.NextDue());
    EXPECT_DOUBLE_EQ(*engine.NextDue(), 1.0);
    engine.Advance(1.0);
    EXPECT_TRUE(engine.Idle());
    EXPECT_EQ(Exchange("=>0003GPR", 1.5), "=<0004OK.1");
    auto skipped = Events("skip");
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_NE(skipped[0].find(R"(">0012V1+2.5","why":"incomplete frame")"), std::string::npos);
}

TEST_F(EngineTest, SilenceAndEchoOff) {
    engine.faults.echo = false;
    EXPECT_EQ(Exchange("=>0003Y3R"), "<0003OK.");
    engine.faults.silence = true;
    engine.Receive("=>0003Y4R", 0);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(engine.model.selected, 4);  // a silent device still does what it is told
    EXPECT_EQ(Events("silent").size(), 3u);
}

TEST_F(EngineTest, DelayNoiseAndSplitShapeTheReply) {
    engine.faults.delay_ms = 200;
    engine.faults.noise = "#~";
    engine.faults.split_size = 3;
    engine.faults.split_gap_ms = 10;
    engine.Receive("=>0003Y3R", 5.0);
    auto sent = Drain();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0].t, 5.0);  // the prompt answer is not delayed
    EXPECT_EQ(sent[0].bytes, "=");
    const char* pieces[] = {"#~<", "000", "3OK", "."};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sent[i + 1].bytes, pieces[i]);
        EXPECT_NEAR(sent[i + 1].t, 5.2 + 0.01 * i, 1e-9);
    }
}

TEST_F(EngineTest, LengthFieldFaults) {
    engine.faults.bad_length = "0x03";
    EXPECT_EQ(Exchange("=>0003Y3R"), "=<0x03OK.");
    engine.faults.bad_length.reset();
    engine.faults.length_offset = 2;
    EXPECT_EQ(Exchange("=>0003Y3R"), "=<0005OK.");
    engine.faults.length_offset = -5;
    EXPECT_EQ(Exchange("=>0003Y3R"), "=<0000OK.");
}

TEST_F(EngineTest, HangupClosesTheLineMidReplyOnce) {
    engine.faults.hangup_after = 3;
    engine.Receive("=>0003Y3R", 0);
    auto out = engine.Advance(0);
    EXPECT_EQ(out.bytes, "=<00");
    EXPECT_TRUE(out.hangup);
    EXPECT_FALSE(engine.faults.hangup_after);
    engine.LineClosed(0, "fault");
    EXPECT_TRUE(engine.Idle());
    EXPECT_EQ(Exchange("=>0003GPR", 1), "=<0004OK.3");
    EXPECT_EQ(Events("hangup").size(), 1u);
}

TEST_F(EngineTest, PacingTakesOneByteTimePerByteInBothDirections) {
    engine.faults.pace = true;
    engine.Receive("=>0003Y3R", 0);  // 9 bytes in: the frame is complete after 9 byte times
    engine.Receive("=>0002T4", 0);   // read at once, so it arrives after the first: 17 byte times
    auto sent = Drain();
    // A frame and its trigger are stamped when the frame's last byte has arrived.
    auto frame = pulsyn_sim::json::Parse(Events("frame").at(1));
    auto trigger = pulsyn_sim::json::Parse(Events("trigger").at(0));
    EXPECT_NEAR((*frame)["t"].get<double>(), 17 * kByteTime, 1e-6);
    EXPECT_NEAR((*trigger)["t"].get<double>(), 17 * kByteTime, 1e-6);
    EXPECT_NEAR(engine.model.triggers.at(0).t, 17 * kByteTime, 1e-12);
    sent.pop_back();  // the trigger's prompt answer
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(All(sent), "=<0003OK.");
    EXPECT_NEAR(sent.front().t, 2 * kByteTime, 1e-12);  // "=" received, then sent
    EXPECT_NEAR(sent.back().t, (9 + 8) * kByteTime, 1e-12);
    for (size_t i = 1; i < sent.size(); ++i) EXPECT_GE(sent[i].t - sent[i - 1].t, kByteTime - 1e-12);
}

TEST_F(EngineTest, TranscriptRecordsBytesFramesAndAnswers) {
    engine.Receive("=>0002T4", 0.25);
    engine.Advance(0.25);
    engine.Receive("=>0003Y0R", 0.5);
    engine.Advance(0.5);
    std::vector<std::string> kinds;
    for (const auto& line : transcript.Lines()) kinds.push_back((*pulsyn_sim::json::Parse(line))["ev"].get<std::string>());
    EXPECT_EQ(kinds, (std::vector<std::string>{"rx", "prompt", "frame", "trigger", "tx", "rx", "prompt", "frame", "tx"}));
    auto frames = Events("frame");
    auto last = *pulsyn_sim::json::Parse(frames[1]);
    EXPECT_EQ(last["t"].get<double>(), 0.5);
    EXPECT_EQ(last["cmd"].get<std::string>(), "Y0R");
    EXPECT_TRUE(last["reply"].get<bool>());
    EXPECT_EQ(last["result"].get<std::string>(), "ER:bad paradigm");
    EXPECT_EQ((*pulsyn_sim::json::Parse(Events("trigger")[0]))["channel"].get<double>(), 4);
}

// Device bytes are 8-bit and may be anything: every byte, a NUL and bytes above 0x7F
// included, comes back from the transcript's JSON as it went in, and the line stays ASCII.
TEST_F(EngineTest, TranscriptKeepsEveryByteValue) {
    std::string every;
    for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
    engine.Receive(every, 0.125);
    engine.Receive(std::string("=>0003\xe9\x00R", 9), 0.25);
    engine.Advance(0.25);
    const auto lines = transcript.Lines();
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines)
        for (char c : line) ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x80) << line;
    auto first = pulsyn_sim::json::Parse(lines.front());
    ASSERT_TRUE(first);
    EXPECT_EQ(pulsyn_sim::json::ToBytes((*first)["bytes"]), every);
    auto frame = pulsyn_sim::json::Parse(Events("frame").back());
    ASSERT_TRUE(frame);
    EXPECT_EQ(pulsyn_sim::json::ToBytes((*frame)["cmd"]), std::string("\xe9\x00R", 3));
    // Text that no byte string can have been is refused, not folded into other bytes.
    EXPECT_EQ(pulsyn_sim::json::ToBytes(pulsyn_sim::json::Json("\u20ac")), std::nullopt);
    EXPECT_EQ(pulsyn_sim::json::ToBytes(pulsyn_sim::json::Json(5)), std::nullopt);
}
