// The few socket calls the control port needs, one backend per platform (BSD sockets,
// Winsock). Only the loopback address is ever used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pulsyn_sim::net {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

// Listens on 127.0.0.1:port (0: any free port); *bound gets the port. kNoSocket on failure,
// with the reason in *error.
Socket ListenLoopback(int port, int* bound, std::string* error);
// Waits for a connection; kNoSocket once the listener is shut down.
Socket Accept(Socket listener);
// Connects to 127.0.0.1:port; kNoSocket on failure.
Socket ConnectLoopback(int port);
// Bytes received (0 at the end of the stream, negative on failure).
long Receive(Socket s, char* buffer, size_t capacity);
bool SendAll(Socket s, std::string_view bytes);
// Ends blocked Accept and Receive calls on the socket.
void Shutdown(Socket s);
void Close(Socket s);

}  // namespace pulsyn_sim::net
