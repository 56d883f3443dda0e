// A client may release its last reference to the object from a call that the object's own
// waits let run (a host's button handler, a timer): the member that is running keeps the
// object until it returns, and the object goes then. Natively the owner holds it by shared
// pointer; on Windows by a COM reference.
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "PulsynTestSupport.h"

using namespace std::chrono_literals;

namespace bench {
namespace {

// The object as its client holds it, and whether it has been destroyed.
class TClientsObject {
public:
    TClientsObject() {
        auto* object = new TWatched(FDestroyed);
#ifdef _WIN32
        FObject = object;
        FObject->InnerUnknown()->AddRef();
#else
        FOwner.reset(object);
        FObject = object;
#endif
    }
    ~TClientsObject() { Release(); }
    quor::TPulsyn& operator*() const { return *FObject; }
    void Release() {
        if (!FObject) return;
#ifdef _WIN32
        FObject->InnerUnknown()->Release();
#else
        FOwner.reset();
#endif
        FObject = nullptr;
    }
    bool Destroyed() const { return *FDestroyed; }

private:
    struct TWatched : quor::TPulsyn {
        explicit TWatched(std::shared_ptr<bool> destroyed) : Flag(std::move(destroyed)) {}
        ~TWatched() override { *Flag = true; }
        std::shared_ptr<bool> Flag;
    };
    std::shared_ptr<bool> FDestroyed = std::make_shared<bool>(false);
    quor::TPulsyn* FObject = nullptr;
#ifndef _WIN32
    std::shared_ptr<quor::TPulsyn> FOwner;
#endif
};

class ObjectLifetimeTest : public PulsynTest {
protected:
    void TearDown() override {
        quor::TfrmComm::SetPumpHookForTesting(nullptr);
        PulsynTest::TearDown();
    }

    // Runs `member` on a fresh object whose client lets go of it at the member's first pump;
    // the object must live until the member has returned, and go then.
    void ReleasedInside(const char* name, bool connectFirst, const std::function<HRESULT(quor::TPulsyn&)>& member) {
        SCOPED_TRACE(name);
        TClientsObject object;
        if (connectFirst) {
            ConnectTo(*object);
        } else {
            // Connecting by the search: its probe of the port waits for the device's answer.
            Args({});
            SetCandidatePorts({kPortA});
        }
        bool released = false;
        bool aliveAfterRelease = false;
        quor::TfrmComm::SetPumpHookForTesting([&] {
            if (released) return;
            released = true;
            object.Release();
            aliveAfterRelease = !object.Destroyed();
        });
        const HRESULT status = member(*object);
        quor::TfrmComm::SetPumpHookForTesting(nullptr);
        ASSERT_TRUE(released) << "the member let no messages run";
        EXPECT_EQ(status, S_OK) << LastDescription();
        EXPECT_TRUE(aliveAfterRelease) << "the object was destroyed while its member ran";
        EXPECT_TRUE(object.Destroyed()) << "the object outlived the member that held it";
        EXPECT_TRUE(DeviceA().WaitForIdle(3s));
    }
};

// Every member that lets messages run, each released inside: the connecting members on an
// unconnected object (they connect by the search), the others on a connected one.
struct TMember {
    const char* name;
    bool connectFirst;
    std::function<HRESULT(quor::TPulsyn&, VARIANT_BOOL*)> call;
    const char* frame;  // the command the device receives last; nullptr: none checked
};

const TMember kMembers[] = {
    {"Connect", false, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.Connect(v); }, nullptr},
    {"Connected_True", false, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.put_Connected(VARIANT_TRUE); }, nullptr},
    {"ChangeParadigm", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.ChangeParadigm(2); }, "Y2R"},
    {"ChangeChannelMode", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.ChangeChannelMode(1, cmTrain); }, nullptr},
    {"Ping", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { std::string reply; return p.Ping(reply); }, "GPR"},
    {"ClearParadigm", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.ClearParadigm(); }, "ER"},
    {"CopyParadigm", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.CopyParadigm(3); }, nullptr},
    {"Trigger", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.Trigger(1); }, "T1"},
    {"ConnectChannel", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.ConnectChannel(1, 2); }, nullptr},
    {"DisconnectChannel", true, [](quor::TPulsyn& p, VARIANT_BOOL*) { return p.DisconnectChannel(1, 2); }, nullptr},
    {"SetChannelDelay", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDelay(1, 0.025, v); },
     "L1+25.00E-3R"},
    {"SetChannelDuration", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDuration(1, 0.001, v); },
     nullptr},
    {"SetChannelInterval", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelInterval(1, 0.01, v); },
     nullptr},
    {"SetChannelN", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelN(1, 5, v); }, nullptr},
    {"SetChannelVoltage", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelVoltage(1, 2.5, v); },
     nullptr},
    {"SetChannelDeltaV", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelDeltaV(1, 0.5, v); },
     nullptr},
    {"SetChannelShape", true, [](quor::TPulsyn& p, VARIANT_BOOL* v) { return p.SetChannelShape(1, csBipolar, v); },
     nullptr},
};

void PrintTo(const TMember& member, std::ostream* out) { *out << member.name; }

class ObjectReleasedInsideItsMember : public ObjectLifetimeTest, public ::testing::WithParamInterface<TMember> {};

TEST_P(ObjectReleasedInsideItsMember, LivesUntilTheMemberReturns) {
    const TMember& member = GetParam();
    VARIANT_BOOL value = 12345;
    ReleasedInside(member.name, member.connectFirst, [&](quor::TPulsyn& p) { return member.call(p, &value); });
    if (value != 12345) {
        EXPECT_EQ(value, VARIANT_TRUE);  // a member with a result gave it
    }
    EXPECT_EQ(quor::frmComm, nullptr);  // the port closed with its last object
    if (member.frame) {
        ASSERT_FALSE(DeviceA().Frames().empty());
        EXPECT_EQ(DeviceA().Frames().back(), member.frame);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryMember, ObjectReleasedInsideItsMember, ::testing::ValuesIn(kMembers),
                         [](const ::testing::TestParamInfo<TMember>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bench
