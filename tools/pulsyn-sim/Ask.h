// The client side of the control port: one command to a running simulator, its one-line
// answer back. This is what `pulsyn-sim --ask PORT COMMAND` does, so that a shell needs no
// other tool to watch or steer the simulator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pulsyn_sim {

struct AskResult {
    std::optional<std::string> answer;  // the answer line, without its line break
    std::string error;                  // why there is none
};

AskResult AskControlPort(int port, std::string_view command);

// The port in PORT_OR_FILE: a number, or the name of a file that holds one (as
// --control-file writes it). nullopt, with the reason in *error, otherwise.
std::optional<int> ControlPortFrom(const std::string& port_or_file, std::string* error);

}  // namespace pulsyn_sim
