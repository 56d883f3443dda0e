// Connecting: which port the link takes, the connection flag of each object, and which
// link each object sends through.
#include <cstdlib>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

#include "PulsynTestSupport.h"
#include "link/PortNames.h"
#include "server/LinkRegistry.h"

using namespace std::chrono_literals;
using quor::TPulsyn;
using Frames = std::vector<std::string>;

namespace bench {
namespace {

using ConnectionTest = PulsynTest;

VARIANT_BOOL ConnectedOf(TPulsyn& p) {
    VARIANT_BOOL value = 12345;
    EXPECT_EQ(p.get_Connected(&value), S_OK);
    return value;
}


const std::string kNotConnected = "Not connected to the stimulator: call Connect (or set Connected to True) first.";

std::string PortText(int port) { return "COM" + std::to_string(port); }

// The traffic log of the connection open on a port, as one text.
std::string LogOf(int port) {
    const auto connection = quor::ConnectionOnDevice(quor::DeviceKey(quor::PortDeviceName(port)));
    std::string text;
    if (connection)
        for (const quor::TTrafficEntry& entry : connection->Link->Log().Entries()) text += entry.Text;
    return text;
}

// Natively every device has its own link: two objects on two ports, commands interleaved,
// each device gets exactly its own frames; objects naming the same port share its link.
TEST_F(ConnectionTest, WithALinkPerDeviceEachObjectSendsOnlyToTheDeviceItConnectedTo) {
    quor::SetLinkPolicy(quor::TLinkPolicy::OneLinkPerDevice);
    TPulsyn a, b, a2;
    EXPECT_EQ(ConnectedOf(a), VARIANT_FALSE);
    // Without a connection every member that needs one says what to do.
    EXPECT_EQ(a.ClearParadigm(), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), kNotConnected);

