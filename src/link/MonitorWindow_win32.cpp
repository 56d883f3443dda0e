// The monitor window on Windows: a top-level window with a RichEdit log.
#include "MonitorWindow.h"

#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "base/Exceptions.h"
#include "base/UniqueHandle.h"
#include "base/WideText.h"
#include "link/LogFileName.h"
#include "link/MonitorText.h"

namespace quor {

namespace {

const wchar_t kWindowClass[] = L"QuorLibPulsynMonitor";
const COLORREF kSentColour = RGB(255, 0, 0);
const COLORREF kReceivedColour = RGB(0, 128, 0);

// The stored layout, in pixels at 96 dots per inch, relative to the client area.
struct TPlace {
    int Left, Top, Width, Height;
};
const TPlace kWindowPlace{361, 123, 503, 389};  // position of the window, size of its client area
const TPlace kRichEditPlace{8, 56, 489, 313};
const TPlace kClearPlace{424, 28, 65, 21};
const TPlace kStayOnTopPlace{416, 4, 85, 21};
struct TLabelSpec {
    int Id;
    const wchar_t* Caption;
    TPlace Place;
};
const TLabelSpec kLabels[] = {
    {idLabel4, L"Monitor", {16, 32, 35, 13}}, {idLabel7, L"[", {72, 32, 3, 13}},
    {idLabel5, L"Send", {80, 32, 25, 13}},    {idLabel6, L"Receive", {112, 32, 40, 13}},
    {idLabel8, L"]", {163, 32, 3, 13}},
};
constexpr int kFontPixels = 11;  // "MS Sans Serif", 8 points
constexpr LONG kFontTwips = 160;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : L"System error " + std::to_wstring(code);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
    return ToUtf8(text);
}

std::wstring FullFileName(const std::wstring& name) {
    const DWORD needed = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return name;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return name;
    full.resize(length);
    return full;
}

// The process's current folder, against which a relative name is resolved; empty when the
// system cannot say.
std::string CurrentDirectory() {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(needed, L'\0');
    const DWORD length = needed ? GetCurrentDirectoryW(needed, folder.data()) : 0;
    folder.resize(length < needed ? length : 0);
    return ToUtf8(folder);
}

// An entry's bytes through the system's 8-bit code page.
std::u16string DecodeAnsi(const std::string& bytes) {
    const std::wstring wide = AnsiToWide(bytes);
    return std::u16string(wide.begin(), wide.end());
}

// The entry as the control shows it: its line break, then its bytes through the system's
// 8-bit code page with control characters replaced by visible stand-ins.
std::wstring DisplayText(const std::string& entry) {
    std::string body = entry;
    std::wstring text;
    if (body.compare(0, 2, kEntryBreak) == 0) {
        body.erase(0, 2);
        text = L"\r\n";
    }
    for (wchar_t c : AnsiToWide(body)) text += static_cast<wchar_t>(PrintableStandIn(static_cast<char16_t>(c)));
    return text;
}

// The window's font and the rich-edit control's library, each released when the window goes.
struct TFontTraits {
    using Handle = HFONT;
    static HFONT Invalid() { return nullptr; }
    static void Close(HFONT font) { DeleteObject(font); }
};
struct TLibraryTraits {
    using Handle = HMODULE;
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE library) { FreeLibrary(library); }
};

// A document handed to the control in the blocks it asks for.
struct TStreamSource {
    const std::string& Document;
    size_t At = 0;
};

DWORD CALLBACK ReadStreamBlock(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* read) {
    auto* source = reinterpret_cast<TStreamSource*>(cookie);
    const size_t n = std::min(static_cast<size_t>(count), source->Document.size() - source->At);
    std::memcpy(buffer, source->Document.data() + source->At, n);
    source->At += n;
    *read = static_cast<LONG>(n);
    return 0;
}

// The control takes far more than its default 32,767 characters, so that an entry is never
// refused; the window refills it with the newest entries long before this.
constexpr LPARAM kControlLimit = 16 * 1024 * 1024;

int LiveWindows = 0;  // the window class is registered while windows of this module exist

}  // namespace

