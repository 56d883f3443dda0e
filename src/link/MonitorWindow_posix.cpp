// The monitor without a window system: it holds nothing of its own. Saving writes the
// link's log as a Rich Text Format document (code page 1252); showing echoes the log, and
// every entry after it, to standard error.
#include "MonitorWindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/Exceptions.h"
#include "base/TextConvert.h"
#include "link/LogFileName.h"
#include "link/MonitorText.h"

namespace quor {

namespace {

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

// The bytes of an entry as characters of code page 1252.
std::u16string Decode1252(const std::string& bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (unsigned char byte : bytes) text += static_cast<char16_t>(Cp1252ToUnicode(byte));
    return text;
}

// Opens `name` for writing once it is known to be a regular file: nothing is truncated and no
// device is opened before then (opening a terminal can change its lines; a FIFO would wait
// for a reader). A new name is created exclusively, so what opens is the file just made; an
// existing one is first opened as a bare path, which opens no device, checked, and that same
// file then reopened for writing and emptied. -1 with errno on failure, and with `special`
// set when the name is no regular file.
int OpenRegularFile(const std::string& name, bool& special) {
    special = false;
    for (int attempt = 0; attempt < 8; ++attempt) {  // a file made or removed meanwhile: look again
        const int created = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (created >= 0 || errno != EEXIST) return created;
        const int path = ::open(name.c_str(), O_PATH | O_CLOEXEC);
        if (path < 0 && errno == ENOENT) continue;
        if (path < 0) return -1;
        struct stat known {};
        special = ::fstat(path, &known) != 0 || !S_ISREG(known.st_mode);
        // Never blocking (a FIFO put there meanwhile would wait for a reader); without /proc
        // the name is opened again, and must still be the file checked.
        constexpr int kWriting = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        int fd = special ? -1 : ::open(("/proc/self/fd/" + std::to_string(path)).c_str(), kWriting);
        if (!special && fd < 0 && errno == ENOENT) fd = ::open(name.c_str(), kWriting);
        const int error = errno;
        ::close(path);
        struct stat opened {};
        if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != known.st_dev || opened.st_ino != known.st_ino)) {
            ::close(fd);
            special = true;
            return -1;
        }
        if (fd >= 0 && (::fcntl(fd, F_SETFL, 0) != 0 || ::ftruncate(fd, 0) != 0)) {
            const int failure = errno;
            ::close(fd);
            errno = failure;
            return -1;
        }
        errno = error;
        return fd;
    }
    return -1;  // a name that keeps changing, or a link to nothing (errno says which)
}

}  // namespace

struct TMonitorWindow::Impl {
    explicit Impl(const TTrafficLog& log) : Log(log) {}
    const TTrafficLog& Log;
    bool Shown = false;
    bool StayOnTop = false;
    size_t Capacity = kDefaultCapacity;
    int EchoFd = STDERR_FILENO;
    bool EchoColour = ::isatty(STDERR_FILENO) == 1;

    void Echo(const std::string& line) const { WriteAll(EchoFd, line); }
    void EchoEntry(const TTrafficEntry& entry) const {
        const std::string text = TerminalText(SplitEntry(entry.Text).Body);
        if (EchoColour) {
            Echo((entry.Sent ? "\x1b[31m" : "\x1b[32m") + text + "\x1b[0m\n");
        } else {
            Echo((entry.Sent ? "-> " : "<- ") + text + "\n");
        }
    }
};

TMonitorWindow::TMonitorWindow(const TTrafficLog& Log) : FImpl(std::make_unique<Impl>(Log)) {}
TMonitorWindow::~TMonitorWindow() = default;

bool TMonitorWindow::Available() const { return true; }
void* TMonitorWindow::Handle() const { return nullptr; }

void TMonitorWindow::Append(const TTrafficEntry& entry) {
    if (FImpl->Shown) FImpl->EchoEntry(entry);
}

void TMonitorWindow::Clear() {
    Impl& w = *FImpl;
    if (w.Shown) w.Echo(w.EchoColour ? "\x1b[2m(log cleared)\x1b[0m\n" : "(log cleared)\n");
}

// A terminal has no window to raise: the first call echoes the log so far and every later
// entry as it is appended; further calls change nothing.
void TMonitorWindow::Show() {
    Impl& w = *FImpl;
    if (w.Shown) return;
    w.Shown = true;
    w.Echo("Pulsyn Monitor: " + std::to_string(w.Log.Size()) +
           " entries so far, later ones as they happen (sent " + (w.EchoColour ? "red" : "->") + ", received " +
           (w.EchoColour ? "green" : "<-") + ")\n");
    if (w.Log.Trimmed()) w.Echo(TrimmedNotice(w.Log.Budget()) + "\n");
    for (const TTrafficEntry& entry : w.Log.Entries()) w.EchoEntry(entry);
}

void TMonitorWindow::Save(const std::string& fileNameUtf8) {
    std::error_code noDirectory;
    RefuseDeviceName(fileNameUtf8, std::filesystem::current_path(noDirectory).string());
    const auto fullName = [&] {
        std::error_code ignored;
        return fileNameUtf8.empty() ? fileNameUtf8 : std::filesystem::absolute(fileNameUtf8, ignored).string();
    };
    bool special = false;
    const int fd = OpenRegularFile(fileNameUtf8, special);
    if (special) {
        throw Exception(CannotCreateFileMessage(
            fullName(), "It is a device or other special file, not a file on disk: choose the name of a file."));
    }
    if (fd < 0) {
        const int error = errno;
        throw ESystemError(CannotCreateFileMessage(fullName(), std::strerror(error)), TFailureKind::File, error);
    }
    const bool written =
        WriteLogDocument(FImpl->Log, &Decode1252, [fd](const std::string& piece) { return WriteAll(fd, piece); });
    const int writeError = written ? 0 : errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        throw ESystemError("Failed to Save Stream", TFailureKind::File, written ? errno : writeError);
    }
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

size_t TMonitorWindow::Capacity() const { return FImpl->Capacity; }
void TMonitorWindow::SetCapacity(size_t characters) { FImpl->Capacity = characters; }

void TMonitorWindow::SetEchoForTesting(int fileDescriptor, bool colour) {
    FImpl->EchoFd = fileDescriptor;
    FImpl->EchoColour = colour;
}

}  // namespace quor
