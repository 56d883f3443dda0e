// UTF-8 <-> UTF-16 for the Windows API, and the system's 8-bit code page for device text.
#pragma once

#ifdef _WIN32
#include <string>

namespace quor {
std::wstring ToWide(const std::string& utf8);
std::string ToUtf8(const std::wstring& wide);
std::wstring AnsiToWide(const std::string& bytes);  // through the system's 8-bit code page
}  // namespace quor
#endif