struct TMonitorWindow::Impl {
    explicit Impl(const TTrafficLog& log) : Log(log) {}
    const TTrafficLog& Log;
    TMonitorWindow* Owner = nullptr;
    TUniqueHandle<TLibraryTraits> RichEditLibrary;
    HWND Window = nullptr;
    HWND RichEdit1 = nullptr;
    HWND CheckBox1 = nullptr;
    HWND SpeedButton1 = nullptr;
    TUniqueHandle<TFontTraits> WindowFont;
    int Dpi = 96;
    bool Registered = false;
    std::string Unavailable;  // why there is no window, when there is none
    size_t Capacity = kDefaultCapacity;
    bool Filled = false;  // the control shows the log (while the window is shown)
    bool ShownBefore = false;

    int Scale(int pixels) const { return MulDiv(pixels, Dpi, 96); }

    void Create();
    void Destroy();
    void Layout(int clientWidth, int clientHeight);
    LONG TextLength() const;
    void SetSelectionColour(COLORREF colour);
    void Fill(size_t characters);
    void ClearLog();
    void Hide();
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam);
};

void TMonitorWindow::Impl::Create() {
    const HMODULE module = ThisModule();
    // RichEdit 4.1 where it exists (every system since XP SP1), else RichEdit 2.0.
    const wchar_t* richEditClass = MSFTEDIT_CLASS;
    RichEditLibrary.Reset(LoadLibraryW(L"msftedit.dll"));
    if (!RichEditLibrary.Valid()) {
        richEditClass = RICHEDIT_CLASSW;
        RichEditLibrary.Reset(LoadLibraryW(L"riched20.dll"));
    }
    if (!RichEditLibrary.Valid()) {
        Unavailable = "the rich-text control could not be loaded: " + SystemErrorText(GetLastError());
        return;
    }

    if (LiveWindows == 0) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &Impl::WindowProc;
        wc.hInstance = module;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            Unavailable = "its window class could not be registered: " + SystemErrorText(GetLastError());
            return;
        }
    }
    ++LiveWindows;
    Registered = true;

    HDC screen = GetDC(nullptr);
    if (screen) {
        Dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    if (Dpi <= 0) Dpi = 96;

    // The outer size that gives the stored client size, kept on the screen it opens on.
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scale(kWindowPlace.Width), Scale(kWindowPlace.Height)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int left = Scale(kWindowPlace.Left), top = Scale(kWindowPlace.Top);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromPoint(POINT{left, top}, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        if (left + width > work.right) left = work.right - width;
        if (top + height > work.bottom) top = work.bottom - height;
        if (left < work.left) left = work.left;
        if (top < work.top) top = work.top;
    }

    Window = CreateWindowExW(0, kWindowClass, L"Pulsyn Monitor", style, left, top, width, height, nullptr, nullptr,
                             module, this);
    if (!Window) {
        Unavailable = "the window could not be created (" + SystemErrorText(GetLastError()) +
                      "); a window needs a display";
        return;
    }

    WindowFont.Reset(CreateFontW(-Scale(kFontPixels), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                             L"MS Sans Serif"));
    auto child = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD childStyle, const TPlace& place,
                     int id) {
        HWND control = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | childStyle, Scale(place.Left),
                                       Scale(place.Top), Scale(place.Width), Scale(place.Height), Window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
        if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont.Get()), FALSE);
        return control;
    };
    // Creation order is the tab order: the log first, then the check box.
    RichEdit1 = child(WS_EX_CLIENTEDGE, richEditClass, L"",
                      WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, kRichEditPlace,
                      idRichEdit1);
    CheckBox1 = child(0, L"BUTTON", L"Stay On Top", WS_TABSTOP | BS_AUTOCHECKBOX, kStayOnTopPlace, idCheckBox1);
    SpeedButton1 = child(0, L"BUTTON", L"Clear", BS_PUSHBUTTON, kClearPlace, idSpeedButton1);
    for (const TLabelSpec& label : kLabels) {
        child(0, L"STATIC", label.Caption, SS_LEFTNOWORDWRAP | SS_NOPREFIX, label.Place, label.Id);
    }
    if (!RichEdit1 || !CheckBox1 || !SpeedButton1) {
        Unavailable = "its controls could not be created: " + SystemErrorText(GetLastError());
        return;
    }
    SetWindowLongPtrW(SpeedButton1, GWLP_USERDATA, GetWindowLongPtrW(SpeedButton1, GWLP_WNDPROC));
    SetWindowLongPtrW(SpeedButton1, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Impl::SpeedButtonProc));

    // The log: wraps long lines at the control's width, never refuses an entry, keeps no
    // undo history (nothing in it is the user's to undo), and writes in the log font by
    // default.
    SendMessageW(RichEdit1, EM_SETTARGETDEVICE, 0, 0);
    SendMessageW(RichEdit1, EM_EXLIMITTEXT, 0, kControlLimit);
    SendMessageW(RichEdit1, EM_SETUNDOLIMIT, 0, 0);
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_COLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE |
                    CFM_STRIKEOUT;
    format.yHeight = kFontTwips;
    format.bCharSet = HEBREW_CHARSET;
    format.bPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    format.crTextColor = GetSysColor(COLOR_WINDOWTEXT);
    lstrcpynW(format.szFaceName, L"MS Sans Serif", LF_FACESIZE);
    SendMessageW(RichEdit1, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SendMessageW(RichEdit1, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    SendMessageW(RichEdit1, EM_SETMODIFY, FALSE, 0);

    RECT client;
    GetClientRect(Window, &client);
    Layout(client.right, client.bottom);
}

// The window handle has no owner object: the window procedure learns it during creation,
// before CreateWindowExW returns, and its back pointer must be cleared before it is
// destroyed, which in turn must come before its class is unregistered. The font and the
// rich-edit library are released after it.
void TMonitorWindow::Impl::Destroy() {
    if (Window) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
        Window = nullptr;
    }
    WindowFont.Reset();
    if (Registered && --LiveWindows == 0) UnregisterClassW(kWindowClass, ThisModule());
    Registered = false;
    RichEditLibrary.Reset();
}

