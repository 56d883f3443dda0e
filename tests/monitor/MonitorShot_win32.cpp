// Draws the monitor window with a short session in it and writes a picture of it (a 24-bit
// BMP) for the README: scripts/monitor-screenshot.sh runs it under Wine on a virtual
// display and turns the picture into docs/monitor.png.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/MainThread.h"
#include "base/WideText.h"
#include "link/CommUnit.h"

namespace {

void Pump(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        quor::ProcessMessages();
        quor::WaitForMessages(std::chrono::milliseconds(20));
    }
}

bool WriteBmp(const std::string& path, HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((width * 3 + 3) / 4) * 4;
    const DWORD imageSize = stride * height;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    FILE* out = _wfopen(quor::ToWide(path).c_str(), L"wb");
    bool ok = out != nullptr;
    if (ok) {
        ok = fwrite(&file, sizeof(file), 1, out) == 1 && fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
             fwrite(bits, imageSize, 1, out) == 1;
        ok = fclose(out) == 0 && ok;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: monitor_shot <picture.bmp>\n");
        return 2;
    }
    quor::TfrmComm link;
    if (!link.Monitor().Available()) {
        std::fprintf(stderr, "monitor_shot: no window (is there a display?)\n");
        return 1;
    }
    // A short session as the link logs it: the port search's probe, a delay setter, a
    // trigger, and a value the stimulator refused.
    const std::vector<std::pair<std::string, bool>> session = {
        {"=", true},        {"=", false},     {"=", true},      {">0012L1+25.00E-3R", true}, {"=", false},
        {"<", false},       {"0003", false},  {"OK.", false},   {"=", true},                 {">0002T1", true},
        {"=", true},        {">0012V1+12.00E+0R", true},        {"=<0007", false},           {"ER:Rng.", false},
    };
    for (const auto& [text, sent] : session) link.AddText(text, sent);
    link.ShowMonitor();
    Pump(std::chrono::milliseconds(1500));
    if (!WriteBmp(argv[1], static_cast<HWND>(link.Monitor().Handle()))) {
        std::fprintf(stderr, "monitor_shot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
