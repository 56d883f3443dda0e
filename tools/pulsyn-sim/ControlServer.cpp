#include "ControlServer.h"

#include <algorithm>
#include <stdexcept>

namespace pulsyn_sim {

ControlServer::ControlServer(Control& control, std::function<void()> on_quit)
    : control_(control), on_quit_(std::move(on_quit)) {}

ControlServer::~ControlServer() { Stop(); }

int ControlServer::Listen(int port) {
    std::string error;
    int bound = 0;
    net::Socket s = net::ListenLoopback(port, &bound, &error);
    if (s == net::kNoSocket) throw std::runtime_error(error);
    listener_ = s;
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return bound;
}

void ControlServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return;
        stopping_ = true;
        if (listener_ != net::kNoSocket) net::Shutdown(listener_);
        for (net::Socket c : clients_) net::Shutdown(c);
    }
    if (listener_ != net::kNoSocket) net::Close(listener_);  // Winsock ends accept on close
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : threads_) t.join();
    threads_.clear();
}

void ControlServer::AcceptLoop() {
    for (;;) {
        net::Socket s = net::Accept(listener_);
        std::lock_guard<std::mutex> lock(mu_);
        if (s == net::kNoSocket || stopping_) {
            if (s != net::kNoSocket) net::Close(s);
            return;
        }
        clients_.push_back(s);
        threads_.emplace_back([this, s] { Serve(s); });
    }
}

void ControlServer::Serve(net::Socket s) {
    std::string pending;
    char buffer[1024];
    bool quit = false, open = true;
    while (open && !quit) {
        long n = net::Receive(s, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t eol;
        while (!quit && (eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            std::string answer = control_.Execute(line, &quit);
            if (!answer.empty() && !net::SendAll(s, answer + "\n")) {
                open = false;
                break;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        clients_.erase(std::remove(clients_.begin(), clients_.end(), s), clients_.end());
        net::Close(s);
    }
    if (quit && on_quit_) on_quit_();
}

}  // namespace pulsyn_sim