// The log keeps its margins to all four sides; the other controls keep their places.
void TMonitorWindow::Impl::Layout(int clientWidth, int clientHeight) {
    if (!RichEdit1) return;
    const int left = Scale(kRichEditPlace.Left), top = Scale(kRichEditPlace.Top);
    const int right = Scale(kWindowPlace.Width - kRichEditPlace.Left - kRichEditPlace.Width);
    const int bottom = Scale(kWindowPlace.Height - kRichEditPlace.Top - kRichEditPlace.Height);
    const int width = clientWidth - left - right, height = clientHeight - top - bottom;
    MoveWindow(RichEdit1, left, top, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
}

LONG TMonitorWindow::Impl::TextLength() const {
    GETTEXTLENGTHEX query{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<LONG>(SendMessageW(RichEdit1, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0));
}

void TMonitorWindow::Impl::SetSelectionColour(COLORREF colour) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_COLOR;
    format.dwEffects = 0;  // an explicit colour, not the automatic one
    format.crTextColor = colour;
    SendMessageW(RichEdit1, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

// Shows the log's newest entries, up to `characters`, in place of what the control held; the
// first line says when older entries are not shown, or were removed from the log itself.
// The entries go in as one document, much faster than one by one.
void TMonitorWindow::Impl::Fill(size_t characters) {
    const TTrafficLog::TEntries entries = Log.Entries();
    // Room for the first line, and for the paragraph mark the control ends with.
    const size_t firstLineRoom =
        std::max(std::strlen(kOlderNotShownNotice), TrimmedNotice(Log.Budget()).size()) + 1;
    characters = characters > firstLineRoom ? characters - firstLineRoom : 0;
    // The newest entries that fit (at least one). No entry shows fewer characters than one
    // with an empty time stamp and text, so at most `mostThatFit` of the newest can: the
    // older ones are passed over undecoded, and a refill of a long log costs no more than a
    // short one's. Of the rest, each is decoded once, and only those that fit are remembered.
    const size_t mostThatFit = characters / ShownLength(TrafficEntryText("", ""), &DecodeAnsi) + 1;
    TTrafficLog::TIterator at = entries.begin();
    for (size_t left = entries.size(); left > mostThatFit; --left) ++at;
    struct TShown {
        TTrafficLog::TIterator At;
        size_t Length;
    };
    std::deque<TShown> shown;
    size_t total = 0;
    for (; at != entries.end(); ++at) {
        shown.push_back({at, ShownLength((*at).Text, &DecodeAnsi)});
        total += shown.back().Length;
        while (total > characters && shown.size() > 1) {
            total -= shown.front().Length;
            shown.pop_front();
        }
    }
    const TTrafficLog::TIterator first = shown.empty() ? entries.end() : shown.front().At;
    const size_t skipped = entries.size() - shown.size();
    const std::string firstLine = skipped > 0     ? kOlderNotShownNotice
                                  : Log.Trimmed() ? TrimmedNotice(Log.Budget())
                                                  : std::string();
    std::string document;
    WriteRtfDocument(first, entries.end(), firstLine, &DecodeAnsi, [&](const std::string& piece) {
        document += piece;
        return true;
    });
    TStreamSource source{document};
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = &ReadStreamBlock;
    SendMessageW(RichEdit1, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    // The document's own fonts are replaced by the log font, as for every entry.
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    SendMessageW(RichEdit1, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET;
    SendMessageW(RichEdit1, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    const LONG end = TextLength();
    CHARRANGE atEnd{end, end};
    SendMessageW(RichEdit1, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&atEnd));
    SetSelectionColour(GetSysColor(COLOR_WINDOWTEXT));
    SendMessageW(RichEdit1, EM_SCROLLCARET, 0, 0);
    Filled = true;
}

// A hidden window needs no text: what it held is released, and showing fills it again.
void TMonitorWindow::Impl::Hide() {
    ShowWindow(Window, SW_HIDE);
    Filled = false;
    SetWindowTextW(RichEdit1, L"");
}

void TMonitorWindow::Impl::ClearLog() {
    SetWindowTextW(RichEdit1, L"");
    CHARRANGE start{0, 0};
    SendMessageW(RichEdit1, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
    SetSelectionColour(GetSysColor(COLOR_WINDOWTEXT));
}

LRESULT TMonitorWindow::Impl::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:  // closing only hides: the log and the connection stay
            Hide();
            return 0;
        case WM_SIZE:
            Layout(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == idSpeedButton1) {  // SpeedButton1Click
                    if (Owner->OnClearClick) {
                        Owner->OnClearClick();
                    } else {
                        ClearLog();
                    }
                    return 0;
                }
                if (LOWORD(wParam) == idCheckBox1) {  // CheckBox1Click
                    const bool ticked = SendMessageW(CheckBox1, BM_GETCHECK, 0, 0) == BST_CHECKED;
                    SetWindowPos(Window, ticked ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                    return 0;
                }
            }
            break;
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            SetTextColor(dc, id == idLabel5   ? kSentColour
                             : id == idLabel6 ? kReceivedColour
                                              : GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        default:
            break;
    }
    return DefWindowProcW(Window, message, wParam, lParam);
}

LRESULT CALLBACK TMonitorWindow::Impl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* impl = static_cast<Impl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        impl->Window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
    }
    auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!impl) return DefWindowProcW(window, message, wParam, lParam);
    return impl->Handle(message, wParam, lParam);
}

// The Clear button takes no keyboard focus: focus goes back to where it came from.
LRESULT CALLBACK TMonitorWindow::Impl::SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto buttonProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(button, GWLP_USERDATA));
    if (message == WM_SETFOCUS) {
        HWND previous = reinterpret_cast<HWND>(wParam);
        if (previous && IsWindow(previous) && previous != button) SetFocus(previous);
        return 0;
    }
    return CallWindowProcW(buttonProc, button, message, wParam, lParam);
}

