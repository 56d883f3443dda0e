#include "WideText.h"

#include <windows.h>

namespace quor {

namespace {
std::wstring Widen(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}
}  // namespace

std::wstring ToWide(const std::string& utf8) { return Widen(CP_UTF8, utf8); }
std::wstring AnsiToWide(const std::string& bytes) { return Widen(CP_ACP, bytes); }

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
    return text;
}

}  // namespace quor
