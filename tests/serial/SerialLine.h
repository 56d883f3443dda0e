// The far end of a serial line, played by the tests: the port under test opens PortName(),
// the test sends and receives at the other end and can pull the plug.
//
// Natively the line is a pseudo-terminal pair of this process. Under Wine it is a pair of
// COM ports that the test runner links to two pseudo-terminals whose masters a relay joins
// (tests/support/ptylink.c); the variables QUOR_TEST_PORTS ("21,22": the port under test
// and the far end) and QUOR_TEST_HANGUP (a file whose creation makes the relay hang up the
// port under test) describe it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

class SerialLine {
public:
    SerialLine();
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    std::string PortName() const;
    void Send(const std::string& bytes);
    // Waits until `count` bytes have arrived or `timeout` has passed; returns what arrived.
    std::string Receive(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The far end goes away, as when a USB adapter is pulled out.
    void HangUp();

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};
