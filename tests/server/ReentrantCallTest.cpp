// Client calls that a host's message queue delivers while the library is busy: at every
// point where the link lets messages run, inside every member and inside the receive
// handler, one further call is made (a disconnect by this object or another, a connect, a
// command, showing the monitor, the window's Clear button). The running operation must
// complete and deliver its command, the nested call must get its documented answer, and
// the link must never be destroyed under either (the sanitizer builds see to that).
#include <cstdio>
#include <memory>
#include <string>

#include "PulsynTestSupport.h"

using namespace std::chrono_literals;
using quor::TPulsyn;
using Frames = std::vector<std::string>;

namespace bench {
namespace {

const std::string kConnectRefused =
    "Cannot change the connection while a command is waiting for the stimulator's reply: wait until that call has "
    "returned.";

enum class Nested { DisconnectThis, DisconnectOther, ConnectOther, CommandOther, TriggerOther, ShowMonitor, ClearWindow };

struct Operation {
    const char* name;
    std::function<HRESULT(TPulsyn&)> run;
    bool connecting = false;  // the operation connects p, which starts disconnected
};

VARIANT_BOOL ConnectedOf(TPulsyn& p) {
    VARIANT_BOOL value = 12345;
    EXPECT_EQ(p.get_Connected(&value), S_OK);
    return value;
}

// Whether `all` holds every frame of `part`, in order.
bool HoldsInOrder(const Frames& all, const Frames& part) {
    size_t at = 0;
    for (const std::string& frame : all)
        if (at < part.size() && frame == part[at]) ++at;
    return at == part.size();
}

class ReentrantCallTest : public PulsynTest {
protected:
    void SetUp() override {
        PulsynTest::SetUp();
        quor::TfrmComm::DefaultReopenPause = 0ms;  // hundreds of connections
    }

    void TearDown() override {
        quor::TfrmComm::SetPumpHookForTesting(nullptr);
        PulsynTest::TearDown();
        std::remove(FSavedLog.c_str());
    }

    std::vector<Operation> Operations() {
        VARIANT_BOOL* v = &FValue;
        return {
            {"Connected = True, searching", [](TPulsyn& p) { return p.put_Connected(VARIANT_TRUE); }, true},
            {"Connect, searching", [v](TPulsyn& p) { return p.Connect(v); }, true},
            {"ChangeParadigm", [](TPulsyn& p) { return p.ChangeParadigm(2); }},
            {"ChangeChannelMode", [](TPulsyn& p) { return p.ChangeChannelMode(1, cmTrain); }},
            {"ClearParadigm", [](TPulsyn& p) { return p.ClearParadigm(); }},
            {"CopyParadigm", [](TPulsyn& p) { return p.CopyParadigm(3); }},
            {"Trigger", [](TPulsyn& p) { return p.Trigger(1); }},
            {"ConnectChannel", [](TPulsyn& p) { return p.ConnectChannel(1, 2); }},
            {"DisconnectChannel", [](TPulsyn& p) { return p.DisconnectChannel(1, 2); }},
            {"SetChannelDelay", [v](TPulsyn& p) { return p.SetChannelDelay(1, 0.025, v); }},
            {"SetChannelDuration", [v](TPulsyn& p) { return p.SetChannelDuration(1, 0.001, v); }},
            {"SetChannelInterval", [v](TPulsyn& p) { return p.SetChannelInterval(1, 0.01, v); }},
            {"SetChannelN", [v](TPulsyn& p) { return p.SetChannelN(1, 5, v); }},
            {"SetChannelVoltage", [v](TPulsyn& p) { return p.SetChannelVoltage(1, 2.5, v); }},
            {"SetChannelDeltaV", [v](TPulsyn& p) { return p.SetChannelDeltaV(1, 0.5, v); }},
            {"SetChannelShape", [v](TPulsyn& p) { return p.SetChannelShape(1, csBipolar, v); }},
            {"ShowMonitor", [this](TPulsyn& p) { return ShowQuietly(p); }},
            {"SaveSessionCommands", [this](TPulsyn& p) { return p.SaveSessionCommands(FSavedLogName); }},
            // Between commands: after a first command, a device that answers a trigger too, a
            // little later, so the receive handler reads that answer while the host's own
            // loop runs.
            {"the receive handler",
             [this](TPulsyn& p) {
                 FCounting = false;
                 EXPECT_EQ(p.ClearParadigm(), S_OK);
                 quor::frmComm->Log().Clear();
                 DeviceA().SetFault("answer-all");
                 DeviceA().SetFault("delay=20");
                 const HRESULT status = p.Trigger(1);
                 FCounting = true;
                 EXPECT_TRUE(DeviceA().WaitForIdle(3s));  // its answers are on the line
                 PumpUntil([] { return !quor::frmComm || quor::frmComm->Comm32().InQueCount() == 0; }, 3s);
                 return status;
             }},
        };
    }

