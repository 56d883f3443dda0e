#include <windows.h>
#include <shellapi.h>

#include "HostInfoPlatform.h"
#include "WideText.h"

namespace quor::platform {

std::vector<std::string> ProcessArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(ToUtf8(argv[i]));
    LocalFree(argv);
    return arguments;
}

std::string EnvironmentVariable(const std::string& name) {
    const std::wstring wideName = ToWide(name);
    std::wstring value(64, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return {};  // not set, or set to nothing
        if (length < value.size()) {
            value.resize(length);
            return ToUtf8(value);
        }
        value.resize(length);  // the size it needs, terminator included
    }
}

TimeOfDay LocalTimeOfDay() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::string TimeSeparator() {
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) <= 1) return ":";
    return ToUtf8(separator);
}

void WriteTrace(const std::string& line) { OutputDebugStringW(ToWide(line).c_str()); }

}  // namespace quor::platform
