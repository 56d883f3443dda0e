// The Windows window itself: its stored layout scaled for the screen, the log anchored to
// all four sides, the legend colours, showing and closing, the colour of text that follows
// an entry, and a file that another program holds open.
#include <windows.h>
#include <richedit.h>

#include <string>

#include "MonitorTestSupport.h"
#include "base/WideText.h"
#include "link/MonitorText.h"

namespace monitor_test {
namespace {

HWND Main(quor::TfrmComm& link) { return static_cast<HWND>(link.Monitor().Handle()); }

int Scaled(int pixels) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(pixels, dpi, 96);
}

RECT ClientPlace(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Text(HWND window) {
    wchar_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return quor::ToUtf8(buffer);
}

void ExpectPlace(HWND control, int left, int top, int width, int height) {
    const RECT r = ClientPlace(control);
    EXPECT_EQ(r.left, Scaled(left)) << Text(control);
    EXPECT_EQ(r.top, Scaled(top)) << Text(control);
    EXPECT_EQ(r.right - r.left, Scaled(width)) << Text(control);
    EXPECT_EQ(r.bottom - r.top, Scaled(height)) << Text(control);
}

COLORREF LabelColour(HWND window, int id) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
}

BOOL CALLBACK CountVisibleMonitor(HWND window, LPARAM counter) {
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (std::wstring(cls) == L"QuorLibPulsynMonitor" && IsWindowVisible(window)) ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int VisibleMonitorWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), &CountVisibleMonitor, reinterpret_cast<LPARAM>(&count));
    return count;
}

using MonitorWindowTest = MonitorTest;