    ConnectTo(a);
    Args({PortText(kPortB)});
    ConnectTo(b);
    Args({PortText(kPortA)});
    ConnectTo(a2);
    // Connecting again on the same object searches nothing and sends nothing.
    VARIANT_BOOL value = 0;
    ASSERT_EQ(a.put_Connected(1), S_OK);  // any non-zero value is true
    ASSERT_EQ(a.Connect(&value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);

    ASSERT_EQ(a.ChangeParadigm(6), S_OK);
    ASSERT_EQ(b.ChangeParadigm(4), S_OK);
    ASSERT_EQ(a2.Trigger(2), S_OK);
    ASSERT_EQ(b.ChangeChannelMode(1, cmTrain), S_OK);
    ASSERT_EQ(a.ChangeChannelMode(3, cmGate), S_OK);
    ASSERT_TRUE(DeviceA().WaitForFrames(3, 3s));
    EXPECT_EQ(DeviceA().Frames(), (Frames{"Y6R", "T2", "MT3R"}));
    EXPECT_EQ(DeviceB().Frames(), (Frames{"Y4R", "MN1R"}));
    // Each link logs its own traffic.
    EXPECT_NE(LogOf(kPortA).find(">0003Y6R"), std::string::npos);
    EXPECT_EQ(LogOf(kPortA).find("Y4R"), std::string::npos);
    EXPECT_NE(LogOf(kPortB).find(">0003Y4R"), std::string::npos);
    EXPECT_EQ(LogOf(kPortB).find("Y6R"), std::string::npos);

    // Disconnecting B leaves A's objects connected; a disconnect on A's port lets go of it
    // for that object only (doing it twice does nothing), and the port closes when its last
    // object lets go; that object's log can still be saved then.
    ASSERT_EQ(b.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(ConnectedOf(b), VARIANT_FALSE);
    EXPECT_EQ(ConnectedOf(a), VARIANT_TRUE);
    ASSERT_EQ(a2.put_Connected(VARIANT_FALSE), S_OK);
    ASSERT_EQ(a2.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(ConnectedOf(a), VARIANT_TRUE);
    EXPECT_EQ(a2.Trigger(1), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), kNotConnected);
    ASSERT_EQ(a.Trigger(1), S_OK);
    ASSERT_EQ(a.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(ConnectedOf(a), VARIANT_FALSE);
    EXPECT_EQ(b.ChangeParadigm(1), E_UNEXPECTED);
    EXPECT_EQ(quor::frmComm, nullptr);
    EXPECT_EQ(quor::ConnectionOnDevice(quor::DeviceKey(quor::PortDeviceName(kPortA))), nullptr);
    std::string saved = ::testing::TempDir() + "after-disconnect.rtf";
    EXPECT_EQ(a2.SaveSessionCommands(std::u16string(saved.begin(), saved.end())), S_OK) << LastDescription();
    std::remove(saved.c_str());
    EXPECT_TRUE(DeviceA().WaitForFrames(4, 3s));
    EXPECT_EQ(DeviceA().Frames().back(), "T1");
}

// The automation server keeps one connection per process: a connect to another port
// replaces it, and the objects on the old port read False and send nothing (before, their
// commands went to the new port's device); objects on the new link's port keep working.
TEST_F(ConnectionTest, WithOneLinkPerProcessAReplacedObjectReadsFalseAndSendsNothing) {
    quor::SetLinkPolicy(quor::TLinkPolicy::OneLinkPerProcess);
    TPulsyn a, b, a2;
    ConnectTo(a);
    Args({PortText(kPortB)});
    ConnectTo(b);
    EXPECT_EQ(quor::frmComm->Port(), kPortB);
    EXPECT_EQ(ConnectedOf(a), VARIANT_FALSE);
    EXPECT_EQ(a.ChangeParadigm(6), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "Not connected to the stimulator on " + PortText(kPortA) +
                                     " any more: another object connected to " + PortText(kPortB) +
                                     ", and QuorLib keeps one connection per process. Call Connect (or set "
                                     "Connected to True) to connect this object again.");
    ASSERT_EQ(b.ChangeParadigm(4), S_OK);

    // A connect to A's port again: b is the replaced one now; a connects again and shares
    // a2's connection.
    Args({PortText(kPortA)});
    ConnectTo(a2);
    EXPECT_EQ(ConnectedOf(b), VARIANT_FALSE);
    EXPECT_EQ(b.Trigger(1), E_UNEXPECTED);
    EXPECT_EQ(ConnectedOf(a), VARIANT_FALSE);
    ConnectTo(a);
    ASSERT_EQ(a.ChangeParadigm(5), S_OK);
    ASSERT_EQ(a2.ChangeParadigm(3), S_OK);
    // The replaced object's disconnect leaves the process's link alone.
    ASSERT_EQ(b.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(ConnectedOf(a2), VARIANT_TRUE);
    EXPECT_TRUE(DeviceB().WaitForIdle(3s));
    EXPECT_EQ(DeviceA().Frames(), (Frames{"Y5R", "Y3R"}));
    EXPECT_EQ(DeviceB().Frames(), Frames{"Y4R"});
}

// A connect that found no port leaves the window (its log can be shown and saved), but
// nothing can be sent: every command says that the search found none, where it looked and
// how to name the port. (Before, dialogues reported success and a trigger wrote to a closed
// port: "Write error"; then the message said to call Connect, which the program just had.)
TEST_F(ConnectionTest, NoStimulatorFoundIsNoErrorAndCommandsSayWhereTheSearchLooked) {
    Args({});
    const std::string none = "Not connected to the stimulator: Connect searched for it and found none (";
    const std::string advice = "). Check that the stimulator is plugged in and switched on, then call Connect again, or "
                               "name its port: a \"COM7\" argument on the host's command line or QUORLIB_PORT=COM7 "
                               "in the environment (from Python: Pulsyn(port=...)).";
    SetCandidatePorts({kPortB2});
    {
        BusyPort held(kPortB2);  // the only candidate is another program's
        if (!held.Exclusive()) GTEST_SKIP() << "the system lets a held port be opened again";
        TPulsyn tried;
        VARIANT_BOOL value = 12345;
        ASSERT_EQ(tried.Connect(&value), S_OK);
        EXPECT_EQ(value, VARIANT_FALSE);
        EXPECT_EQ(tried.ChangeParadigm(2), E_UNEXPECTED);
        const std::string device = quor::PortDeviceName(kPortB2);
        const std::string named = device == quor::CandidateName(kPortB2) ? "" : " (" + device + ")";
        EXPECT_EQ(LastDescription(), none + "it tried COM3" + named + advice);
    }
    SetCandidatePorts({});
    TPulsyn p;
    VARIANT_BOOL value = 12345;
    ASSERT_EQ(p.Connect(&value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);
    ASSERT_NE(quor::frmComm, nullptr);  // the window stays
    EXPECT_EQ(quor::frmComm->Port(), -1);
    const std::string searched = none + "no serial port of the kind it uses was there" + advice;
    EXPECT_EQ(p.ChangeParadigm(2), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), searched);
    value = 12345;
    EXPECT_EQ(p.SetChannelShape(1, csBipolar, &value), E_UNEXPECTED);
    EXPECT_EQ(value, 12345);
    EXPECT_EQ(p.Trigger(4), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), searched);
    EXPECT_EQ(p.CopyParadigm(3), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), searched);
    EXPECT_EQ(p.ShowMonitor(), S_OK) << LastDescription();  // the log so far can be shown
    EXPECT_TRUE(DeviceA().Frames().empty());
    EXPECT_TRUE(DeviceB().Frames().empty());
    // Writing false on an object that never connected leaves the window alone.
    ASSERT_EQ(p.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_NE(quor::frmComm, nullptr);
}

// A connect that raised (the named port's device is missing) leaves no link behind: the next
// command says to connect, not a write error on a port that never opened.
TEST_F(ConnectionTest, ACommandAfterAConnectThatRaisedSaysNotConnected) {
    Args({"COM15"});  // COM15 names no device
    TPulsyn p;
    VARIANT_BOOL value = 12345;
    EXPECT_EQ(p.Connect(&value), E_UNEXPECTED);
    EXPECT_EQ(LastDescription().rfind("Error accessing specified device", 0), 0u) << LastDescription();
    EXPECT_EQ(p.Trigger(1), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), kNotConnected);
    EXPECT_EQ(p.ChangeParadigm(2), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), kNotConnected);
    EXPECT_EQ(quor::frmComm, nullptr);
}

TEST_F(ConnectionTest, TheLastComArgumentNamesThePort) {
    Args({"COM" + std::to_string(kPortA), "/x", "com" + std::to_string(kPortB)});
    TPulsyn p;
    ConnectTo(p);
    EXPECT_EQ(quor::frmComm->Port(), kPortB);
    ASSERT_EQ(p.ClearParadigm(), S_OK);
    EXPECT_EQ(DeviceB().Frames(), Frames{"ER"});
    // No probe: a named port is opened without the search.
    EXPECT_EQ(LogLines().front(), "> =");
    EXPECT_EQ(LogLines()[1], "> >0002ER");
}

TEST_F(ConnectionTest, AComArgumentThatIsNoNumberFailsTheConnection) {
    Args({"Commands.txt"});
    TPulsyn p;
    VARIANT_BOOL value = 12345;
    EXPECT_EQ(p.Connect(&value), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "''mands.txt'' is not a valid integer value");
    EXPECT_EQ(value, 12345);
    EXPECT_EQ(ConnectedOf(p), VARIANT_FALSE);
    EXPECT_EQ(quor::frmComm, nullptr);  // the argument is read before anything is opened
    EXPECT_EQ(p.put_Connected(VARIANT_TRUE), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), "''mands.txt'' is not a valid integer value");
}

// QUORLIB_PORT for the length of a test (nullptr: not set).
class PortVariable {
public:
    explicit PortVariable(const std::string& value) { Set(value.c_str()); }
    ~PortVariable() { Set(nullptr); }
    PortVariable(const PortVariable&) = delete;
    PortVariable& operator=(const PortVariable&) = delete;

private:
    static void Set(const char* value) {
#ifdef _WIN32
        SetEnvironmentVariableA("QUORLIB_PORT", value);
#else
        if (value) {
            setenv("QUORLIB_PORT", value, 1);
        } else {
            unsetenv("QUORLIB_PORT");
        }
#endif
    }
};

// Hosts without a command line of their own name the port in QUORLIB_PORT; a "COM"
// argument still wins, and a value that names no port fails the connection, saying so,
// rather than connecting to whatever the search finds.
TEST_F(ConnectionTest, QuorlibPortNamesThePortWhenNoArgumentDoes) {
    SetCandidatePorts({kPortA, kPortB, kPortA2});  // the search would take COM12 (A2)
    {
        PortVariable variable(" com" + std::to_string(kPortB) + " ");
        Args({"/x"});
        TPulsyn p;
        ConnectTo(p);
        EXPECT_EQ(quor::frmComm->Port(), kPortB);
        EXPECT_TRUE(LogLines().empty());  // opened without the search's probe
        ASSERT_EQ(p.put_Connected(VARIANT_FALSE), S_OK);

        Args({"COM" + std::to_string(kPortA)});
        ConnectTo(p);
        EXPECT_EQ(quor::frmComm->Port(), kPortA);
        ASSERT_EQ(p.put_Connected(VARIANT_FALSE), S_OK);
    }
    for (const std::string bad : {"7", "COM", "COM0", "COM-3", "COM7x", "COM 7", "/dev/ttyACM0"}) {
        PortVariable variable(bad);
        Args({});
        TPulsyn p;
        VARIANT_BOOL value = 12345;
        EXPECT_EQ(p.Connect(&value), E_UNEXPECTED) << bad;
        EXPECT_EQ(LastDescription(), "The environment variable QUORLIB_PORT is \"" + bad +
                                         "\", which names no port: set it to the stimulator's port, e.g. COM7, or "
                                         "remove it to let QuorLib search for the stimulator.");
        EXPECT_EQ(value, 12345);
    }
    {
        PortVariable empty("");  // set to nothing: the search, as without it
        Args({});
        TPulsyn p;
        ConnectTo(p);
        EXPECT_EQ(quor::frmComm->Port(), kPortA2);
    }
}

TEST_F(ConnectionTest, SearchTakesTheHighestCandidateThatOpens) {
    Args({"COM0"});  // zero leads to the search
    SetCandidatePorts({kPortB2, kPortA2});
    TPulsyn p;
    ConnectTo(p);
    EXPECT_EQ(quor::frmComm->Port(), kPortA2);
    // One probe on the way, then the chosen port is opened again.
    EXPECT_EQ(LogLines(), Frames{"> ="});
    ASSERT_EQ(p.ChangeParadigm(1), S_OK);
    EXPECT_EQ(DeviceA().Frames(), Frames{"Y1R"});
}

TEST_F(ConnectionTest, SearchSkipsPortsThatDoNotOpen) {
    Args({});
    SetCandidatePorts({kPortB2, 15});  // COM15 names no device
    TPulsyn p;
    ConnectTo(p);
    EXPECT_EQ(quor::frmComm->Port(), kPortB2);
}

TEST_F(ConnectionTest, SearchSkipsAPortThatAnotherProgramHolds) {
    Args({});
    SetCandidatePorts({kPortB2, kPortA2});
    TPulsyn p;
    {
        BusyPort busy(kPortA2);  // another program holds the higher port
        if (!busy.Exclusive()) GTEST_SKIP() << "this system lets a second program open a held serial port";
        ConnectTo(p);
        EXPECT_EQ(quor::frmComm->Port(), kPortB2);
    }
    ASSERT_EQ(p.ChangeParadigm(8), S_OK);
    EXPECT_EQ(DeviceB().Frames(), Frames{"Y8R"});
}

// A device that goes away (a pulled cable) ends a waiting command at once with a message
// that names the port and says what to do; the object then reads as not connected, and
// connecting again works once the device is back. Likewise between commands.
TEST_F(ConnectionTest, ALostPortFailsAtOnceAndConnectingAgainWorks) {
    TPulsyn p;
    ConnectTo(p);
    quor::frmComm->ReplyTimeout = 10s;
    const std::string lost = "The stimulator's port COM" + std::to_string(kPortA) +
                             " was closed, perhaps unplugged: check its cable and power, then connect again "
                             "(Connect, or set Connected to True).";
    auto reconnect = [&] {
        DeviceA().Reopen();
        SetCandidatePorts({kPortA, kPortA2, kPortB, kPortB2});
        ConnectTo(p);
    };
    VARIANT_BOOL value = 12345;

    DeviceA().SetFault("hangup=3");  // mid-reply
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.SetChannelVoltage(1, 3, &value), E_UNEXPECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(LastDescription(), lost);
    EXPECT_EQ(value, 12345);
    EXPECT_EQ(ConnectedOf(p), VARIANT_FALSE);
    EXPECT_EQ(p.Trigger(1), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), lost);
    EXPECT_EQ(p.ShowMonitor(), S_OK) << LastDescription();  // the log up to the loss

