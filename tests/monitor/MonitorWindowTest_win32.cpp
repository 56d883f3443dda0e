// The Windows window itself: its stored layout scaled for the screen, the log anchored to
// all four sides, the legend colours, showing and closing, the colour of text that follows
// an entry, and a file that another program holds open.
#include <windows.h>
#include <richedit.h>

#include <string>

#include "MonitorTestSupport.h"
#include "base/WideText.h"

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

// Whatever is typed or inserted after an entry has the ordinary text colour; an entry goes
// to the end even when the user has selected text elsewhere.
TEST_F(MonitorWindowTest, TextAfterAnEntryHasTheDefaultColourAndEntriesGoToTheEnd) {
    HWND log = GetDlgItem(Main(*Link), quor::idRichEdit1);
    Link->AddText("OK.", false);
    CHARRANGE start{0, 3};
    SendMessageW(log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
    Link->AddText(">0002ER", true);
    EXPECT_EQ(SaveAndRead("order.rtf").Runs, ExpectedRuns());

    SendMessageW(log, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L" note"));
    const TReadBack doc = SaveAndRead("typed.rtf");
    ASSERT_EQ(doc.Runs.size(), 3u);
    EXPECT_EQ(doc.Runs[2].Text, " note");
    EXPECT_TRUE(doc.Runs[2].Colour == kAutoColour || doc.Runs[2].Colour == static_cast<int32_t>(
                    (GetRValue(GetSysColor(COLOR_WINDOWTEXT)) << 16) | (GetGValue(GetSysColor(COLOR_WINDOWTEXT)) << 8) |
                    GetBValue(GetSysColor(COLOR_WINDOWTEXT))))
        << std::hex << doc.Runs[2].Colour;
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