TEST_F(MonitorWindowTest, IsCreatedHiddenWithTheStoredLayoutScaledForTheScreen) {
    HWND window = Main(*Link);
    ASSERT_TRUE(window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(Text(window), "Pulsyn Monitor");
    EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, Scaled(503));
    EXPECT_EQ(client.bottom, Scaled(389));

    ExpectPlace(GetDlgItem(window, quor::idRichEdit1), 8, 56, 489, 313);
    ExpectPlace(GetDlgItem(window, quor::idSpeedButton1), 424, 28, 65, 21);
    ExpectPlace(GetDlgItem(window, quor::idCheckBox1), 416, 4, 85, 21);
    ExpectPlace(GetDlgItem(window, quor::idLabel4), 16, 32, 35, 13);
    ExpectPlace(GetDlgItem(window, quor::idLabel6), 112, 32, 40, 13);
    EXPECT_EQ(Text(GetDlgItem(window, quor::idSpeedButton1)), "Clear");
    EXPECT_EQ(Text(GetDlgItem(window, quor::idCheckBox1)), "Stay On Top");
    EXPECT_EQ(SendMessageW(GetDlgItem(window, quor::idCheckBox1), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    std::string legend;
    for (int id : {quor::idLabel4, quor::idLabel7, quor::idLabel5, quor::idLabel6, quor::idLabel8}) {
        legend += Text(GetDlgItem(window, id)) + "|";
    }
    EXPECT_EQ(legend, "Monitor|[|Send|Receive|]|");
    EXPECT_EQ(LabelColour(window, quor::idLabel5), RGB(255, 0, 0));
    EXPECT_EQ(LabelColour(window, quor::idLabel6), RGB(0, 128, 0));
    EXPECT_EQ(LabelColour(window, quor::idLabel4), GetSysColor(COLOR_WINDOWTEXT));

    // Tab order: the log first, then the check box.
    EXPECT_EQ(GetWindow(window, GW_CHILD), GetDlgItem(window, quor::idRichEdit1));
    EXPECT_EQ(GetWindow(GetDlgItem(window, quor::idRichEdit1), GW_HWNDNEXT), GetDlgItem(window, quor::idCheckBox1));

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(window, quor::idSpeedButton1), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -Scaled(11));

    HWND log = GetDlgItem(window, quor::idRichEdit1);
    const LONG style = GetWindowLongW(log, GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_FALSE(style & ES_AUTOHSCROLL);  // long lines wrap
    EXPECT_FALSE(style & ES_READONLY);
    EXPECT_FALSE(style & ES_NOHIDESEL);
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(log, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(std::wstring(format.szFaceName), L"MS Sans Serif");
    EXPECT_EQ(format.bCharSet, HEBREW_CHARSET);
    EXPECT_EQ(format.yHeight, 160);
    EXPECT_GE(SendMessageW(log, EM_GETLIMITTEXT, 0, 0), 16 * 1024 * 1024);
}

TEST_F(MonitorWindowTest, TheLogFollowsTheWindowsSizeWhileTheOtherControlsStay) {
    HWND window = Main(*Link);
    RECT frame;
    GetWindowRect(window, &frame);
    const RECT logBefore = ClientPlace(GetDlgItem(window, quor::idRichEdit1));
    const RECT clearBefore = ClientPlace(GetDlgItem(window, quor::idSpeedButton1));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + 120, frame.bottom - frame.top + 80,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT logAfter = ClientPlace(GetDlgItem(window, quor::idRichEdit1));
    const RECT clearAfter = ClientPlace(GetDlgItem(window, quor::idSpeedButton1));
    EXPECT_EQ(logAfter.left, logBefore.left);
    EXPECT_EQ(logAfter.top, logBefore.top);
    EXPECT_EQ(logAfter.right, logBefore.right + 120);
    EXPECT_EQ(logAfter.bottom, logBefore.bottom + 80);
    EXPECT_EQ(clearAfter.left, clearBefore.left);
    EXPECT_EQ(clearAfter.top, clearBefore.top);
}

TEST_F(MonitorWindowTest, ShowingTwiceGivesOneVisibleWindowAndClosingOnlyHidesIt) {
    HWND window = Main(*Link);
    Link->AddText("=", true);
    RECT before;
    GetWindowRect(window, &before);
    Link->ShowMonitor();
    Link->ShowMonitor();
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(VisibleMonitorWindows(), 1);
    RECT shown;
    GetWindowRect(window, &shown);
    EXPECT_EQ(shown.left, before.left);
    EXPECT_EQ(shown.top, before.top);

    // Stay On Top changes neither place nor visibility.
    Link->Monitor().ClickStayOnTop();
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(IsWindowVisible(window));

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(Link->Log().Entries().size(), 1u);
    Link->AddText("OK.", false);  // entries go on while hidden

    // A vertical scroll bar appears once the log is longer than the control, never a
    // horizontal one.
    HWND log = GetDlgItem(window, quor::idRichEdit1);
    for (int i = 0; i < 60; ++i) Link->AddText("a long line of the log that wraps at the edge of the control " + std::to_string(i), i % 2);

    Link->ShowMonitor();
    EXPECT_EQ(Main(*Link), window);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(VisibleMonitorWindows(), 1);
    EXPECT_EQ(SaveAndRead("shown.rtf").Runs, ExpectedRuns());
    const LONG style = GetWindowLongW(log, GWL_STYLE);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & WS_HSCROLL);
}

std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Characters in the control, a line break counting as one, as positions in it do.
LONG ControlLength(HWND control) {
    GETTEXTLENGTHEX query{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<LONG>(SendMessageW(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0));
}

// The colour of `count` characters that end `before` characters from the end.
COLORREF ColourOfLastCharacters(HWND control, LONG count, LONG before = 0) {
    const LONG end = ControlLength(control) - before;
    CHARRANGE last{end - count, end};
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&last));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return (format.dwEffects & CFE_AUTOCOLOR) ? GetSysColor(COLOR_WINDOWTEXT) : format.crTextColor;
}

// Whatever is typed or inserted after an entry has the ordinary text colour; an entry goes
// to the end even when the user has selected text elsewhere.
TEST_F(MonitorWindowTest, TextAfterAnEntryHasTheDefaultColourAndEntriesGoToTheEnd) {
    HWND log = GetDlgItem(Main(*Link), quor::idRichEdit1);
    Link->ShowMonitor();
    Link->AddText("OK.", false);
    CHARRANGE start{0, 3};
    SendMessageW(log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
    Link->AddText(">0002ER", true);
    SendMessageW(log, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L" note"));
    EXPECT_TRUE(EndsWith(ControlText(log), L":.....>0002ER note")) << quor::ToUtf8(ControlText(log));
    EXPECT_EQ(ColourOfLastCharacters(log, 5), GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(ColourOfLastCharacters(log, 7, 5), RGB(255, 0, 0));  // the entry before it
    // The saved log holds the entries (what is typed into the window is not traffic).
    EXPECT_EQ(SaveAndRead("order.rtf").Runs, ExpectedRuns());
}

// The control holds only what the window shows: nothing while hidden, and while shown the
// newest entries up to its capacity, the first line saying that older ones are not shown.
// The log itself, and so the saved document, keeps them all.
TEST_F(MonitorWindowTest, TheControlHoldsOnlyTheNewestEntriesWhileShownAndNothingWhileHidden) {
    HWND window = Main(*Link);
    HWND log = GetDlgItem(window, quor::idRichEdit1);
    constexpr int kCapacity = 2000;
    Link->Monitor().SetCapacity(kCapacity);
    for (int i = 0; i < 100; ++i) Link->AddText("hidden " + std::to_string(i), i % 2 == 0);
    EXPECT_EQ(GetWindowTextLengthW(log), 0);

    Link->ShowMonitor();
    std::wstring text = ControlText(log);
    EXPECT_LE(ControlLength(log), kCapacity);
    EXPECT_EQ(text.rfind(quor::ToWide(quor::kOlderNotShownNotice), 0), 0u) << quor::ToUtf8(text.substr(0, 80));
    EXPECT_TRUE(EndsWith(text, L":.....hidden 99"));
    EXPECT_EQ(ColourOfLastCharacters(log, 2), RGB(0, 128, 0));

    for (int i = 0; i < 400; ++i) {
        Link->AddText("shown " + std::to_string(i), i % 2 == 0);
        ASSERT_LE(ControlLength(log), kCapacity) << "after entry " << i;
    }
    text = ControlText(log);
    EXPECT_TRUE(EndsWith(text, L":.....shown 399"));
    EXPECT_EQ(ColourOfLastCharacters(log, 3), RGB(0, 128, 0));
    EXPECT_GT(ControlLength(log), kCapacity / 2 - 100);  // refilled with the newest half, not emptied

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(GetWindowTextLengthW(log), 0);
    EXPECT_EQ(Link->Log().Entries().size(), 500u);
    const TReadBack doc = SaveAndRead("all.rtf", /*withColours=*/false);
    EXPECT_EQ(doc.Text.rfind("\n", 0), 0u);
    EXPECT_NE(doc.Text.find("hidden 0\n"), std::string::npos);
}

TEST_F(MonitorWindowTest, AFileHeldOpenByAnotherProgramCannotBeCreated) {
    const std::string path = Path("held.rtf");
    HANDLE held = CreateFileW(quor::ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    try {
        Link->SaveSessionCommands(path);
        ADD_FAILURE() << "saving into a held file succeeded";
    } catch (const quor::Exception& e) {
        const std::string start = "Cannot create file \"" + path + "\". ";
        EXPECT_EQ(e.Message().compare(0, start.size(), start), 0) << e.Message();
    }
    CloseHandle(held);
}

}  // namespace
}  // namespace monitor_test