    // Each operation once without a nested call: the frames it delivers.
    Frames Baseline(const Operation& op) {
        Prepare(op, Nested::ShowMonitor);
        EXPECT_EQ(op.run(p), S_OK) << op.name << ": " << LastDescription();
        EXPECT_TRUE(DeviceA().WaitForIdle(3s));
        return DeviceA().Frames();
    }

    // Every operation, with `nested` made at its first pump, then its second, ... until an
    // operation runs out of pumps.
    void RunAll(Nested nested) {
        for (const Operation& op : Operations()) {
            const Frames expected = Baseline(op);
            for (int k = 1; k <= 60; ++k) {
                SCOPED_TRACE(std::string(op.name) + ", at pump " + std::to_string(k));
                if (!RunOnce(op, nested, k)) break;
                if (HasFatalFailure() || HasFailure()) return;
                EXPECT_TRUE(DeviceA().WaitForIdle(3s));
                EXPECT_TRUE(HoldsInOrder(DeviceA().Frames(), expected)) << "the operation's command did not arrive";
            }
        }
    }

    // Runs `op` with `nested` at its k-th pump; false when it had fewer pumps.
    bool RunOnce(const Operation& op, Nested nested, int k) {
        Prepare(op, nested);
        int pumps = 0;
        bool fired = false;
        quor::TfrmComm::SetPumpHookForTesting([&] {
            if (!FCounting || fired || ++pumps < k) return;
            fired = true;
            MakeNestedCall(nested);
        });
        const HRESULT status = op.run(p);
        quor::TfrmComm::SetPumpHookForTesting(nullptr);
        EXPECT_EQ(status, S_OK) << LastDescription();
        if (fired && nested == Nested::DisconnectThis) {
            // Disconnected for good once the outermost operation returned: the port is closed
            // (the link stays for the object's log).
            const auto link = FLetGo.lock();
            EXPECT_TRUE(!link || !link->Comm32().Enabled());
            EXPECT_EQ(quor::frmComm, nullptr);
            EXPECT_EQ(ConnectedOf(p), VARIANT_FALSE);
        }
        if (fired && nested == Nested::DisconnectOther) {
            // The other object let go; this one still holds the connection.
            EXPECT_EQ(ConnectedOf(p), VARIANT_TRUE);
            EXPECT_EQ(ConnectedOf(other), VARIANT_FALSE);
        }
        return fired;
    }

    // p connected (or not, for an operation that connects it); `other` connected when the
    // nested call needs it to be; the device fresh and its faults off.
    void Prepare(const Operation& op, Nested nested) {
        FCounting = true;
        ASSERT_EQ(p.put_Connected(VARIANT_FALSE), S_OK);
        ASSERT_EQ(other.put_Connected(VARIANT_FALSE), S_OK);
        Args({"COM" + std::to_string(kPortA)});
        SetCandidatePorts({kPortA});
        if (nested == Nested::DisconnectOther || nested == Nested::CommandOther || nested == Nested::TriggerOther)
            ConnectTo(other);
        if (!op.connecting) ConnectTo(p);
        Args({});  // an operation that connects searches
        ASSERT_TRUE(DeviceA().WaitForIdle(3s));
        DeviceA().Reset();
    }

