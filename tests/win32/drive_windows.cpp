// Drives the native windows as a user would, under wine: finds the window,
// clicks its buttons (BM_CLICK), types into its boxes (WM_SETTEXT) and reads
// the labels back (WM_GETTEXT), printing what it read as UTF-8.
//
//   drive_windows main OUT_DIR      record 20 blocks, 打开文件, 查询 17:38:43-45 of channel 0, 导出, 退出
//   drive_windows monitor OUT_DIR   start, a few ticks, stop, output A5 on group 0, read it back, exit
//   drive_windows archive OUT_DIR   start an archive, wait for records, stop, close
// Each writes what it read into OUT_DIR; the exit status is 0 when every step happened.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "ui_win32/control_ids.h"

namespace {

using namespace zqd::win32ui;
using namespace std::chrono_literals;

std::string U8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

int failures = 0;
void Fail(const std::string& what) {
    std::fprintf(stderr, "drive: %s\n", what.c_str());
    ++failures;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

HWND FindTop(const wchar_t* title) {
    HWND w = nullptr;
    // Shown once its controls are all there.
    WaitFor([&] { return (w = FindWindowW(L"ZQD4830_GPS.Window", title)) != nullptr && IsWindowVisible(w); }, 60s);
    if (!w) Fail("no window \"" + U8(title) + "\"");
    return w;
}

std::string Text(HWND top, int id) {
    HWND c = GetDlgItem(top, id);
    if (!c) {
        Fail("no control " + std::to_string(id));
        return {};
    }
    const auto n = SendMessageW(c, WM_GETTEXTLENGTH, 0, 0);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    SendMessageW(c, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(w.data()));
    w.resize(static_cast<std::size_t>(n));
    return U8(w);
}

void Type(HWND top, int id, const wchar_t* text) {
    HWND c = GetDlgItem(top, id);
    if (!c) return Fail("no box " + std::to_string(id));
    SendMessageW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void Click(HWND top, int id) {
    HWND c = GetDlgItem(top, id);
    if (!c) return Fail("no button " + std::to_string(id));
    if (!IsWindowEnabled(c)) Fail("button " + std::to_string(id) + " is disabled");
    SendMessageW(c, BM_CLICK, 0, 0);
}

void Save(const std::string& dir, const char* name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
}

// The window as it is on the screen, into a 24-bit BMP file.
void Shot(HWND top, const std::string& dir, const char* name) {
    SetForegroundWindow(top);
    RedrawWindow(top, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::this_thread::sleep_for(500ms);
    RECT r;
    GetWindowRect(top, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return Fail("no size to take a picture of");
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files are
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    const DWORD image = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + image;
    std::ofstream f(dir + "/" + name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
    f.write(static_cast<const char*>(bits), static_cast<std::streamsize>(image));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

bool Gone(HWND top) {
    return WaitFor([&] { return !IsWindow(top); }, 30s);
}

int DriveMain(const std::string& out) {
    HWND w = FindTop(L"ZQD4830_GPS");
    if (!w) return 1;
    Save(out, "main-initial.txt", Text(w, kMainLblBlock) + "\t" + Text(w, kMainLblptr) + "\t" + Text(w, kMainCmdStart) +
                                      "\t" + Text(w, kMainCmdFind) + "\n");
    Click(w, kMainCmdStart);
    if (Text(w, kMainCmdStart) != "停止") Fail("CmdStart does not read 停止 while recording");
    if (!WaitFor([&] { return Text(w, kMainTxtResult).find("保存完毕！") != std::string::npos; }, 180s))
        Fail("no 保存完毕！ after recording: " + Text(w, kMainTxtResult));
    Save(out, "main-record.txt", Text(w, kMainTxtResult));
    Click(w, kMainCmdOpen);
    Save(out, "main-open.txt", Text(w, kMainTxtResult));
    Type(w, kMainTxtFormT0 + 2, L"43");
    Type(w, kMainTxtToT0 + 2, L"45");
    Type(w, kMainTxtDispChnNo, L"0");
    Click(w, kMainCmdFind);
    Save(out, "main-find.txt", Text(w, kMainTxtResult));
    Shot(w, out, "main-window.bmp");
    Click(w, kMainCmdOutput);
    Save(out, "main-output.txt", Text(w, kMainTxtResult));
    if (Text(w, kMainTxtResult).find("文件导出完毕!") == std::string::npos) Fail("no 文件导出完毕! after 导出");
    Click(w, kMainCmdExit);
    if (!Gone(w)) Fail("the main window is still there after 退出");
    return failures == 0 ? 0 : 1;
}

std::string MonitorLine(HWND w) {
    std::string s = Text(w, kMonLblBlock) + "\t" + Text(w, kMonLblptr);
    for (int k = 0; k < 4; ++k) s += "\t" + Text(w, kMonLblAD0 + k);
    return s + "\n";
}

int DriveMonitor(const std::string& out) {
    HWND w = FindTop(L"多缓冲区采集方式");
    if (!w) return 1;
    std::string initial = MonitorLine(w);
    for (int id : {kMonLblDI, kMonLblBit, kMonLblDI0, kMonLblDI1}) initial += Text(w, id) + "\n";
    Save(out, "monitor-initial.txt", initial);
    Click(w, kMonCmdStart);
    if (!WaitFor([&] { return std::atoi(Text(w, kMonLblBlock).c_str()) >= 4; }, 60s)) Fail("no buffers counted");
    Shot(w, out, "monitor-window.bmp");
    Click(w, kMonCmdStop);
    std::this_thread::sleep_for(300ms);
    Save(out, "monitor-stopped.txt", MonitorLine(w));
    Type(w, kMonTxtswChn, L"0");
    Type(w, kMonTxtSWO0, L"A5");
    Click(w, kMonCmdSWO);
    Click(w, kMonCmdStart);  // the inputs are read at the ticks
    if (!WaitFor([&] { return Text(w, kMonLblDI0).rfind("A5", 0) == 0; }, 30s))
        Fail("output A5 not read back: lblDI_0 " + Text(w, kMonLblDI0));
    Save(out, "monitor-output.txt", Text(w, kMonLblDI0) + "\n" + Text(w, kMonLblDI) + "\n");
    Click(w, kMonCmdExit);
    if (!Gone(w)) Fail("the monitor is still there after 退出");
    return failures == 0 ? 0 : 1;
}

int DriveArchive(const std::string& out, const wchar_t* folder) {
    HWND w = FindTop(L"连续记录");
    if (!w) return 1;
    Type(w, kArcTxtFolder, folder);
    Click(w, kArcCmdStart);
    if (!WaitFor([&] { return IsWindowEnabled(GetDlgItem(w, kArcCmdStop)) != FALSE; }, 30s))
        Fail("the archive did not start: " + Text(w, kArcTxtLog));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(getenv("DRIVE_ARCHIVE_MS") ? getenv("DRIVE_ARCHIVE_MS") : "8000")));
    Save(out, "archive-running.txt", Text(w, kArcLblStatus) + "\n");
    Shot(w, out, "archive-window.bmp");
    Click(w, kArcCmdStop);
    if (!WaitFor([&] { return IsWindowEnabled(GetDlgItem(w, kArcCmdStart)) != FALSE; }, 60s)) Fail("the archive did not stop");
    Save(out, "archive-log.txt", Text(w, kArcTxtLog));
    PostMessageW(w, WM_CLOSE, 0, 0);
    if (!Gone(w)) Fail("the archive window is still there after closing");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: drive_windows main|monitor|archive OUT_DIR [ARCHIVE_FOLDER]\n", stderr);
        return 2;
    }
    const std::wstring what = argv[1];
    const std::string out = U8(argv[2]);
    if (what == L"main") return DriveMain(out);
    if (what == L"monitor") return DriveMonitor(out);
    if (what == L"archive" && argc >= 4) return DriveArchive(out, argv[3]);
    return 2;
}
