// SaveSessionCommands writes the log only to a file on disk: a device name, a device path,
// a special file, a name that is no text and an over-long name each fail with a message that
// says why; a good name afterwards holds the log.
#include <gtest/gtest.h>

#include <string>

#include "NoDeviceFixture.h"
#include "base/HostInfo.h"
#include "link/PortNames.h"
#include "server/ObjPulsyn.h"

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace monitor_test {
namespace {

class SaveLogTest : public MonitorCallsTest {
protected:
    void SetUp() override {
        MonitorCallsTest::SetUp();
        VARIANT_BOOL connected = VARIANT_TRUE;
        ASSERT_EQ(pulsyn.Connect(&connected), S_OK) << LastErrorDescription();  // no device: the log stays
        ASSERT_TRUE(quor::frmComm);
        quor::frmComm->AddText("=", true);
        quor::frmComm->AddText("=<0003OK.", false);
    }

    // The description of a save that must fail.
    std::string Refused(const std::u16string& name) {
        EXPECT_EQ(pulsyn.SaveSessionCommands(std::u16string_view(name)), E_UNEXPECTED);
        return LastErrorDescription();
    }
    static std::u16string Utf16(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
    std::string Separator() const { return Path("x").find('\\') != std::string::npos ? "\\" : "/"; }

    // A good name afterwards holds the whole log.
    void ExpectTheLogSavesToAFile() {
        TestBstr good(Path("good.rtf"));
        ASSERT_EQ(pulsyn.SaveSessionCommands(good.Get()), S_OK) << LastErrorDescription();
        TReadBack doc = ReadRtfFileWithPlatformReader(Path("good.rtf"));
        ASSERT_TRUE(doc.Ok) << doc.Error;
        TrimFinalParagraph(doc);
        ASSERT_EQ(doc.Runs.size(), 2u);
        EXPECT_NE(doc.Runs[0].Text.find(":.....="), std::string::npos) << doc.Text;
        EXPECT_NE(doc.Runs[1].Text.find(":.....=<0003OK."), std::string::npos) << doc.Text;
    }

    quor::TPulsyn pulsyn;
};

TEST_F(SaveLogTest, ADeviceNameOrDevicePathIsRefusedAndNoFileIsMade) {
    for (const std::string& name : {Path("COM7.rtf"), Path("com8.log"), Path("nul.txt"), std::string("COM7"),
                                    std::string("\\\\.\\COM7"), Path("CON .rtf"), Path("aux."),
                                    Path("COM7.rtf") + Separator() + ".", Path("COM8") + Separator() + "sub" + Separator() + ".."}) {
        const std::string message = Refused(Utf16(name));
        EXPECT_EQ(message.rfind("Cannot create file \"" + name + "\". ", 0), 0u) << message;
        EXPECT_TRUE(message.find("is a device name") != std::string::npos ||
                    message.find("is a device path") != std::string::npos)
            << message;
    }
    EXPECT_FALSE(FileExists(Path("COM7.rtf")));
    EXPECT_FALSE(FileExists(Path("com8.log")));
    ExpectTheLogSavesToAFile();
}

TEST_F(SaveLogTest, ANameThatIsNoTextIsRefusedNotShortenedOrChanged) {
    const std::u16string withNul = Utf16(Path("log")) + std::u16string(1, u'\0') + u".rtf";
    EXPECT_NE(Refused(withNul).find("contains a NUL character"), std::string::npos) << LastErrorDescription();
    EXPECT_FALSE(FileExists(Path("log")));
    EXPECT_EQ(Refused(Utf16(Path("log")) + u"\xD800.rtf"),
              "Cannot create file \"" + Path("log") + "\xEF\xBF\xBD.rtf\". The name contains an unpaired surrogate (U+D800), "
              "which is half of a character, not text: correct the name.");
    EXPECT_FALSE(FileExists(Path("log\xEF\xBF\xBD.rtf")));
#ifdef _WIN32
    // Through the automation string, which carries its length.
    BSTR name = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(withNul.data()), static_cast<UINT>(withNul.size()));
    EXPECT_EQ(pulsyn.SaveSessionCommands(name), E_UNEXPECTED);
    SysFreeString(name);
    EXPECT_NE(LastErrorDescription().find("contains a NUL character"), std::string::npos) << LastErrorDescription();
    EXPECT_FALSE(FileExists(Path("log")));
#endif
    ExpectTheLogSavesToAFile();
}

TEST_F(SaveLogTest, AnOverLongNameIsNamedAsSuch) {
    const std::string longName = Path(std::string(300, 'n') + ".rtf");
    EXPECT_NE(Refused(Utf16(longName)).find("too long"), std::string::npos) << LastErrorDescription();
    // Longer in all than either system takes (Linux: 4096 bytes), each part short enough.
    std::string longPath = Path("f");
    for (int part = 0; part < 25; ++part) longPath += Separator() + std::string(200, 'g');
    longPath += ".rtf";
    const std::string message = Refused(Utf16(longPath));
    EXPECT_NE(message.find("too long"), std::string::npos) << message;
    EXPECT_EQ(message.find("not found"), std::string::npos) << message;
    ExpectTheLogSavesToAFile();
}

#ifdef _WIN32
// Under Wine, drive Z: is the Unix file system: its /dev/null is a name no rule knows as a
// device, and what opens is a character device all the same.
TEST_F(SaveLogTest, WhatOpensAsADeviceIsNotWrittenTo) {
    if (GetDriveTypeW(L"Z:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "not under Wine";
    const std::string message = Refused(u"Z:\\dev\\null");
    EXPECT_EQ(message, "Cannot create file \"Z:\\dev\\null\". It is a device, not a file on disk: choose the name of a file.");
    ExpectTheLogSavesToAFile();
}
#else
// What the name opens is checked before it is opened for writing: a terminal is never
// opened (that could change its lines) and gets nothing.
TEST_F(SaveLogTest, ASpecialFileIsNotWrittenTo) {
    const std::string fifo = Path("pipe.rtf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int master = -1, terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    const std::string terminalName = ttyname(terminal);
    for (const std::string& name : {fifo, std::string("/dev/null"), terminalName, Path(".")}) {
        const std::string message = Refused(Utf16(name));
        EXPECT_EQ(message, "Cannot create file \"" + name +
                               "\". It is a device or other special file, not a file on disk: choose the name of a file.");
    }
    pollfd arrived{master, POLLIN, 0};
    EXPECT_EQ(poll(&arrived, 1, 0), 0) << "the terminal was written to";
    ::close(terminal);
    ::close(master);
    ExpectTheLogSavesToAFile();
}
#endif

}  // namespace
}  // namespace monitor_test
