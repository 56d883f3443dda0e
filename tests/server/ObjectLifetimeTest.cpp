// A client may release its last reference to the object from a call that the object's own
// waits let run (a host's button handler, a timer): the member that is running keeps the
// object until it returns, and the object goes then. Natively the owner holds it by shared
// pointer; on Windows by a COM reference.
#include <memory>

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

TEST_F(ObjectLifetimeTest, AnObjectReleasedInsideItsOwnMemberLivesUntilTheMemberReturns) {
    VARIANT_BOOL value = VARIANT_FALSE;
    ReleasedInside("Connect", false, [&](quor::TPulsyn& p) { return p.Connect(&value); });
    EXPECT_EQ(value, VARIANT_TRUE);
    EXPECT_EQ(quor::frmComm, nullptr);  // the port closed with its last object
    ReleasedInside("Connected = True", false, [](quor::TPulsyn& p) { return p.put_Connected(VARIANT_TRUE); });
    ReleasedInside("SetChannelDelay", true, [&](quor::TPulsyn& p) { return p.SetChannelDelay(1, 0.025, &value); });
    EXPECT_EQ(value, VARIANT_TRUE);
    ASSERT_FALSE(DeviceA().Frames().empty());
    EXPECT_EQ(DeviceA().Frames().back(), "L1+25.00E-3R");
}


}  // namespace
}  // namespace bench
