// Clear pressed while a dialogue waits for the stimulator's reply: the log is emptied at
// once, and the dialogue's later entries are the first lines of the new log.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "RtfRead.h"
#include "SerialLine.h"
#include "base/MainThread.h"
#include "link/CommUnit.h"

using namespace std::chrono_literals;

namespace monitor_test {
namespace {

TEST(MonitorDialogueTest, ClearDuringADialogueEmptiesTheLogAndTheDialogueGoesOnInTheNewLog) {
    SerialLine line;
    quor::TfrmComm link;
    link.ReplyTimeout = 10s;
    link.Comm32().SetDeviceName(line.PortName());
    link.Comm32().Open();
    link.AddText("before the dialogue", true);

    std::string atDevice;
    std::thread device([&] {
        atDevice = line.Receive(9);  // the prompt byte and the frame >0003Y3R
        // The user's click, handled by the window's thread while the dialogue waits.
        quor::RunOnMainThread([&] { link.Monitor().ClickClear(); });
        line.Send("<0003OK.");
    });
    const std::string reply = link.Dialogue("Y3");
    device.join();
    EXPECT_EQ(atDevice, "=>0003Y3R");
    EXPECT_EQ(reply, "OK.");

    std::vector<std::string> texts;
    for (const quor::TTrafficEntry& entry : link.Log().Entries()) {
        EXPECT_FALSE(entry.Sent);
        texts.push_back(entry.Text.substr(entry.Text.find(":.....") + 6));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"<", "0003", "OK."}));

    const std::string path = ::testing::TempDir() + "quor-monitor-dialogue.rtf";
    link.SaveSessionCommands(path);
    TReadBack doc = ReadRtfFileWithPlatformReader(path);
    ASSERT_TRUE(doc.Ok) << doc.Error;
    TrimFinalParagraph(doc);
    ASSERT_EQ(doc.Runs.size(), 1u);
    EXPECT_EQ(doc.Runs[0].Colour, kGreen);
    EXPECT_EQ(doc.Text.compare(0, 1, "\n"), 0);  // the new log starts with an empty line
    EXPECT_NE(doc.Text.find("OK."), std::string::npos);
    EXPECT_EQ(doc.Text.find(">0003Y3R"), std::string::npos);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace monitor_test
