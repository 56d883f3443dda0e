// Windows backend: a COM port through the Win32 communications API, overlapped.
#include <windows.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "Line.h"

namespace pulsyn_sim {

namespace {

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + " (Windows error " + std::to_string(GetLastError()) + ")");
}

std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

class Win32Line final : public Line {
public:
    Win32Line() {
        wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        read_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        event_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!wake_ || !read_.hEvent || !write_.hEvent || !event_.hEvent) throw SystemError("CreateEvent");
    }
    ~Win32Line() override {
        Close();
        for (HANDLE h : {wake_, read_.hEvent, write_.hEvent, event_.hEvent}) CloseHandle(h);
    }

    std::string OpenPty() override {
        throw std::runtime_error(
            "Windows has no pseudo-terminals: name the COM port to serve with --device, e.g. "
            "--device COM5 (one end of a null-modem emulator pair)");
    }

    void OpenDevice(const std::string& name) override {
        Close();
        std::string path = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
        HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw SystemError("cannot open " + name);
        SetupComm(h, 4096, 4096);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(h, &dcb);
        dcb.BaudRate = CBR_38400;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(h, &dcb)) {
            CloseHandle(h);
            throw SystemError("cannot set 38400 8N1 on " + name);
        }
        // Reads return with what is queued. When nothing is, Windows completes the read at once
        // (then EV_RXCHAR tells when to read again) and Wine holds it until a byte comes. (The
        // time-outs that ask for the first byte to be awaited never complete under Wine on a
        // pseudo-terminal.)
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 1000};
        SetCommTimeouts(h, &timeouts);
        handle_ = h;
        events_ = SetCommMask(h, EV_RXCHAR) != 0;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    void Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        if (read_pending_) {
            CancelIo(handle_);
            DWORD n = 0;
            GetOverlappedResult(handle_, &read_, &n, TRUE);
            read_pending_ = false;
        }
        if (event_pending_) {
            SetCommMask(handle_, 0);  // ends the pending WaitCommEvent
            CancelIo(handle_);
            DWORD n = 0;
            GetOverlappedResult(handle_, &event_, &n, TRUE);
            event_pending_ = false;
        }
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    void LetClientRead(double) override {
        if (IsOpen()) FlushFileBuffers(handle_);
    }

    long Read(char* buffer, size_t capacity, double timeout) override {
        const DWORD ms = timeout < 0 ? INFINITE : static_cast<DWORD>(std::ceil(timeout * 1000));
        if (!IsOpen()) {
            WaitForSingleObject(wake_, ms);
            return 0;
        }
        DWORD n = 0;
        if (!read_pending_) {
            ResetEvent(read_.hEvent);
            if (ReadFile(handle_, buffer_, sizeof buffer_, &n, &read_)) {
                if (n > 0) return Take(buffer, capacity, n);
                // Nothing queued, and the driver said so at once (as Windows does): wait for
                // the next byte and read it on the next call.
                if (ms == 0) return 0;
                if (events_ && WaitForInput(ms)) return 0;
                if (!events_) WaitForSingleObject(wake_, ms < 2 ? ms : 2);  // no events: look again soon
                return 0;
            }
            if (GetLastError() != ERROR_IO_PENDING) return Fail();
            read_pending_ = true;  // the driver holds the read until a byte comes (as Wine does)
        }
        HANDLE events[2] = {read_.hEvent, wake_};
        if (WaitForMultipleObjects(2, events, FALSE, ms) != WAIT_OBJECT_0) return 0;
        read_pending_ = false;
        if (!GetOverlappedResult(handle_, &read_, &n, FALSE)) return Fail();
        return Take(buffer, capacity, n);
    }

    bool Write(std::string_view bytes) override {
        if (!IsOpen()) return false;
        ResetEvent(write_.hEvent);
        DWORD n = 0;
        if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &write_)) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            if (WaitForSingleObject(write_.hEvent, 1000) != WAIT_OBJECT_0) {
                CancelIo(handle_);
                GetOverlappedResult(handle_, &write_, &n, TRUE);
                return false;
            }
            if (!GetOverlappedResult(handle_, &write_, &n, FALSE)) return false;
        }
        return n == bytes.size();
    }

    void Wake() override { SetEvent(wake_); }

private:
    long Take(char* buffer, size_t capacity, DWORD n) {
        // Callers pass a buffer at least as large as ours (the simulator reads 4096 bytes).
        size_t count = n < capacity ? n : capacity;
        std::memcpy(buffer, buffer_, count);
        return static_cast<long>(count);
    }
    long Fail() {
        read_pending_ = false;
        Close();
        return -1;
    }

    // Waits for EV_RXCHAR, Wake or the time-out; true when input may be there. Turns events_
    // off when the port cannot report events.
    bool WaitForInput(DWORD ms) {
        if (!event_pending_) {
            ResetEvent(event_.hEvent);
            mask_ = 0;
            if (WaitCommEvent(handle_, &mask_, &event_)) return true;
            if (GetLastError() != ERROR_IO_PENDING) {
                events_ = false;
                return false;
            }
            event_pending_ = true;
        }
        // A byte that came between the last read and the start of the wait raises no event.
        COMSTAT stat{};
        DWORD errors = 0;
        if (ClearCommError(handle_, &errors, &stat) && stat.cbInQue > 0) return true;
        HANDLE events[2] = {event_.hEvent, wake_};
        if (WaitForMultipleObjects(2, events, FALSE, ms) != WAIT_OBJECT_0) return false;
        DWORD n = 0;
        GetOverlappedResult(handle_, &event_, &n, FALSE);
        event_pending_ = false;
        return true;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE wake_ = nullptr;
    OVERLAPPED read_{};
    OVERLAPPED write_{};
    OVERLAPPED event_{};
    DWORD mask_ = 0;
    bool events_ = false;
    bool event_pending_ = false;
    bool read_pending_ = false;
    char buffer_[4096];
};

}  // namespace

std::unique_ptr<Line> Line::Create() { return std::make_unique<Win32Line>(); }

std::string MakeLink(const std::string& link, const std::string&) {
    return "cannot make the link " + link + ": links to a port are a POSIX feature";
}

void RemoveLink(const std::string&, const std::string&) {}

}  // namespace pulsyn_sim