TMonitorWindow::TMonitorWindow(const TTrafficLog& Log) : FImpl(std::make_unique<Impl>(Log)) {
    FImpl->Owner = this;
    FImpl->Create();
    if (!FImpl->Unavailable.empty()) FImpl->Destroy();
}

TMonitorWindow::~TMonitorWindow() { FImpl->Destroy(); }

bool TMonitorWindow::Available() const { return FImpl->Window != nullptr; }
void* TMonitorWindow::Handle() const { return FImpl->Window; }

void TMonitorWindow::Append(const TTrafficEntry& entry) {
    Impl& w = *FImpl;
    if (!w.Window || !w.Filled) return;
    const std::wstring text = DisplayText(entry.Text);
    const LONG end = w.TextLength();
    // After the previous entry the caret is at the end already; setting it anew costs a walk
    // through the whole log in some RichEdit implementations.
    CHARRANGE selection{};
    SendMessageW(w.RichEdit1, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    if (selection.cpMin != end || selection.cpMax != end) {
        CHARRANGE atEnd{end, end};
        SendMessageW(w.RichEdit1, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&atEnd));
    }
    w.SetSelectionColour(entry.Sent ? kSentColour : kReceivedColour);
    SendMessageW(w.RichEdit1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    w.SetSelectionColour(GetSysColor(COLOR_WINDOWTEXT));
    SendMessageW(w.RichEdit1, EM_SCROLLCARET, 0, 0);
    // Full: the newest half stays, so that refilling is rare.
    if (static_cast<size_t>(w.TextLength()) > w.Capacity) w.Fill(w.Capacity / 2);
}

void TMonitorWindow::Clear() {
    if (FImpl->Window) FImpl->ClearLog();
}

void TMonitorWindow::Show() {
    Impl& w = *FImpl;
    if (!w.Window) throw Exception("The monitor window is not available: " + w.Unavailable + ".");
    if (!w.Filled) w.Fill(w.Capacity);
    if (IsIconic(w.Window)) {
        ShowWindow(w.Window, SW_RESTORE);
    } else if (!IsWindowVisible(w.Window)) {
        // The first time at the stored place; afterwards as the user left it.
        ShowWindow(w.Window, w.ShownBefore ? SW_SHOW : SW_SHOWNORMAL);
    }
    w.ShownBefore = true;
    SetForegroundWindow(w.Window);
    BringWindowToTop(w.Window);
}

void TMonitorWindow::Save(const std::string& fileNameUtf8) {
    Impl& w = *FImpl;
    if (!w.Window) throw Exception("The monitor window is not available: " + w.Unavailable + ".");
    RefuseDeviceName(fileNameUtf8, CurrentDirectory());
    const std::wstring name = ToWide(fileNameUtf8);
    TKernelHandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        const std::wstring fullName = FullFileName(name);
        // Windows reports a path over its length limit as a missing path or an invalid name.
        const bool longForm = fullName.compare(0, 4, L"\\\\?\\") == 0;
        const std::optional<std::string> tooLong = NameTooLongReason(
            std::u16string_view(reinterpret_cast<const char16_t*>(fullName.data()), fullName.size()),
            longForm ? 32767 : MAX_PATH - 1, 255);
        throw Exception(CannotCreateFileMessage(ToUtf8(fullName), tooLong ? *tooLong : SystemErrorText(error)));
    }
    // A device that slipped past the name rules (a name the system maps to one) gets nothing.
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
        throw Exception(CannotCreateFileMessage(
            ToUtf8(FullFileName(name)), "It is a device, not a file on disk: choose the name of a file."));
    }
    const HANDLE handle = file.Get();
    const bool written = WriteLogDocument(w.Log, &DecodeAnsi, [handle](const std::string& piece) {
        DWORD done = 0;
        return WriteFile(handle, piece.data(), static_cast<DWORD>(piece.size()), &done, nullptr) &&
               done == static_cast<DWORD>(piece.size());
    });
    const bool closed = CloseHandle(file.Release()) != 0;
    if (!written || !closed) throw Exception("Failed to Save Stream");
}

void TMonitorWindow::ClickClear() {
    if (FImpl->SpeedButton1) SendMessageW(FImpl->SpeedButton1, BM_CLICK, 0, 0);
}

void TMonitorWindow::ClickStayOnTop() {
    if (FImpl->CheckBox1) SendMessageW(FImpl->CheckBox1, BM_CLICK, 0, 0);
}

bool TMonitorWindow::Visible() const { return FImpl->Window && IsWindowVisible(FImpl->Window); }

bool TMonitorWindow::StayOnTop() const {
    return FImpl->Window && (GetWindowLongPtrW(FImpl->Window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

size_t TMonitorWindow::Capacity() const { return FImpl->Capacity; }

void TMonitorWindow::SetCapacity(size_t characters) { FImpl->Capacity = characters; }

void TMonitorWindow::SetEchoForTesting(int, bool) {}

}  // namespace quor
