// pulsyn-sim: a stand-in for the Pulsyn stimulator on a virtual serial line.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Ask.h"
#include "Control.h"
#include "ControlServer.h"
#include "Json.h"
#include "Simulator.h"
#include "StopSignals.h"
#include "base/TextConvert.h"

namespace {

const char kUsage[] = R"(pulsyn-sim - a stand-in for the Pulsyn nine-channel pulse stimulator

Runs until you stop it (Ctrl+C) and behaves like the stimulator at the far end of a serial
line: it answers the prompt byte "=", takes command frames, keeps the nine paradigms of nine
channels, and answers "OK." or "ER:<reason>" to every command that asks for a reply.

On Linux it makes a new pseudo-terminal and prints the path of the end your program opens,
for example /dev/pts/7, as the FIRST LINE of its output. Point the client at that path (or at
a fixed --link). Under Wine, make a COM port of it and start the client with COM5:
    ln -sf /dev/pts/7 ~/.wine/dosdevices/com5
(a pseudo-terminal has no modem lines: QuorLib uses it without them, and its log says so).
On Windows, pair two COM ports with a null-modem emulator (com0com, in its setup command
prompt: install PortName=COM6 PortName=COM7), serve one (--device COM6) and let the client
open the other (COM7).

usage: pulsyn-sim [OPTION]...
       pulsyn-sim --ask PORT COMMAND [WORD]...

Where the stimulator sits:
  --device NAME        serve this serial device instead of a new pseudo-terminal
                       (/dev/ttyUSB0; on Windows required: COM6)
  --link PATH          keep a symbolic link at PATH to the client's end (Linux), e.g.
                       --link /tmp/pulsyn; removed when the simulator ends
  --path-file FILE     also write the client's path to FILE (again after a reopen)

Watching it:
  --transcript FILE    append every event (bytes in and out, frames, answers, triggers) to
                       FILE, one JSON object a line, as it happens
  --state-file FILE    write the device state as JSON to FILE when the simulator ends
  --quiet              no explanations on standard error

Controlling it while it runs:
  --control-port N     accept control commands on TCP 127.0.0.1:N (default 0: any free
                       port; the port is printed as the second line of output)
  --control-file FILE  write the control port number to FILE
  --no-control         no control port (standard input still works)
  Type "help" on standard input, or send it to the control port, for the commands: one
  command a line (state, frames, transcript, fault delay=200, clear, reset, quit, ...), one
  line of JSON back for each.

Asking a running simulator from a shell (another pulsyn-sim does the talking):
  --ask PORT COMMAND   send COMMAND (the words after PORT) to the control port PORT (or to
                       the port in the file PORT, as --control-file wrote it) and print the
                       answer; exit status 0 when it says "ok":true, 1 when "ok":false, 2
                       when no simulator answers. Try: pulsyn-sim --ask 40123 state

Making it misbehave (also at run time with the control command "fault SPEC"):
  --fault SPEC         switch on a fault; repeat for several:
                         silence            answers nothing at all
                         delay=MS           replies MS milliseconds late
                         noise[=TEXT]       sends TEXT before each reply ("\xHH" for a byte)
                         split=SIZE[/MS]    sends replies in SIZE-byte pieces, MS ms apart
                         bad-length[=XXXX]  a length field that is no number (default 0x03)
                         wrong-length=D     a length D bytes off the payload's
                         hangup[=N]         closes the line after N bytes of the next reply
                         no-echo            does not answer the prompt byte "="
                         pace               takes 260 us a byte in both directions, like a
                                            real 38400 baud line
                         answer-all         answers commands without "R" (trigger, copy) too
                         stream[=RATE]      sends filler "~" without end, RATE bytes a second
                                            (default 3840, the line's full rate)
                         hold               holds the line (XOFF): the client's writes wait
                         stall=MS           holds the line for MS ms after each prompt byte
  --no-echo, --pace    the same as --fault no-echo, --fault pace
  --max-voltage V      refuse voltages above V volts in magnitude with "ER:over limit";
  --max-step V         likewise for the voltage step, the three times (in seconds) and the
  --max-delay S        pulse count
  --max-duration S
  --max-interval S
  --max-count N
  --frame-timeout MS   drop a frame that stops arriving part-way after MS ms (default 1000;
                       0: wait forever)

  --help               this text
)";

struct ProgramOptions {
    pulsyn_sim::Options sim;
    int control_port = 0;
    bool control = true;
    std::string control_file;
    std::string state_file;
    bool quiet = false;
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "pulsyn-sim: %s\n(pulsyn-sim --help tells how to use it)\n", message.c_str());
    std::exit(2);
}

double NumberArgument(const std::string& option, const std::string& text) {
    auto value = quor::ParseFloat(text);
    if (!value || *value < 0) Fail(option + " takes a number of 0 or more, not '" + text + "'");
    return *value;
}

