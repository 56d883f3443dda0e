// Reads a saved log back through a RichEdit control of its own, as Windows programs do.
#include "RtfRead.h"

#include <windows.h>
#include <richedit.h>

#include "base/WideText.h"

namespace monitor_test {

namespace {

DWORD CALLBACK ReadBlock(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* read) {
    DWORD done = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(cookie), buffer, static_cast<DWORD>(count), &done, nullptr)) return 1;
    *read = static_cast<LONG>(done);
    return 0;
}

int32_t ColourOf(const CHARFORMAT2W& format) {
    if (format.dwEffects & CFE_AUTOCOLOR) return kAutoColour;
    const COLORREF c = format.crTextColor;
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

}  // namespace

TReadBack ReadRtfFileWithPlatformReader(const std::string& path, bool withColours) {
    TReadBack doc;
    HMODULE library = LoadLibraryW(L"msftedit.dll");
    HWND edit = CreateWindowExW(0, MSFTEDIT_CLASS, L"", WS_POPUP | ES_MULTILINE, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
    if (!edit) {
        doc.Error = "no RichEdit control to read with";
        return doc;
    }
    SendMessageW(edit, EM_EXLIMITTEXT, 0, 64 * 1024 * 1024);
    HANDLE file = CreateFileW(quor::ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        doc.Error = "cannot open " + path;
    } else {
        EDITSTREAM stream{};
        stream.dwCookie = reinterpret_cast<DWORD_PTR>(file);
        stream.pfnCallback = &ReadBlock;
        SendMessageW(edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
        CloseHandle(file);
        if (stream.dwError != 0) {
            doc.Error = "the control refused the stream: " + std::to_string(stream.dwError);
        } else {
            GETTEXTLENGTHEX query{GTL_NUMCHARS | GTL_PRECISE, 1200};
            const LONG length = static_cast<LONG>(SendMessageW(edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&query), 0));
            std::wstring text(static_cast<size_t>(length) + 1, L'\0');
            GETTEXTEX get{};
            get.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
            get.flags = GT_DEFAULT;
            get.codepage = 1200;
            const LONG got = static_cast<LONG>(SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                                            reinterpret_cast<LPARAM>(text.data())));
            text.resize(static_cast<size_t>(got));
            for (LONG i = 0; i < got; ++i) {
                int32_t colour = kAutoColour;
                if (withColours) {
                    CHARRANGE one{i, i + 1};
                    SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&one));
                    CHARFORMAT2W format{};
                    format.cbSize = sizeof(format);
                    format.dwMask = CFM_COLOR;
                    SendMessageW(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
                    colour = ColourOf(format);
                }
                char32_t c = text[static_cast<size_t>(i)];
                if (c >= 0xD800 && c < 0xDC00 && i + 1 < got) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (text[static_cast<size_t>(i) + 1] - 0xDC00);
                    ++i;
                }
                if (c == L'\r') c = L'\n';
                if (doc.Runs.empty() || doc.Runs.back().Colour != colour) doc.Runs.push_back({"", colour});
                AppendUtf8(doc.Runs.back().Text, c);
                AppendUtf8(doc.Text, c);
            }
            doc.Ok = true;
        }
    }
    DestroyWindow(edit);
    if (library) FreeLibrary(library);
    return doc;
}

}  // namespace monitor_test
