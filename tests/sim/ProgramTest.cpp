// The pulsyn-sim program as a separate process, the way tests under Wine and people use it:
// the client path on the first line, the control port, commands on standard input, the state
// file at the end.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Json.h"
#include "Net.h"
#include "PtyClient.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pulsyn_sim::json::Parse;
using Value = pulsyn_sim::json::Json;

// A running pulsyn-sim with pipes to its standard input and output.
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        int in[2], out[2], err[2];
        if (pipe(in) || pipe(out) || pipe(err)) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);
        args.insert(args.begin(), PULSYN_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, PULSYN_SIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        stderr_ = err[0];
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {stdin_, stdout_, stderr_})
            if (fd >= 0) close(fd);
    }

    // The next line of standard output (without its line break); empty after 10 s.
    std::string Line() { return ReadLine(stdout_, out_buffer_); }
    // Everything the program writes to standard output (error) until it closes it.
    std::string AllOutput() { return ReadAll(stdout_, out_buffer_); }
    std::string ErrorText() { return ReadAll(stderr_, err_buffer_); }
    void Type(const std::string& line) {
        std::string text = line + "\n";
        [[maybe_unused]] ssize_t n = write(stdin_, text.data(), text.size());
    }
    // Waits for the program to end; its exit status.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    bool started() const { return pid_ > 0; }

private:
    static std::string ReadAll(int fd, std::string& buffer) {
        std::string all;
        all.swap(buffer);
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return all;
            char chunk[4096];
            ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) return all;
            all.append(chunk, static_cast<size_t>(n));
        }
    }
    static std::string ReadLine(int fd, std::string& buffer) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (auto eol = buffer.find('\n'); eol != std::string::npos) {
                std::string line = buffer.substr(0, eol);
                buffer.erase(0, eol + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
            char chunk[4096];
            ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                std::string rest;
                rest.swap(buffer);
                return rest;
            }
            buffer.append(chunk, static_cast<size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, stderr_ = -1;
    std::string out_buffer_, err_buffer_;
};

// One control connection: a command line out, one JSON line back.
class ControlClient {
public:
    explicit ControlClient(int port) : s_(pulsyn_sim::net::ConnectLoopback(port)) {}
    ~ControlClient() {
        if (s_ != pulsyn_sim::net::kNoSocket) pulsyn_sim::net::Close(s_);
    }
    bool ok() const { return s_ != pulsyn_sim::net::kNoSocket; }
    Value Ask(const std::string& command) {
        pulsyn_sim::net::SendAll(s_, command + "\n");
        std::string line;
        char c;
        while (pulsyn_sim::net::Receive(s_, &c, 1) == 1 && c != '\n') line += c;
        auto v = Parse(line);
        EXPECT_TRUE(v) << command << " -> " << line;
        return v.value_or(Value::object());
    }

private:
    pulsyn_sim::net::Socket s_;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pulsyn-sim-program-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) { return (dir / name).string(); }
    static std::string FileText(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path dir;
};

}  // namespace

TEST_F(ProgramTest, ServesAPtyAndIsControlledOverTcpAndStandardInput) {
    Program sim({"--quiet", "--control-file", Path("port"), "--state-file", Path("state.json"), "--link",
                 Path("stimulator"), "--fault", "bad-length", "--max-voltage", "10"});
    ASSERT_TRUE(sim.started());
    const std::string path = sim.Line();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    const std::string control_line = sim.Line();
    const int port = std::stoi(FileText(Path("port")));
    EXPECT_EQ(control_line, "control 127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(fs::read_symlink(Path("stimulator")).string(), path);

    ControlClient control(port);
    ASSERT_TRUE(control.ok());
    PtyClient client(Path("stimulator"));
    ASSERT_TRUE(client.ok());
    EXPECT_EQ(client.Exchange("=>0003Y3R", 9), "=<0x03OK.");  // the fault given at start

    EXPECT_TRUE(control.Ask("clear")["ok"].get<bool>());
    EXPECT_EQ(client.Exchange("=>0012V2+12.00E+0R", 19), "=<0013ER:over limit");
    EXPECT_EQ(client.Exchange("=>0002T2", 1), "=");
    Value waited = control.Ask("wait triggers 1 5000");
    EXPECT_TRUE(waited["ok"].get<bool>());
    EXPECT_EQ(waited["triggers"].get<double>(), 1);

    // The clock that lines the time stamps up with another process's: one moment, read on
    // the simulator's own clock and on this process's steady and wall clocks.
    const auto steady_before = std::chrono::steady_clock::now().time_since_epoch();
    const auto wall_before = std::chrono::system_clock::now().time_since_epoch();
    Value clock = control.Ask("clock")["clock"];
    const auto steady_after = std::chrono::steady_clock::now().time_since_epoch();
    const auto wall_after = std::chrono::system_clock::now().time_since_epoch();
    using Seconds = std::chrono::duration<double>;
    EXPECT_GE(clock["monotonic"].get<double>(), Seconds(steady_before).count() - 1e-6);
    EXPECT_LE(clock["monotonic"].get<double>(), Seconds(steady_after).count() + 1e-6);
    EXPECT_GE(clock["wall"].get<double>(), Seconds(wall_before).count() - 1e-6);
    EXPECT_LE(clock["wall"].get<double>(), Seconds(wall_after).count() + 1e-6);
    const double triggered = control.Ask("triggers")["triggers"][0]["t"].get<double>();
    EXPECT_GT(triggered, 0);
    EXPECT_LT(triggered, clock["t"].get<double>());

    Value frames = control.Ask("frames");
    ASSERT_EQ(frames["frames"].size(), 3u);
    EXPECT_EQ(frames["frames"][0].get<std::string>(), "Y3R");
    EXPECT_EQ(frames["frames"][2].get<std::string>(), "T2");
    EXPECT_EQ(control.Ask("state")["state"]["paradigm"].get<double>(), 3);
    EXPECT_EQ(control.Ask("fault delay=20 split=2")["faults"]["split"]["size"].get<double>(), 2);
    Value refused = control.Ask("fault delay=5 nonsense");
    EXPECT_FALSE(refused["ok"].get<bool>());
    EXPECT_EQ(refused["error"].get<std::string>(), "unknown fault: nonsense");
    EXPECT_EQ(control.Ask("faults")["faults"]["delay_ms"].get<double>(), 20);  // all or nothing
    EXPECT_FALSE(control.Ask("bogus")["ok"].get<bool>());

    // The same language on standard input; the answers on standard output.
    sim.Type("wait idle 5000");
    EXPECT_EQ(sim.Line(), R"({"ok":true})");
    sim.Type("triggers");
    auto triggers = Parse(sim.Line());
    ASSERT_TRUE(triggers);
    EXPECT_EQ((*triggers)["triggers"][0]["channel"].get<double>(), 2);

    EXPECT_TRUE(control.Ask("quit")["bye"].get<bool>());
    EXPECT_EQ(sim.Wait(), 0);
    auto state = Parse(FileText(Path("state.json")));
    ASSERT_TRUE(state);
    EXPECT_EQ((*state)["paradigm"].get<double>(), 3);
    EXPECT_EQ((*state)["frames"].get<double>(), 3);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Path("stimulator"))));
}

