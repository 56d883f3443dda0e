// The headless monitor: showing it echoes the log so far and every later entry, red and
// green on a terminal; what the device sends cannot steer the terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "RtfRead.h"
#include "link/CommUnit.h"

namespace monitor_test {
namespace {

class MonitorEchoTest : public ::testing::Test {
protected:
    void SetUp() override {
        Echo = std::tmpfile();
        ASSERT_NE(Echo, nullptr);
    }
    void TearDown() override { std::fclose(Echo); }
    std::string Echoed() {
        std::fflush(Echo);
        std::string text;
        char buffer[4096];
        std::rewind(Echo);
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, Echo)) > 0) text.append(buffer, n);
        return text;
    }
    size_t Count(const std::string& text, const std::string& what) {
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
        return count;
    }
    std::FILE* Echo = nullptr;
};

TEST_F(MonitorEchoTest, ShowingEchoesTheLogSoFarAndLaterEntriesInTheirColoursOnce) {
    quor::TfrmComm link;
    link.Monitor().SetEchoForTesting(fileno(Echo), /*colour=*/true);
    link.AddText(">0002ER", true);
    EXPECT_EQ(Echoed(), "");  // hidden until shown

    link.ShowMonitor();
    link.AddText("OK.", false);
    link.ShowMonitor();  // already showing: nothing more
    const std::string echoed = Echoed();
    EXPECT_EQ(Count(echoed, "Pulsyn Monitor"), 1u) << echoed;
    EXPECT_NE(echoed.find("\x1b[31m" + link.Log().Entries()[0].Text.substr(2) + "\x1b[0m\n"), std::string::npos);
    EXPECT_NE(echoed.find("\x1b[32m" + link.Log().Entries()[1].Text.substr(2) + "\x1b[0m\n"), std::string::npos);
    EXPECT_EQ(Count(echoed, ">0002ER"), 1u);
    EXPECT_TRUE(link.Monitor().Visible());
}

TEST_F(MonitorEchoTest, DeviceBytesCannotSteerTheTerminal) {
    quor::TfrmComm link;
    link.Monitor().SetEchoForTesting(fileno(Echo), /*colour=*/false);
    link.ShowMonitor();
    link.AddText("\x1b[2J\x1b]0;title\x07" "A", false);
    const std::string echoed = Echoed();
    EXPECT_EQ(echoed.find('\x1b'), std::string::npos);
    EXPECT_EQ(echoed.find('\x07'), std::string::npos);
    EXPECT_NE(echoed.find("<- "), std::string::npos);
    EXPECT_NE(echoed.find("\xE2\x90\x9B[2J\xE2\x90\x9B]0;title\xE2\x90\x87" "A\n"), std::string::npos) << echoed;
}

}  // namespace
}  // namespace monitor_test