ProgramOptions Parse(int argc, char** argv) {
    ProgramOptions o;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool inline_value = false;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inline_value = true;
        }
        auto next = [&]() -> std::string {
            if (inline_value) return value;
            if (i + 1 >= args.size()) Fail(name + " needs a value");
            return args[++i];
        };
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (name == "--device") {
            o.sim.device = next();
        } else if (name == "--link") {
            o.sim.link = next();
        } else if (name == "--path-file") {
            o.sim.path_file = next();
        } else if (name == "--transcript") {
            o.sim.transcript_file = next();
        } else if (name == "--state-file") {
            o.state_file = next();
        } else if (name == "--quiet") {
            o.quiet = true;
        } else if (name == "--control-port") {
            auto port = quor::ParseInt32(next());
            if (!port || *port < 0 || *port > 65535) Fail("--control-port takes a port number 0..65535");
            o.control_port = *port;
        } else if (name == "--control-file") {
            o.control_file = next();
        } else if (name == "--no-control") {
            o.control = false;
        } else if (name == "--fault") {
            std::string error = o.sim.faults.Apply(next());
            if (!error.empty()) Fail(error);
        } else if (name == "--no-echo" || name == "--pace") {
            o.sim.faults.Apply(name.substr(2));
        } else if (name == "--frame-timeout") {
            o.sim.frame_timeout_ms = NumberArgument(name, next());
        } else if (name.rfind("--max-", 0) == 0) {
            auto quantity = pulsyn_sim::QuantityFromName(name.substr(6));
            if (!quantity) Fail("unknown option " + name);
            o.sim.limits[*quantity] = NumberArgument(name, next());
        } else {
            Fail("unknown option " + args[i]);
        }
    }
    return o;
}

std::mutex g_out_mu;
void PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_out_mu);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// pulsyn-sim --ask PORT COMMAND...: one control command to a running simulator.
int Ask(const std::vector<std::string>& args) {
    if (args.size() < 2) Fail("--ask needs a control port and a command, e.g. --ask 40123 state");
    std::string error;
    const auto port = pulsyn_sim::ControlPortFrom(args[0], &error);
    if (!port) Fail(error);
    std::string command;
    for (size_t i = 1; i < args.size(); ++i) command += (i > 1 ? " " : "") + args[i];
    const pulsyn_sim::AskResult result = pulsyn_sim::AskControlPort(*port, command);
    if (!result.answer) Fail(result.error);
    PrintLine(*result.answer);
    const auto answer = pulsyn_sim::json::Parse(*result.answer);
    const bool ok = answer && answer->is_object() && answer->value("ok", false);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--ask" || std::string(argv[1]).rfind("--ask=", 0) == 0)) {
        std::vector<std::string> args(argv + 2, argv + argc);
        if (std::string(argv[1]) != "--ask") args.insert(args.begin(), std::string(argv[1]).substr(6));
        return Ask(args);
    }
    pulsyn_sim::PrepareStopSignals();
    ProgramOptions options = Parse(argc, argv);

    std::mutex mu;
    std::condition_variable cv;
    bool quit = false;
    auto request_quit = [&] {
        std::lock_guard<std::mutex> lock(mu);
        quit = true;
        cv.notify_all();
    };

    std::unique_ptr<pulsyn_sim::Simulator> sim;
    try {
        sim = std::make_unique<pulsyn_sim::Simulator>(options.sim);
        sim->Start();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    const std::string path = sim->ClientPath();
    PrintLine(path);

    pulsyn_sim::Control control(*sim);
    pulsyn_sim::ControlServer server(control, request_quit);
    int port = 0;
    if (options.control) {
        try {
            port = server.Listen(options.control_port);
        } catch (const std::exception& e) {
            Fail(e.what());
        }
        if (!options.control_file.empty() &&
            !pulsyn_sim::WriteFileAtomically(options.control_file, std::to_string(port) + "\n"))
            Fail("cannot write " + options.control_file);
        PrintLine("control 127.0.0.1:" + std::to_string(port));
    }
    if (!options.quiet) {
        std::fprintf(stderr,
                     "pulsyn-sim: the stimulator is at %s%s%s\n"
                     "pulsyn-sim: type 'help' for commands; Ctrl+C ends it\n",
                     path.c_str(), options.sim.link.empty() ? "" : ", also reached as ",
                     options.sim.link.c_str());
        if (port) std::fprintf(stderr, "pulsyn-sim: control commands also on TCP 127.0.0.1:%d\n", port);
    }

    pulsyn_sim::WatchStopSignals(request_quit);

    // Commands on standard input. The end of the input does not end the simulator: it runs
    // until it is told to quit or stopped by a signal.
    std::thread([&control, &request_quit] {
        std::string line;
        while (std::getline(std::cin, line)) {
            bool asked = false;
            std::string answer = control.Execute(line, &asked);
            if (!answer.empty()) PrintLine(answer);
            if (asked) request_quit();
        }
    }).detach();

    {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return quit; });
    }
    // Stopping the simulator first also ends control commands that are still waiting.
    sim->Stop();
    int status = 0;
    if (!options.state_file.empty() && !pulsyn_sim::WriteFileAtomically(options.state_file, sim->StateJson() + "\n")) {
        std::fprintf(stderr, "pulsyn-sim: cannot write %s\n", options.state_file.c_str());
        status = 1;
    }
    server.Stop();
    std::fflush(stdout);
    std::fflush(stderr);
    // The input thread may still be blocked reading; leave without running destructors under it.
    std::_Exit(status);
}
