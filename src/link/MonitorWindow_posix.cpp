// The monitor without a window system: a headless log with the same entries and colours.
// Saving writes the Rich Text Format document itself; showing echoes the log, and every
// entry after it, to standard error.
#include "MonitorWindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>

#include "base/Exceptions.h"
#include "base/TextConvert.h"
#include "link/LogFileName.h"
#include "link/MonitorText.h"

namespace quor {

namespace {

// An entry split into its line break and the bytes after it.
struct TEntryParts {
    bool LineBreak;
    std::string Body;
};
TEntryParts SplitEntry(const std::string& text) {
    if (text.compare(0, 2, kEntryBreak) == 0) return {true, text.substr(2)};
    return {false, text};
}

// Characters the entry takes in the log, counting its line break as one, as the Windows
// control does.
size_t DisplayLength(const std::string& text) {
    const TEntryParts parts = SplitEntry(text);
    return parts.Body.size() + (parts.LineBreak ? 1 : 0);
}

// Text in Rich Text Format: the three characters with a meaning of their own escaped, bytes
// above 127 as hexadecimal escapes of the code page the document declares, and control
// characters as their visible stand-ins in Unicode escapes (with "?" for readers without
// Unicode).
void AppendRtfText(std::string& rtf, const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char byte : bytes) {
        const char32_t shown = PrintableStandIn(Cp1252ToUnicode(byte));
        if (shown != Cp1252ToUnicode(byte)) {
            rtf += "\\u" + std::to_string(static_cast<int16_t>(static_cast<uint16_t>(shown))) + "?";
        } else if (byte == '\\' || byte == '{' || byte == '}') {
            rtf += '\\';
            rtf += static_cast<char>(byte);
        } else if (byte >= 0x80) {
            rtf += "\\'";
            rtf += kHex[byte >> 4];
            rtf += kHex[byte & 0x0F];
        } else {
            rtf += static_cast<char>(byte);
        }
    }
}

// Text for a UTF-8 terminal, control characters shown by their stand-ins.
std::string TerminalText(const std::string& bytes) {
    std::string text;
    for (unsigned char byte : bytes) AppendUtf8(text, PrintableStandIn(Cp1252ToUnicode(byte)));
    return text;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

struct TMonitorWindow::Impl {
    std::deque<TTrafficEntry> Entries;
    size_t Used = 0;  // characters of the entries and the notice
    bool Trimmed = false;
    TLogBudget Budget{kDefaultCapacity};
    bool Shown = false;
    bool StayOnTop = false;
    int EchoFd = STDERR_FILENO;
    bool EchoColour = ::isatty(STDERR_FILENO) == 1;

    size_t NoticeLength() const { return Trimmed ? TrimmedNotice(Budget.Capacity()).size() : 0; }

    void Echo(const std::string& line) const { WriteAll(EchoFd, line); }
    void EchoEntry(const TTrafficEntry& entry) const {
        const std::string text = TerminalText(SplitEntry(entry.Text).Body);
        if (EchoColour) {
            Echo((entry.Sent ? "\x1b[31m" : "\x1b[32m") + text + "\x1b[0m\n");
        } else {
            Echo((entry.Sent ? "-> " : "<- ") + text + "\n");
        }
    }

    std::string Document() const;
};

std::string TMonitorWindow::Impl::Document() const {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033"
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs16\\cf0 ";
    if (Trimmed) AppendRtfText(rtf, TrimmedNotice(Budget.Capacity()));
    for (const TTrafficEntry& entry : Entries) {
        const TEntryParts parts = SplitEntry(entry.Text);
        rtf += entry.Sent ? "\n\\cf1 " : "\n\\cf2 ";
        if (parts.LineBreak) rtf += "\\par ";
        AppendRtfText(rtf, parts.Body);
    }
    rtf += "\\cf0\n}\n";
    return rtf;
}

TMonitorWindow::TMonitorWindow() : FImpl(std::make_unique<Impl>()) {}
TMonitorWindow::~TMonitorWindow() = default;

bool TMonitorWindow::Available() const { return true; }
void* TMonitorWindow::Handle() const { return nullptr; }

void TMonitorWindow::Append(const TTrafficEntry& entry) {
    Impl& w = *FImpl;
    const size_t incoming = DisplayLength(entry.Text);
    if (w.Used + incoming > w.Budget.Capacity()) {
        const size_t notice = TrimmedNotice(w.Budget.Capacity()).size();
        const TLogBudget::TDrop drop = w.Budget.MakeRoom(w.Budget.Kept() + notice, incoming);
        for (size_t i = 0; i < drop.Entries; ++i) w.Entries.pop_front();
        if (drop.Entries > 0) w.Trimmed = true;
        w.Used = w.Budget.Kept() + w.NoticeLength();
    }
    w.Entries.push_back(entry);
    w.Budget.Appended(incoming);
    w.Used += incoming;
    if (w.Shown) w.EchoEntry(entry);
}

void TMonitorWindow::Clear() {
    Impl& w = *FImpl;
    w.Entries.clear();
    w.Budget.Clear();
    w.Used = 0;
    w.Trimmed = false;
    if (w.Shown) w.Echo(w.EchoColour ? "\x1b[2m(log cleared)\x1b[0m\n" : "(log cleared)\n");
}

// A terminal has no window to raise: the first call echoes the log so far and every later
// entry as it is appended; further calls change nothing.
void TMonitorWindow::Show() {
    Impl& w = *FImpl;
    if (w.Shown) return;
    w.Shown = true;
    w.Echo("Pulsyn Monitor: " + std::to_string(w.Entries.size()) +
           " entries so far, later ones as they happen (sent " + (w.EchoColour ? "red" : "->") + ", received " +
           (w.EchoColour ? "green" : "<-") + ")\n");
    if (w.Trimmed) w.Echo(TrimmedNotice(w.Budget.Capacity()) + "\n");
    for (const TTrafficEntry& entry : w.Entries) w.EchoEntry(entry);
}

void TMonitorWindow::Save(const std::string& fileNameUtf8) {
    RefuseDeviceName(fileNameUtf8);
    const auto fullName = [&] {
        std::error_code ignored;
        return fileNameUtf8.empty() ? fileNameUtf8 : std::filesystem::absolute(fileNameUtf8, ignored).string();
    };
    // A device or FIFO is not even opened (opening a serial port can change its lines). What
    // is opened is checked again, without blocking (a FIFO made meanwhile would wait for a
    // reader), before anything is written.
    const auto refuseSpecialFile = [&] {
        throw Exception(CannotCreateFileMessage(
            fullName(), "It is a device or other special file, not a file on disk: choose the name of a file."));
    };
    struct stat status {};
    if (::stat(fileNameUtf8.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) refuseSpecialFile();
    const int fd = ::open(fileNameUtf8.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int error = errno;
        throw Exception(CannotCreateFileMessage(fullName(), std::strerror(error)));
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        refuseSpecialFile();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool written = WriteAll(fd, FImpl->Document());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) throw Exception("Failed to Save Stream");
}

void TMonitorWindow::ClickClear() {
    if (OnClearClick) {
        OnClearClick();
    } else {
        Clear();
    }
}

void TMonitorWindow::ClickStayOnTop() { FImpl->StayOnTop = !FImpl->StayOnTop; }

bool TMonitorWindow::Visible() const { return FImpl->Shown; }
bool TMonitorWindow::StayOnTop() const { return FImpl->StayOnTop; }

size_t TMonitorWindow::Capacity() const { return FImpl->Budget.Capacity(); }
void TMonitorWindow::SetCapacity(size_t characters) { FImpl->Budget.SetCapacity(characters); }

void TMonitorWindow::SetEchoForTesting(int fileDescriptor, bool colour) {
    FImpl->EchoFd = fileDescriptor;
    FImpl->EchoColour = colour;
}

}  // namespace quor
