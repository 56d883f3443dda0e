// The control port: a TCP listener on 127.0.0.1 that runs each line received through the
// control language and sends back its one-line JSON answer. Any number of clients at once
// (a Windows test under Wine reaches it as well as a shell, through `pulsyn-sim --ask`); the
// simulator is thread-safe, so their commands need no queue.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Control.h"
#include "Net.h"

namespace pulsyn_sim {

class ControlServer {
public:
    // on_quit runs (on a connection's thread) after the answer to "quit" has been sent.
    ControlServer(Control& control, std::function<void()> on_quit);
    ~ControlServer();

    // Listens on 127.0.0.1:port, 0 for any free port; returns the port. Throws std::runtime_error.
    int Listen(int port);
    void Stop();

private:
    void AcceptLoop();
    void Serve(net::Socket s);

    Control& control_;
    std::function<void()> on_quit_;
    std::mutex mu_;
    net::Socket listener_ = net::kNoSocket;
    std::vector<net::Socket> clients_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
    bool stopping_ = false;
};

}  // namespace pulsyn_sim
