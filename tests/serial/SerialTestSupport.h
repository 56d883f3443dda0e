// Helpers shared by the serial port tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>

#include "base/MainThread.h"
#include "base/Thread.h"
#include "serial/CommInt.h"

#ifdef _WIN32
#include <windows.h>
#endif

// True when the Windows program runs under Wine, whose serial driver differs from Windows'
// in a few ways that the tests name where they meet them.
inline bool UnderWine() {
#ifdef _WIN32
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Opens up the protected parts that the tests look at.
class TestComm : public quor::TComm {
public:
    using TCustomComm::DispatchEvents;
    using TCustomComm::EscapeLine;
    using TCustomComm::FDCB;
};

// Processes messages until `done` holds or `timeout` passes; true when it held. Each wait
// is capped, for conditions that no message announces (data while no event is monitored).
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        quor::ProcessMessages();
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        quor::WaitForMessages(std::min(left, std::chrono::milliseconds(20)));
    }
}

// Every event thread of the test has ended (they end on their own after Close).
inline void ExpectEventThreadsEnd() {
    EXPECT_TRUE(PumpUntil([] { return quor::TThread::LiveThreads() == 0; }))
        << quor::TThread::LiveThreads() << " event threads still running";
}

// The message of an ECommError raised by `action`, or "" when none was raised.
inline std::string CommErrorOf(const std::function<void()>& action, int32_t* code = nullptr) {
    try {
        action();
    } catch (const quor::ECommError& e) {
        if (code) *code = e.ErrorCode;
        return e.what();
    }
    return "";
}