    void MakeNestedCall(Nested nested) {
        VARIANT_BOOL value = 12345;
        quor::TfrmComm* link = quor::frmComm.get();
        FLetGo = quor::frmComm;
        switch (nested) {
            case Nested::DisconnectThis:
                EXPECT_EQ(p.put_Connected(VARIANT_FALSE), S_OK) << LastDescription();
                EXPECT_EQ(ConnectedOf(p), VARIANT_FALSE);  // at once
                EXPECT_EQ(quor::frmComm.get(), nullptr);
                break;
            case Nested::DisconnectOther:
                EXPECT_EQ(other.put_Connected(VARIANT_FALSE), S_OK) << LastDescription();
                EXPECT_EQ(ConnectedOf(other), VARIANT_FALSE);
                EXPECT_EQ(quor::frmComm.get(), link);  // still held by this object
                break;
            case Nested::ConnectOther:
                EXPECT_EQ(other.Connect(&value), E_UNEXPECTED);
                EXPECT_EQ(LastDescription(), kConnectRefused);
                EXPECT_EQ(quor::frmComm.get(), link);
                break;
            case Nested::CommandOther:
                ExpectSentOrRefusedInsideADialogue(other.SetChannelDelay(2, 0.5, &value));
                break;
            case Nested::TriggerOther:
                ExpectSentOrRefusedInsideADialogue(other.Trigger(3));
                break;
            case Nested::ShowMonitor:
                EXPECT_EQ(ShowQuietly(p), S_OK) << LastDescription();
                break;
            case Nested::ClearWindow:
                ASSERT_NE(link, nullptr);
                link->Monitor().ClickClear();
                break;
        }
    }

    // A command runs to completion, unless a dialogue waits for its reply: the device's
    // answers could not be told apart then.
    static void ExpectSentOrRefusedInsideADialogue(HRESULT status) {
        const bool dialogueWaits = quor::frmComm && quor::frmComm->InDialogue();
        if (!dialogueWaits) {
            EXPECT_EQ(status, S_OK) << LastDescription();
            return;
        }
        EXPECT_EQ(status, E_UNEXPECTED);
        EXPECT_NE(LastDescription().find("while another command is waiting for the stimulator's reply"),
                  std::string::npos)
            << LastDescription();
    }

    // The headless monitor echoes the log when shown: not into the test's output.
    HRESULT ShowQuietly(TPulsyn& on) {
        if (quor::frmComm) quor::frmComm->Monitor().SetEchoForTesting(fileno(FNowhere.get()), false);
        return on.ShowMonitor();
    }


    TPulsyn p;
    TPulsyn other;
    VARIANT_BOOL FValue = 0;
    bool FCounting = true;
    std::weak_ptr<quor::TfrmComm> FLetGo;  // the link a nested disconnect let go of
    std::string FSavedLog = ::testing::TempDir() + "reentrant-session.rtf";
    std::u16string FSavedLogText{FSavedLog.begin(), FSavedLog.end()};
    BSTR FSavedLogName = FSavedLogText.data();
    std::unique_ptr<FILE, int (*)(FILE*)> FNowhere{std::fopen("/dev/null", "w"), &std::fclose};
};

TEST_F(ReentrantCallTest, DisconnectingThisObjectTakesEffectWhenTheOperationReturns) { RunAll(Nested::DisconnectThis); }
TEST_F(ReentrantCallTest, DisconnectingAnotherObjectTakesEffectWhenTheOperationReturns) {
    RunAll(Nested::DisconnectOther);
}
TEST_F(ReentrantCallTest, ConnectingIsRefusedWhileTheLinkIsBusy) { RunAll(Nested::ConnectOther); }
TEST_F(ReentrantCallTest, ACommandOfAnotherObjectGoesOutOrIsRefusedInsideADialogue) { RunAll(Nested::CommandOther); }
TEST_F(ReentrantCallTest, ATriggerOfAnotherObjectGoesOutOrIsRefusedInsideADialogue) { RunAll(Nested::TriggerOther); }
TEST_F(ReentrantCallTest, ShowingTheMonitorInsideAnOperation) { RunAll(Nested::ShowMonitor); }
TEST_F(ReentrantCallTest, ClearingTheWindowInsideAnOperation) { RunAll(Nested::ClearWindow); }

}  // namespace
}  // namespace bench
