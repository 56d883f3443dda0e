// The monitor window and its saved log, the same on every system: what the saved document
// holds when read back by a real reader, Clear, Stay On Top, the capacity of the log, and
// the two automation calls.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MonitorTestSupport.h"
#include "NoDeviceFixture.h"
#include "base/HostInfo.h"
#include "link/PortNames.h"
#include "server/LinkRegistry.h"
#include "server/ObjPulsyn.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace monitor_test {
namespace {

// One exchange as the link logs it, and the start of the next.
void LogExchange(quor::TfrmComm& link) {
    link.AddText("=", true);
    link.AddText(">0003Y3R", true);
    link.AddText("=", false);
    link.AddText("<", false);
    link.AddText("0003", false);
    link.AddText("OK.", false);
    link.AddText("=", true);
    link.AddText(">0002T1", true);
}

bool SystemCodePageIs1252() {
#ifdef _WIN32
    return GetACP() == 1252;
#else
    return true;
#endif
}

TEST_F(MonitorTest, OneExchangeSavedUnderATxtNameIsRichTextWithEachEntryInItsColourInOrder) {
    LogExchange(*Link);
    const TReadBack doc = SaveAndRead("session.txt");
    ASSERT_TRUE(doc.Ok) << doc.Error;
    EXPECT_EQ(ReadFile(Path("session.txt")).compare(0, 5, "{\\rtf"), 0);
    // Sent red, received green, every entry with its line break, in order.
    const std::vector<TRun> expected = ExpectedRuns();
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(doc.Runs, expected);

    // An independent reader sees the same document.
    TReadBack independent = ReadRtfIndependently(ReadFile(Path("session.txt")));
    ASSERT_TRUE(independent.Ok) << independent.Error;
    TrimFinalParagraph(independent);
    EXPECT_EQ(independent.Runs, expected);

    // Saving changes nothing in the log, and the next save replaces the file.
    EXPECT_EQ(Link->Log().Entries().size(), 8u);
    Link->AddText("OK.", false);
    const TReadBack again = SaveAndRead("session.txt");
    EXPECT_EQ(again.Runs, ExpectedRuns());
}

TEST_F(MonitorTest, AnEmptyLogSavesAValidDocumentWithNoText) {
    const TReadBack doc = SaveAndRead("empty.rtf");
    ASSERT_TRUE(doc.Ok) << doc.Error;
    EXPECT_EQ(doc.Text, "");
    TReadBack independent = ReadRtfIndependently(ReadFile(Path("empty.rtf")));
    EXPECT_TRUE(independent.Ok) << independent.Error;
    TrimFinalParagraph(independent);
    EXPECT_EQ(independent.Text, "");
}

// Reply bytes that are not printable, and the characters with a meaning of their own in
// the document, are kept as visible characters, one line per entry.
TEST_F(MonitorTest, ControlBytesAndDocumentCharactersInRepliesKeepTheDocumentIntact) {
    std::string reply = std::string("A\x01{\\}\r\nB\x7F\x1b[2J") + std::string(1, '\0') + "C";
    std::string shown = "A\xE2\x90\x81{\\}\xE2\x90\x8D\xE2\x90\x8A" "B\xE2\x90\xA1\xE2\x90\x9B[2J\xE2\x90\x80" "C";
    if (SystemCodePageIs1252()) {
        reply += "\xE9\x80";             // e acute and the euro sign in code page 1252
        shown += "\xC3\xA9\xE2\x82\xAC";
    }
    Link->AddText(reply, false);
    Link->AddText("}{", true);
    const TReadBack doc = SaveAndRead("odd.rtf");
    ASSERT_TRUE(doc.Ok) << doc.Error;
    ASSERT_EQ(doc.Runs.size(), 2u) << doc.Text;
    const std::string& received = doc.Runs[0].Text;
    EXPECT_EQ(doc.Runs[0].Colour, kGreen);
    EXPECT_EQ(received.substr(received.size() - shown.size()), shown);
    EXPECT_EQ(doc.Runs[1].Colour, kRed);
    EXPECT_EQ(doc.Runs[1].Text.substr(doc.Runs[1].Text.size() - 2), "}{");
    size_t breaks = 0;
    for (char c : doc.Text) breaks += c == '\n';
    EXPECT_EQ(breaks, 2u);
}

TEST_F(MonitorTest, ALongSessionPastTheControlsDefaultLimitKeepsEveryEntry) {
    std::string expected;
    for (int i = 0; i < 2500; ++i) {
        Link->AddText(">0012L1+25.00E-3R#" + std::to_string(i), i % 2 == 0);
        expected += "\n" + Link->Log().Entries().back().Text.substr(2);
    }
    ASSERT_GT(expected.size(), 3u * 32767u);
    const TReadBack doc = SaveAndRead("long.rtf", /*withColours=*/false);
    ASSERT_TRUE(doc.Ok) << doc.Error;
    EXPECT_EQ(doc.Text.size(), expected.size());
    EXPECT_TRUE(doc.Text == expected) << "the saved text differs from the log";
}

// Past its memory budget the log drops its oldest entries, says so on the first line of the
// saved document, and goes on with the newest.
TEST_F(MonitorTest, AFullLogDropsItsOldestEntriesAndSaysSo) {
    Link->Log().SetBudget(3000);
    for (int i = 0; i < 300; ++i) Link->AddText("entry " + std::to_string(i) + ".", i % 2 == 0);
    EXPECT_LE(Link->Log().MemoryUsed(), 3000u);
    EXPECT_NE(Link->Log().Entries().back().Text.find("entry 299."), std::string::npos);
    const TReadBack doc = SaveAndRead("full.rtf");
    ASSERT_TRUE(doc.Ok) << doc.Error;
    ASSERT_FALSE(doc.Runs.empty());
    EXPECT_EQ(doc.Runs[0].Text.rfind("(Older entries were removed: the log keeps its newest entries within 3000 bytes "
                                     "of memory.)",
                                     0),
              0u)
        << doc.Runs[0].Text;
    // What remains is the newest entries, unbroken, in order and in their colours.
    int first = -1;
    for (size_t r = 1; r < doc.Runs.size(); ++r) {
        const std::string& run = doc.Runs[r].Text;
        const size_t at = run.find("entry ");
        ASSERT_NE(at, std::string::npos);
        const int number = std::atoi(run.c_str() + at + 6);
        if (first < 0) first = number;
        EXPECT_EQ(number, first + static_cast<int>(r) - 1);
        EXPECT_EQ(doc.Runs[r].Colour, number % 2 == 0 ? kRed : kGreen);
        EXPECT_EQ(run, "\n" + Link->Log().Entries()[r - 1].Text.substr(2));
    }
    EXPECT_EQ(first + static_cast<int>(doc.Runs.size()) - 2, 299);
    EXPECT_GT(first, 0);

    // Clear starts afresh, without the notice.
    Link->Monitor().ClickClear();
    Link->AddText("after", true);
    const TReadBack cleared = SaveAndRead("cleared.rtf");
    ASSERT_EQ(cleared.Runs.size(), 1u);
    EXPECT_EQ(cleared.Runs[0].Text.find("(Older"), std::string::npos);
}

// Over a session of any length the log's memory stays within its budget, and most of the
// budget holds entries: old ones go a little at a time, never the whole history at once.
TEST_F(MonitorTest, ALongSessionStaysWithinTheLogsBudgetAndKeepsMostOfIt) {
    constexpr size_t kBudget = 64 * 1024;
    quor::TTrafficLog& log = Link->Log();
    log.SetBudget(kBudget);
    size_t largest = 0, smallestAfterFull = SIZE_MAX;
    bool full = false;
    for (int i = 0; i < 20000; ++i) {
        Link->AddText(i % 3 ? ">0012L1+25.00E-3R" : "OK.", i % 3 != 0);
        largest = std::max(largest, log.MemoryUsed());
        full = full || log.Trimmed();
        if (full) smallestAfterFull = std::min(smallestAfterFull, log.Size());
    }
    EXPECT_LE(largest, kBudget);
    ASSERT_TRUE(full);
    // An entry takes about 35 bytes here: at least seven eighths of the budget stay in use.
    EXPECT_GT(smallestAfterFull * 35, kBudget * 7 / 8) << smallestAfterFull << " entries";
    EXPECT_NE(log.Entries().back().Text.find(">0012L1+25.00E-3R"), std::string::npos);

    // An entry larger than the log's blocks is kept whole, and the budget still holds.
    const std::string burst(20000, '~');
    Link->AddText(burst, false);
    EXPECT_EQ(log.Entries().back().Text.substr(log.Entries().back().Text.size() - burst.size()), burst);
    EXPECT_LE(log.MemoryUsed(), kBudget);
}

TEST_F(MonitorTest, ClearEmptiesTheLogAndTheNextEntryBeginsWithItsLineBreak) {
    LogExchange(*Link);
    Link->Monitor().ClickClear();
    EXPECT_TRUE(Link->Log().Entries().empty());
    EXPECT_EQ(SaveAndRead("cleared.rtf").Text, "");

    Link->AddText("=", true);
    const TReadBack doc = SaveAndRead("after.rtf");
    ASSERT_EQ(doc.Runs.size(), 1u);
    EXPECT_EQ(doc.Runs[0], (TRun{"\n" + Link->Log().Entries()[0].Text.substr(2), kRed}));
}

TEST_F(MonitorTest, StayOnTopTogglesWithoutShowingTheWindow) {
    EXPECT_FALSE(Link->Monitor().StayOnTop());
    Link->Monitor().ClickStayOnTop();
    EXPECT_TRUE(Link->Monitor().StayOnTop());
    EXPECT_FALSE(Link->Monitor().Visible());
    Link->Monitor().ClickStayOnTop();
    EXPECT_FALSE(Link->Monitor().StayOnTop());
}


TEST_F(MonitorCallsTest, WithoutAConnectionBothCallsSayToConnectFirst) {
    quor::TPulsyn pulsyn;
    EXPECT_NE(pulsyn.ShowMonitor(), S_OK);
    EXPECT_NE(LastErrorDescription().find("Connect"), std::string::npos) << LastErrorDescription();
    TestBstr name(Path("never.rtf"));
    EXPECT_NE(pulsyn.SaveSessionCommands(name.Get()), S_OK);
    EXPECT_NE(LastErrorDescription().find("Connect"), std::string::npos) << LastErrorDescription();
    EXPECT_FALSE(FileExists(Path("never.rtf")));
}

TEST_F(MonitorCallsTest, AfterASearchThatFoundNoDeviceTheWindowShowsAndSaves) {
    quor::TPulsyn pulsyn;
    VARIANT_BOOL connected = VARIANT_TRUE;
    ASSERT_EQ(pulsyn.Connect(&connected), S_OK) << LastErrorDescription();
    EXPECT_EQ(connected, VARIANT_FALSE);
    ASSERT_TRUE(quor::frmComm);
    EXPECT_EQ(quor::frmComm->Port(), -1);

    EXPECT_EQ(pulsyn.ShowMonitor(), S_OK) << LastErrorDescription();
    EXPECT_TRUE(quor::frmComm->Monitor().Visible());
    TestBstr name(Path("no device.rtf"));
    ASSERT_EQ(pulsyn.SaveSessionCommands(name.Get()), S_OK) << LastErrorDescription();
    TReadBack doc = ReadRtfFileWithPlatformReader(Path("no device.rtf"));
    ASSERT_TRUE(doc.Ok) << doc.Error;
    TrimFinalParagraph(doc);
    EXPECT_EQ(doc.Text, "");
}

TEST_F(MonitorCallsTest, AFileThatCannotBeCreatedFailsWithItsNameAndTheSystemsReasonAndKeepsTheLog) {
    quor::TPulsyn pulsyn;
    VARIANT_BOOL connected = VARIANT_TRUE;
    ASSERT_EQ(pulsyn.Connect(&connected), S_OK) << LastErrorDescription();
    ASSERT_TRUE(quor::frmComm);
    quor::frmComm->AddText("=", true);

    const std::string bad = Path("no such folder") + (Path("x").find('\\') != std::string::npos ? "\\" : "/") + "log.rtf";
    TestBstr badName(bad);
    EXPECT_NE(pulsyn.SaveSessionCommands(badName.Get()), S_OK);
    const std::string description = LastErrorDescription();
    const std::string start = "Cannot create file \"" + bad + "\". ";
    EXPECT_EQ(description.compare(0, start.size(), start), 0) << description;
    EXPECT_GT(description.size(), start.size()) << "the system's reason is missing";

    EXPECT_EQ(quor::frmComm->Log().Entries().size(), 1u);
    TestBstr goodName(Path("good.rtf"));
    ASSERT_EQ(pulsyn.SaveSessionCommands(goodName.Get()), S_OK) << LastErrorDescription();
    TReadBack doc = ReadRtfFileWithPlatformReader(Path("good.rtf"));
    TrimFinalParagraph(doc);
    EXPECT_EQ(doc.Runs.size(), 1u);
}

// The log fills its budget to the byte before anything goes: an entry that fills the last
// byte of a block stays in it, and blocks up to exactly the budget are kept; only the next
// block past it removes the oldest.
TEST(TrafficLogBudgetTest, TheBudgetIsFilledExactlyBeforeTheOldestEntriesGo) {
    quor::TTrafficLog log;
    log.SetBudget(1024);  // blocks of the smallest size, 256 bytes
    const std::string stamp = "12:00:00:000";
    const std::string text(128 - 6 - stamp.size(), 'x');  // a 128-byte record: two fill a block
    log.Append(stamp, text, true);
    const size_t block = log.MemoryUsed();
    log.SetBudget(3 * block);
    for (int i = 1; i < 6; ++i) log.Append(stamp, text, i % 2 == 0);
    EXPECT_EQ(log.MemoryUsed(), 3 * block);
    EXPECT_EQ(log.Size(), 6u);
    EXPECT_FALSE(log.Trimmed());
    log.Append(stamp, "next", false);
    EXPECT_TRUE(log.Trimmed());
    EXPECT_EQ(log.Size(), 5u);
    EXPECT_EQ(log.MemoryUsed(), 3 * block);
    EXPECT_NE(log.Entries().back().Text.find(":.....next"), std::string::npos);
}

}  // namespace
}  // namespace monitor_test