    reconnect();
    EXPECT_EQ(p.SetChannelVoltage(1, 3, &value), S_OK) << LastDescription();
    EXPECT_EQ(value, VARIANT_TRUE);

    // Gone between commands: the device hangs up as it answers a trigger.
    DeviceA().SetFault("answer-all");
    DeviceA().SetFault("hangup=0");
    ASSERT_EQ(p.Trigger(1), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return ConnectedOf(p) == VARIANT_FALSE; }, 3s));
    EXPECT_EQ(p.ClearParadigm(), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), lost);
    reconnect();
    EXPECT_EQ(p.ClearParadigm(), S_OK) << LastDescription();
    // Disconnected, the connection's log can still be shown, until the object connects again.
    ASSERT_EQ(p.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(p.ShowMonitor(), S_OK) << LastDescription();
}

// Every message's advice works as written: after a disconnect, "call Connect" connects; a
// null pointer for a result is refused before anything is sent.
TEST_F(ConnectionTest, FollowingTheAdviceOfAMessageRecovers) {
    TPulsyn a, b;
    ConnectTo(a);
    ConnectTo(b);
    ASSERT_EQ(b.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(ConnectedOf(a), VARIANT_TRUE);  // a still holds the connection
    ASSERT_EQ(a.put_Connected(VARIANT_FALSE), S_OK);
    EXPECT_EQ(a.Trigger(1), E_UNEXPECTED);
    EXPECT_NE(LastDescription().find("call Connect (or set Connected to True)"), std::string::npos);
    ConnectTo(a);
    EXPECT_EQ(a.Trigger(1), S_OK) << LastDescription();

    ASSERT_EQ(a.put_Connected(VARIANT_FALSE), S_OK);
    ASSERT_EQ(b.put_Connected(VARIANT_TRUE), S_OK);
    ASSERT_EQ(b.put_Connected(VARIANT_FALSE), S_OK);
    ASSERT_EQ(a.put_Connected(VARIANT_TRUE), S_OK);  // the other way of following it
    EXPECT_EQ(ConnectedOf(a), VARIANT_TRUE);
    EXPECT_EQ(a.ClearParadigm(), S_OK) << LastDescription();

    DeviceA().Reset();
    EXPECT_EQ(a.get_Connected(nullptr), E_POINTER);
    EXPECT_EQ(a.Connect(nullptr), E_POINTER);
    EXPECT_EQ(a.SetChannelVoltage(1, 3, nullptr), E_POINTER);
    EXPECT_EQ(LastDescription(),
              "SetChannelVoltage was called with a null pointer for its result: pass a variable to receive it.");
    EXPECT_EQ(a.SetChannelShape(1, csMonopolar, nullptr), E_POINTER);
    ASSERT_TRUE(DeviceA().WaitForIdle(3s));
    EXPECT_TRUE(DeviceA().Frames().empty());
}

// Connected says the port is open; Ping says whether a stimulator answers on it.
TEST_F(ConnectionTest, PingTellsAStimulatorFromAPortThatMerelyOpened) {
    TPulsyn p;
    std::string reply = "untouched";
    EXPECT_EQ(p.Ping(reply), E_UNEXPECTED);
    EXPECT_EQ(LastDescription(), kNotConnected);
    ConnectTo(p);
    p.SetReplyTimeout(300ms);
    for (const bool silent : {false, true}) {
        DeviceA().Reset();
        ASSERT_EQ(p.ChangeParadigm(6), S_OK);
        if (silent) DeviceA().SetFault("silence");
        reply = "untouched";
        const HRESULT status = p.Ping(reply);
        ASSERT_TRUE(DeviceA().WaitForFrames(2, 3s));
        EXPECT_EQ(DeviceA().Frames(), (Frames{"Y6R", "GPR"}));
        if (!silent) {
            EXPECT_EQ(status, S_OK) << LastDescription();
            EXPECT_EQ(reply, "OK.6");
            continue;
        }
        EXPECT_EQ(status, E_UNEXPECTED);
        EXPECT_EQ(reply, "untouched");
        EXPECT_EQ(LastDescription(), "No stimulator answered on " + PortText(kPortA) +
                                         ": the port is open, but nothing replied to \"GP\" within 300 ms. Check "
                                         "that the stimulator is switched on and plugged in, and that this is its port.");
        EXPECT_EQ(ConnectedOf(p), VARIANT_TRUE);
    }
}

#ifdef QUOR_AUTOMATION
// The automation server's link lives on the thread that first used the library; a call from
// another thread (a worker of the host) is refused with advice, and nothing reaches the device.
TEST_F(ConnectionTest, ACallFromAnotherThreadIsRefused) {
    TPulsyn p;
    ConnectTo(p);
    DeviceA().Reset();
    HRESULT status = S_OK;
    std::string message;
    VARIANT_BOOL connected = 12345;
    std::thread worker([&] {
        status = p.ClearParadigm();
        message = LastDescription();
        EXPECT_EQ(p.get_Connected(&connected), E_UNEXPECTED);
    });
    worker.join();
    EXPECT_EQ(status, E_UNEXPECTED);
    EXPECT_EQ(message,
              "QuorLib.Pulsyn was called from another thread than the one that first used it: make every call from "
              "that thread. The object belongs to that thread (the class is apartment-threaded); a program that needs "
              "it on another thread hands it over through COM, which then carries each call back to the first "
              "thread.");
    EXPECT_EQ(connected, 12345);
    EXPECT_EQ(p.ClearParadigm(), S_OK) << LastDescription();  // its own thread goes on
    ASSERT_TRUE(DeviceA().WaitForFrames(1, 3s));
    EXPECT_EQ(DeviceA().Frames(), Frames{"ER"});
}
#endif

}  // namespace
}  // namespace bench
