// The rules for the name the log is saved to: names and paths that Windows opens as
// devices are refused, with the reason; everything else is a file name as before.
#include <gtest/gtest.h>

#include <string>

#include "base/Exceptions.h"
#include "link/LogFileName.h"

namespace {

std::string Refusal(const std::string& name, const std::string& directory = {}) {
    try {
        quor::RefuseDeviceName(name, directory);
    } catch (const quor::Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(LogFileNameTest, ReservedDeviceNamesAreRefusedInEveryFolderWithAnyExtension) {
    for (const char* name : {"COM7", "com8.log", "C:\\data\\COM7.rtf", "C:/data/Com9.rtf", "NUL.txt", "con", "Prn.rtf",
                             "aux.tar.gz", "LPT1", "lpt9.rtf", "COM7.", "COM7..", "COM7 ", "COM7 .rtf", "NUL:",
                             "C:COM3", "..\\nul.rtf", "CONOUT$", "conin$.txt", "COM\xC2\xB9.rtf", "lpt\xC2\xB3",
                             "COM\xC2\xB2"}) {
        const std::string message = Refusal(name);
        EXPECT_EQ(message.rfind("Cannot create file \"" + std::string(name) + "\". ", 0), 0u) << name << ": " << message;
        EXPECT_NE(message.find("is a device name: Windows opens CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 as "
                               "devices in every folder and with any extension"),
                  std::string::npos)
            << name << ": " << message;
    }
    EXPECT_EQ(Refusal("C:\\data\\COM7.rtf"),
              "Cannot create file \"C:\\data\\COM7.rtf\". COM7 is a device name: Windows opens CON, PRN, AUX, NUL, COM1 "
              "to COM9 and LPT1 to LPT9 as devices in every folder and with any extension, so the log would go to the "
              "device, not to a file. Choose another name.");
}

// The last part counts as the system makes it before opening: "." and ".." resolved (from
// the current folder when they climb out of the name), trailing dots and spaces cut.
TEST(LogFileNameTest, ANameIsJudgedAsTheSystemNormalisesIt) {
    const struct {
        const char* name;
        const char* directory;
        const char* device;  // nullptr: a file name
    } cases[] = {
        {"C:\\data\\COM7.rtf\\.", "", "COM7"},
        {"C:\\data\\COM8\\.", "", "COM8"},
        {"C:\\data\\COM8\\sub\\..", "", "COM8"},
        {"COM8\\sub\\..", "", "COM8"},
        {"C:/data/nul.txt/./", "", "NUL"},
        {"C:\\data\\COM7.rtf\\...", "", "COM7"},
        {"C:\\data\\COM7.rtf\\. ", "", "COM7"},
        {"\\\\server\\share\\aux\\x\\..", "", "AUX"},
        {"..", "C:\\data\\COM9\\logs", "COM9"},
        {"sub\\..\\..", "C:\\data\\LPT2\\x", "LPT2"},
        {"C:\\data\\COM8\\session.rtf\\.", "", nullptr},
        {"C:\\data\\COM7.rtf\\..\\session.rtf", "", nullptr},
        {"C:\\COM7\\..\\..\\session.rtf", "", nullptr},
        {"..", "C:\\data\\logs", nullptr},
        {"logs\\..\\session.rtf", "C:\\COM7", nullptr},
        {"\\\\?\\C:\\data\\COM7.rtf\\.", "", nullptr},
    };
    for (const auto& c : cases) {
        const std::string message = Refusal(c.name, c.directory);
        if (!c.device) {
            EXPECT_EQ(message, "") << c.name;
            continue;
        }
        EXPECT_EQ(message.rfind("Cannot create file \"" + std::string(c.name) + "\". " + c.device + " is a device name", 0),
                  0u)
            << c.name << " in " << c.directory << ": " << message;
    }
}

TEST(LogFileNameTest, DevicePathsAreRefusedButLongPathsToFilesAreTaken) {
    for (const char* name : {"\\\\.\\COM7", "//./com7", "\\\\.\\pipe\\log", "\\\\?\\COM7", "\\\\?\\GLOBALROOT\\Device\\Null",
                             "\\??\\C:\\data\\log.rtf", "\\\\.\\C:\\data\\log.rtf", "\\\\.", "\\\\?\\"}) {
        EXPECT_NE(Refusal(name).find("is a device path"), std::string::npos) << name << ": " << Refusal(name);
    }
    for (const char* name : {"session.rtf", "C:\\data\\session.rtf", "COM10.rtf", "COM0.rtf", "LPT.txt", "NULL.txt",
                             "console.rtf", "com7data.rtf", "my COM7.rtf", "COM7\\session.rtf", "\\\\server\\share\\x.rtf",
                             "\\\\?\\C:\\data\\session.rtf", "\\\\?\\C:\\data\\COM7.rtf", "\\\\?\\UNC\\server\\share\\x.rtf",
                             "/tmp/session.rtf", ""}) {
        EXPECT_EQ(Refusal(name), "") << name;
    }
}

TEST(LogFileNameTest, TextThatNamesNoFileIsRefusedBeforeItIsConverted) {
    EXPECT_EQ(quor::LogFileNameFromUtf16(u"C:\\data\\s\u00e9ance \U0001F600.rtf"),
              "C:\\data\\s\xC3\xA9" "ance \xF0\x9F\x98\x80.rtf");
    const std::u16string withNul(u"log\0.rtf", 8);
    EXPECT_THROW(quor::LogFileNameFromUtf16(withNul), quor::Exception);
    try {
        quor::LogFileNameFromUtf16(withNul);
    } catch (const quor::Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"log\\0.rtf\". The name contains a NUL character (code 0), which no "
                               "file name can hold: remove it.");
    }
    for (const std::u16string& name : {std::u16string(u"a\xD800.rtf"), std::u16string(u"a\xDC00.rtf"),
                                       std::u16string(u"log\xD83D")}) {
        try {
            quor::LogFileNameFromUtf16(name);
            ADD_FAILURE() << "an unpaired surrogate was taken";
        } catch (const quor::Exception& e) {
            EXPECT_NE(e.Message().find("contains an unpaired surrogate (U+D"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("\xEF\xBF\xBD"), std::string::npos) << "shown as the replacement character";
        }
    }
    EXPECT_NE(Refusal(std::string("log\0.rtf", 8)).find("NUL character"), std::string::npos);
}

TEST(LogFileNameTest, AnOverLongNameIsNamedAsSuch) {
    const std::u16string folder = u"C:\\" + std::u16string(250, u'd');
    EXPECT_FALSE(quor::NameTooLongReason(folder, 259, 255));
    EXPECT_EQ(quor::NameTooLongReason(folder + u"\\session.rtf", 259, 255),
              "The name is too long: 265 characters, with 250 in its longest folder or file name, where the system "
              "takes at most 259 in all and 255 in one folder or file name: choose a shorter folder or name.");
    EXPECT_TRUE(quor::NameTooLongReason(u"C:\\" + std::u16string(256, u'f'), 32767, 255));
}

}  // namespace