TEST_F(ProgramTest, HangupThenReopenThroughTheControlPort) {
    Program sim({"--quiet", "--path-file", Path("path"), "--control-file", Path("port")});
    const std::string first = sim.Line();
    sim.Line();
    ControlClient control(std::stoi(FileText(Path("port"))));
    ASSERT_TRUE(control.ok());
    EXPECT_TRUE(control.Ask("fault hangup=1")["ok"].get<bool>());
    {
        PtyClient client(first);
        EXPECT_EQ(client.Exchange("=>0003Y3R", 10), "=<");
        EXPECT_TRUE(client.closed);
    }
    EXPECT_TRUE(control.Ask("path")["hung_up"].get<bool>());
    Value reopened = control.Ask("reopen");
    ASSERT_TRUE(reopened["ok"].get<bool>());
    const std::string second = reopened["path"].get<std::string>();
    EXPECT_EQ(FileText(Path("path")), second + "\n");
    PtyClient client(second);
    EXPECT_EQ(client.Exchange("=>0003GPR", 10), "=<0004OK.3");
}

TEST_F(ProgramTest, EndsOnSigtermAndWritesTheState) {
    Program sim({"--quiet", "--no-control", "--state-file", Path("state.json")});
    const std::string path = sim.Line();
    PtyClient client(path);
    EXPECT_EQ(client.Exchange("=>0003Y6R", 9), "=<0003OK.");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    auto state = Parse(FileText(Path("state.json")));
    ASSERT_TRUE(state);
    EXPECT_EQ((*state)["paradigm"].get<double>(), 6);
}

TEST_F(ProgramTest, HelpAndBadOptions) {
    Program help({"--help"});
    const std::string usage = help.AllOutput();
    EXPECT_EQ(help.Wait(), 0);
    for (const char* option : {"--device", "--link", "--control-port", "--state-file", "--fault", "--max-voltage"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;

    Program bad({"--fault", "wobble"});
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_NE(bad.ErrorText().find("unknown fault: wobble"), std::string::npos);
}

// A shell asks a running simulator through the program itself: the answer on standard output
// and an exit status a script can test, by port number or by the file --control-file wrote.
TEST_F(ProgramTest, AskSendsOneCommandFromTheShell) {
    Program sim({"--quiet", "--control-file", Path("port")});
    ASSERT_TRUE(sim.started());
    const std::string path = sim.Line();
    sim.Line();
    const std::string port = std::to_string(std::stoi(FileText(Path("port"))));

    Program state({"--ask", port, "path"});
    EXPECT_EQ(state.AllOutput(), R"({"ok":true,"path":")" + path + R"(","hung_up":false})" "\n");
    EXPECT_EQ(state.Wait(), 0);

    Program refused({"--ask", Path("port"), "fault", "wobble"});
    EXPECT_EQ(refused.AllOutput(), R"({"ok":false,"error":"unknown fault: wobble"})" "\n");
    EXPECT_EQ(refused.Wait(), 1);

    Program quit({"--ask=" + port, "quit"});
    EXPECT_EQ(quit.Wait(), 0);
    EXPECT_EQ(sim.Wait(), 0);

    // Nobody listens there any more.
    Program nobody({"--ask", port, "state"});
    EXPECT_EQ(nobody.Wait(), 2);
    EXPECT_NE(nobody.ErrorText().find("no simulator answers on 127.0.0.1:" + port), std::string::npos);
    Program no_port({"--ask", Path("missing"), "state"});
    EXPECT_EQ(no_port.Wait(), 2);
    EXPECT_NE(no_port.ErrorText().find("neither a port number nor a file"), std::string::npos);
}
