// Shared pieces of the monitor window's tests: a device link with its window and no port,
// a scratch folder, and the runs a saved log must read back as.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "RtfRead.h"
#include "link/CommUnit.h"
#include "server/AutomationTypes.h"

namespace monitor_test {

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A file name in this test's scratch folder.
    std::string Path(const std::string& name) const;
    // Saves the log and reads it back with the platform's reader.
    TReadBack SaveAndRead(const std::string& name, bool withColours = true);
    // The runs the log's entries must read back as: each entry's line break and text in
    // red (sent) or green (received), neighbours of one colour joined. ASCII entries only.
    std::vector<TRun> ExpectedRuns() const;

    std::unique_ptr<quor::TfrmComm> Link;
    std::string Folder;
};

// A 16-bit automation string for the control object's calls.
class TestBstr {
public:
    explicit TestBstr(const std::string& utf8);
    ~TestBstr();
    BSTR Get() const { return FValue; }

private:
    BSTR FValue;
#ifndef _WIN32
    std::u16string FText;
#endif
};

// The description of the thread's last automation error.
std::string LastErrorDescription();
bool FileExists(const std::string& path);

}  // namespace monitor_test
