#include "Ask.h"

#include <fstream>

#include "Net.h"
#include "base/TextConvert.h"

namespace pulsyn_sim {

AskResult AskControlPort(int port, std::string_view command) {
    const std::string where = "127.0.0.1:" + std::to_string(port);
    const net::Socket s = net::ConnectLoopback(port);
    if (s == net::kNoSocket)
        return {std::nullopt, "no simulator answers on " + where + ": is it running, and is that its control port?"};
    AskResult result;
    if (!net::SendAll(s, std::string(command) + "\n")) {
        result.error = "cannot send to " + where;
    } else {
        // A command such as "wait idle" answers when it is done: read until the line ends.
        std::string line;
        char buffer[4096];
        for (;;) {
            const long n = net::Receive(s, buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, static_cast<size_t>(n));
            if (line.find('\n') != std::string::npos) break;
        }
        if (const auto eol = line.find('\n'); eol != std::string::npos)
            result.answer = line.substr(0, eol);
        else
            result.error = "the simulator on " + where + " closed the connection without an answer";
    }
    net::Close(s);
    return result;
}

std::optional<int> ControlPortFrom(const std::string& port_or_file, std::string* error) {
    std::string text = port_or_file;
    if (!quor::ParseInt32(text)) {
        std::ifstream file(port_or_file);
        if (!file || !std::getline(file, text)) {
            *error = "'" + port_or_file + "' is neither a port number nor a file that holds one";
            return std::nullopt;
        }
    }
    const auto port = quor::ParseInt32(text);
    if (!port || *port <= 0 || *port > 65535) {
        *error = "'" + text + "' is no control port (1 to 65535)";
        return std::nullopt;
    }
    return *port;
}

}  // namespace pulsyn_sim
