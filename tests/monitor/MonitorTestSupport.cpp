#include "MonitorTestSupport.h"

#include <cstdio>
#include <filesystem>

#include "server/ErrorInfo.h"

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>

#include "base/WideText.h"
#else
#include <unistd.h>
#endif

namespace monitor_test {

namespace {
int NextFolder = 0;
}

void MonitorTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("quor-monitor-" + std::to_string(pid) + "-" + std::to_string(NextFolder++) +
                                          "-" + info->name());
    std::filesystem::create_directories(folder);
    Folder = folder.string();
    Link = std::make_unique<quor::TfrmComm>();
    ASSERT_TRUE(Link->Monitor().Available()) << "the monitor window could not be created";
}

void MonitorTest::TearDown() {
    Link.reset();
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
}

std::string MonitorTest::Path(const std::string& name) const { return (std::filesystem::path(Folder) / name).string(); }

TReadBack MonitorTest::SaveAndRead(const std::string& name, bool withColours) {
    const std::string path = Path(name);
    Link->SaveSessionCommands(path);
    TReadBack doc = ReadRtfFileWithPlatformReader(path, withColours);
    TrimFinalParagraph(doc);
    return doc;
}

std::vector<TRun> MonitorTest::ExpectedRuns() const {
    std::vector<TRun> runs;
    for (const quor::TTrafficEntry& entry : Link->Log().Entries()) {
        std::string text = entry.Text;
        if (text.compare(0, 2, "\r\n") == 0) text.replace(0, 2, "\n");
        const int32_t colour = entry.Sent ? kRed : kGreen;
        if (runs.empty() || runs.back().Colour != colour) runs.push_back({"", colour});
        runs.back().Text += text;
    }
    return runs;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

#ifdef _WIN32
TestBstr::TestBstr(const std::string& utf8) : FValue(SysAllocString(quor::ToWide(utf8).c_str())) {}
TestBstr::~TestBstr() { SysFreeString(FValue); }

std::string LastErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR description = nullptr;
    info->GetDescription(&description);
    std::string text = description ? quor::ToUtf8(std::wstring(description, SysStringLen(description))) : "";
    SysFreeString(description);
    info->Release();
    return text;
}
#else
TestBstr::TestBstr(const std::string& utf8) {
    // The test names are ASCII and UTF-8 two-byte letters; enough for these tests.
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0 && i + 1 < utf8.size()) {
            FText += static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        } else {
            FText += static_cast<char16_t>(c);
        }
    }
    FValue = FText.data();
}
TestBstr::~TestBstr() = default;

std::string LastErrorDescription() { return quor::LastErrorInfo().Description; }
#endif

}  // namespace monitor_test
