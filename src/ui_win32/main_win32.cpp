// zqd4830-gps.exe: the window program on Windows, native Win32. Opens the
// main window, or with --monitor the live monitor, with --archive the
// archive window; ends when its last window has closed.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/frm_main.h"
#include "app/frm_multibuf.h"
#include "card/card.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "ui_win32/main_frame.h"
#include "ui_win32/monitor_frame.h"
#include "version.h"
#ifdef ZQD_HAVE_ARCHIVE
#include "app/frm_archive.h"
#include "config/station_config.h"
#include "ui_win32/archive_frame.h"
#endif

namespace {

const char* const kUsage =
    "Usage: zqd4830-gps [--monitor | --archive]\n"
    "  (none)      the main window: record T1.DAT, decode, query, export T2.csv\n"
    "  --monitor   the live monitor window (多缓冲区采集方式)\n"
    "  --archive   the continuous-archive window (连续记录)\n"
    "  --version   print the version and exit\n"
    "  --help      print this and exit\n"
    "The card library: %ADCARD_LIBRARY% if set (and then only it), else adcard.dll beside the program.\n"
    "The waveform viewer is in the Linux build only.\n";

// What the program says before any window: to the console or file it was
// started from, or in a message box when it has none.
void Say(const std::string& text, bool error) {
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (AttachConsole(ATTACH_PARENT_PROCESS)) out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    }
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE && WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return;
    MessageBoxW(nullptr, zqd::win32ui::W(text).c_str(), L"ZQD4830_GPS", error ? MB_ICONERROR : MB_ICONINFORMATION);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool monitor = false, archiving = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--version") {
            Say(std::string("zqd4830-gps ") + zqd::kVersion + "\n", false);
            return 0;
        }
        if (a == L"--help" || a == L"-h") {
            Say(kUsage, false);
            return 0;
        }
        if (a == L"--monitor") {
            monitor = true;
        } else if (a == L"--archive") {
            archiving = true;
        } else {
            Say("zqd4830-gps: unknown option " + zqd::win32ui::U8(a) + "\n" + kUsage, true);
            return 1;
        }
    }
    LocalFree(argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the folder chooser

    zqd::DllDef dll;
    zqd::DllCard card;
    // The reader polls the card at the window's timer period.
    zqd::acq::Session session(card, {true, std::chrono::milliseconds(monitor ? 100 : archiving ? 200 : 1000), true});
#ifdef ZQD_HAVE_ARCHIVE
    if (archiving) {
        zqd::FrmArchive form(session, zqd::config::DefaultConfigFile());
        form.Form_Load();
        zqd::win32ui::ArchiveFrame window(form);
        window.Show();
        return zqd::win32ui::RunMessageLoop();
    }
#else
    if (archiving) {
        Say("zqd4830-gps: this build has no archive (libmseed was not there when it was built)\n", true);
        return 1;
    }
#endif
    if (monitor) {
        zqd::FrmMultiBuf form(dll, session);
        form.Form_Load();
        zqd::win32ui::MonitorFrame window(form);
        window.Show();
        return zqd::win32ui::RunMessageLoop();
    }
    const auto folder = zqd::platform::DataFolder();
    zqd::FrmMain form(dll, session, folder);
    form.Form_Load();
    if (folder != zqd::platform::ExecutableDir())
        form.Note("程序所在文件夹不可写，T1.DAT 和 T2.csv 位于 " + zqd::platform::PathText(folder));
    zqd::win32ui::MainFrame window(form);
    window.Show();
    return zqd::win32ui::RunMessageLoop();
}
