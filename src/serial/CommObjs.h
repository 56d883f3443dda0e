// CommObjs: the small synchronisation objects of the serial port: an event that can be
// waited on with a time-out, and a lock that its holder may enter again.
//
// On Windows these own Win32 event objects and critical sections. On POSIX an event is an
// eventfd (so that it can be polled together with a device), and the lock is a recursive
// mutex. System handles are carried as pointer-sized integers; -1 is the invalid handle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/UniqueHandle.h"

namespace quor {

using THandle = intptr_t;
constexpr THandle kInvalidHandle = -1;

// The system's error code for an invalid handle: 6 (ERROR_INVALID_HANDLE) on Windows,
// 9 (EBADF) on POSIX.
extern const int32_t kInvalidHandleError;
// What an event holds when the system could not create it: null on Windows, -1 on POSIX.
extern const THandle kNoEventHandle;

// The system's code of the last failed call on this thread (GetLastError(), errno).
int32_t LastSystemError();

enum TEventWaitResult : uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Waits without limit.
constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

// An event's handle, closed with the system's call; "none" is kNoEventHandle.
struct TEventHandleTraits {
    using Handle = THandle;
    static THandle Invalid() { return kNoEventHandle; }
    static void Close(THandle handle);
};

class THandleObject {
public:
    THandleObject(const THandleObject&) = delete;
    THandleObject& operator=(const THandleObject&) = delete;
    virtual ~THandleObject();
    THandle Handle() const { return FHandle.Get(); }
    // The system error code of the last failed wait; 0 until one fails.
    int32_t Error() const { return FError; }

protected:
    THandleObject() = default;
    TUniqueHandle<TEventHandleTraits> FHandle;
    int32_t FError = 0;
};

class TEvent : public THandleObject {
public:
    // EventAttributes: Win32 security attributes (may be null; ignored on POSIX). A named
    // event is shared between processes on Windows; POSIX has no such events, and a name
    // there leaves the event without a handle. Creation failures are not reported: the
    // handle stays invalid and every wait returns wrError.
    TEvent(void* EventAttributes, bool ManualReset, bool InitialState, const std::string& Name);
    // Waits at most Timeout milliseconds (INFINITE_WAIT: without limit) for the event.
    // A successful wait resets an auto-reset event only.
    TEventWaitResult WaitFor(uint32_t Timeout);
    void SetEvent();
    void ResetEvent();

protected:
    bool FManualReset = true;
};

// Unnamed, manual reset, initially not signalled.
class TSimpleEvent : public TEvent {
public:
    TSimpleEvent() : TEvent(nullptr, true, false, std::string()) {}
};

class TCriticalSection {
public:
    TCriticalSection();
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    virtual ~TCriticalSection();
    void Acquire();
    void Release();
    void Enter() { Acquire(); }
    void Leave() { Release(); }
    // The standard library's lock names, for std::lock_guard.
    void lock() { Acquire(); }
    void unlock() { Release(); }

private:
    struct Section;
    std::unique_ptr<Section> FSection;
};

}  // namespace quor
