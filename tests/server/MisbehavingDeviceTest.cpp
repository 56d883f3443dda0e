// Devices that do not behave: whatever they send, a call ends within its time limit with
// the device's own answer or none, the link reads what is queued in one piece, and the
// next command gets its own answer.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "PulsynTestSupport.h"

using namespace std::chrono_literals;
using quor::TPulsyn;

namespace bench {
namespace {

class MisbehavingDeviceTest : public PulsynTest {
protected:
    void SetUp() override {
        PulsynTest::SetUp();
        ConnectTo(p);
        quor::frmComm->ReplyTimeout = 400ms;
    }
    TPulsyn p;
    VARIANT_BOOL value = 12345;
};

// A device that never stops talking (or a wrong device found by the search): the waiting
// command reads each arrival in one piece, so the log grows by an entry per arrival, not
// per byte, and the call still ends in time.
TEST_F(MisbehavingDeviceTest, AStreamWithoutEndIsReadInPiecesNotByteByByte) {
    DeviceA().SetFault("silence");  // no answer: the command waits out its time limit
    DeviceA().SetFault("stream=20000");
    quor::frmComm->Log().Clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.SetChannelShape(1, csMonopolar, &value), S_OK) << LastDescription();
    EXPECT_EQ(value, VARIANT_FALSE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    size_t entries = 0, bytes = 0;
    for (const quor::TTrafficEntry& entry : quor::frmComm->Log().Entries()) {
        if (entry.Sent) continue;
        ++entries;
        bytes += entry.Text.size() - entry.Text.find(":.....") - 6;
    }
    EXPECT_GT(bytes, 1000u);
    EXPECT_LT(entries * 8, bytes) << entries << " entries for " << bytes << " bytes";

    DeviceA().SetFault("stream=off");
    DeviceA().SetFault("silence=off");
    quor::frmComm->Wait(0.1f);
    value = 0;
    EXPECT_EQ(p.SetChannelShape(2, csBipolar, &value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
}

// Every fault of the simulated device against each kind of command. What a call reports:
enum class Outcome {
    Answer,   // the device's own answer: a setter reports the acceptance
    NoAnswer, // none within the time limit: a setter reports False, the others succeed
    Lost,     // the line went away: the call fails, saying the port was closed
    Garbled,  // a reply whose length is no number: the call fails with the conversion error
};

struct FaultCase {
    const char* fault;
    Outcome dialogue;  // for commands that wait for a reply
    Outcome noReply;   // for commands that do not (Trigger)
    std::optional<Outcome> copy = std::nullopt;  // CopyParadigm, where it differs from `dialogue`
};

const FaultCase kFaults[] = {
    {"silence", Outcome::NoAnswer, Outcome::Answer},
    {"delay=150", Outcome::Answer, Outcome::Answer},
    {"delay=500", Outcome::NoAnswer, Outcome::Answer},
    {"split=2/20", Outcome::Answer, Outcome::Answer},
    {"noise", Outcome::Answer, Outcome::Answer},
    {"noise=<<", Outcome::Garbled, Outcome::Answer},
    {"bad-length", Outcome::Garbled, Outcome::Answer},
    {"wrong-length=3", Outcome::NoAnswer, Outcome::Answer},
    // "OK" is still an acceptance, but "OK." without its paradigm digit is no paradigm number
    {"wrong-length=-1", Outcome::Answer, Outcome::Answer, Outcome::Garbled},
    {"hangup", Outcome::Lost, Outcome::Answer},
    {"no-echo", Outcome::Answer, Outcome::Answer},
    {"pace", Outcome::Answer, Outcome::Answer},
    {"answer-all", Outcome::Answer, Outcome::Answer},
    {"stream", Outcome::NoAnswer, Outcome::Answer},  // with silence: filler only, no frame
};

struct CommandKind {
    const char* name;
    bool waits;  // a dialogue is part of it
    std::function<HRESULT(TPulsyn&, VARIANT_BOOL*)> run;
};

const CommandKind kCommands[] = {
    {"SetChannelVoltage", true, [](TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelVoltage(1, 3, v); }},
    {"ClearParadigm", true, [](TPulsyn& p, VARIANT_BOOL*) { return p.ClearParadigm(); }},
    {"Trigger", false, [](TPulsyn& p, VARIANT_BOOL*) { return p.Trigger(1); }},
    {"CopyParadigm", true, [](TPulsyn& p, VARIANT_BOOL*) { return p.CopyParadigm(5); }},
};

TEST_F(MisbehavingDeviceTest, EachFaultAgainstEachKindOfCommand) {
    constexpr auto kTimeout = 300ms;
    for (const FaultCase& f : kFaults) {
        for (const CommandKind& c : kCommands) {
            SCOPED_TRACE(std::string(f.fault) + " / " + c.name);
            // A fresh connection, so that what the link learnt of the last device's ways does
            // not carry over.
            ASSERT_EQ(p.put_Connected(VARIANT_FALSE), S_OK);
            DeviceA().Reset();
            DeviceA().SetLimit("voltage", 5);
            ConnectTo(p);
            quor::frmComm->ReplyTimeout = kTimeout;
            DeviceA().SetFault(f.fault);
            if (std::string(f.fault) == "stream") DeviceA().SetFault("silence");

            value = 12345;
            const auto start = std::chrono::steady_clock::now();
            const HRESULT status = c.run(p, &value);
            const auto took = std::chrono::steady_clock::now() - start;
            const bool copy = c.name == std::string("CopyParadigm");
            const Outcome expected = !c.waits ? f.noReply : copy && f.copy ? *f.copy : f.dialogue;
            const std::string message = status == S_OK ? std::string() : LastDescription();
            switch (expected) {
                case Outcome::Answer:
                    EXPECT_EQ(status, S_OK) << message;
                    if (c.name == std::string("SetChannelVoltage")) {
                        EXPECT_EQ(value, VARIANT_TRUE);
                    }
                    break;
                case Outcome::NoAnswer:
                    if (copy) {
                        EXPECT_EQ(message, "CopyParadigm Error: Cannot read current paradigm number.");
                    } else {
                        EXPECT_EQ(status, S_OK) << message;
                        if (c.name == std::string("SetChannelVoltage")) {
                            EXPECT_EQ(value, VARIANT_FALSE);
                        }
                    }
                    break;
                case Outcome::Lost:
                    EXPECT_NE(message.find("was closed, perhaps unplugged"), std::string::npos) << message;
                    break;
                case Outcome::Garbled:
                    EXPECT_NE(message.find("is not a valid integer value"), std::string::npos) << message;
                    break;
            }
            // Within the time limit, with room for a slow machine (and the pacing's line time).
            EXPECT_LT(took, kTimeout + 1500ms);

            // The device behaves again: the next commands get their own answers.
            DeviceA().Reset();
            DeviceA().SetLimit("voltage", 5);
            if (expected == Outcome::Lost) {
                DeviceA().Reopen();
                SetCandidatePorts({kPortA, kPortA2, kPortB, kPortB2});
                ConnectTo(p);
                quor::frmComm->ReplyTimeout = kTimeout;
            }
            // A late answer of the faulty device may still be on its way: give it the time.
            quor::frmComm->ReplyTimeout = 1s;
            value = 12345;
            EXPECT_EQ(p.SetChannelVoltage(1, 7.5, &value), S_OK) << LastDescription();
            EXPECT_EQ(value, VARIANT_FALSE) << "a refused voltage read as accepted";
            EXPECT_EQ(p.SetChannelVoltage(1, 3, &value), S_OK) << LastDescription();
            EXPECT_EQ(value, VARIANT_TRUE) << "an accepted voltage read as refused";
        }
    }
}

}  // namespace
}  // namespace bench
