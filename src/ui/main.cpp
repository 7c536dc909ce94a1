// zqd4830-gps: the window program. Opens the main window, or with --monitor
// the live monitor window, --archive the archive window, --view the waveform
// viewer; ends when its last window has closed.
#include <QApplication>
#include <QFont>
#include <QStringList>
#include <cstdio>
#include <string>

#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/frm_main.h"
#include "app/frm_multibuf.h"
#include "card/card.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "version.h"
#include "ui/main_window.h"
#ifdef ZQD_HAVE_ARCHIVE
#include "app/frm_archive.h"
#include "ui/archive_window.h"
#include "ui/viewer_window.h"
#include "view/live_waves.h"
#endif
#include "ui/monitor_window.h"

namespace {

const char* const kUsage =
    "Usage: zqd4830-gps [--monitor | --archive | --view [FILE|FOLDER]]\n"
    "  (none)      the main window: record T1.DAT, decode, query, export T2.csv\n"
    "  --monitor   the live monitor window (多缓冲区采集方式)\n"
    "  --archive   the continuous-archive window (连续记录)\n"
    "  --view      the waveform viewer (波形浏览), opening a T1.DAT, a miniSEED file or an SDS folder\n"
    "  --version   print the version and exit\n"
    "  --help      print this and exit\n"
    "The card library: $ADCARD_LIBRARY if set (and then only it), else adcard beside the program.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window, so that no display is needed.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--version") {
            std::printf("zqd4830-gps %s\n", zqd::kVersion);
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--view" && i + 1 < argc && argv[i + 1][0] != '-') {
            ++i;  // what to open
            continue;
        }
        if (a != "--monitor" && a != "--archive" && a != "--view") {
            std::fprintf(stderr, "zqd4830-gps: unknown option %s\n%s", a.c_str(), kUsage);
            return 1;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("ZQD4830_GPS");
    // The layouts are measured for a 9-point font.
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    const bool monitor = app.arguments().contains("--monitor");
    const bool archiving = app.arguments().contains("--archive");
#ifdef ZQD_HAVE_ARCHIVE
    if (const auto args = app.arguments(); args.contains("--view")) {
        zqd::config::StationConfig config = zqd::config::DefaultConfig();
        zqd::config::LoadConfig(zqd::config::DefaultConfigFile(), config);  // the user's channel names, if any
        zqd::ui::ViewerWindow window(config);
        window.setWindowTitle(QString::fromUtf8("波形浏览 — ZQD4830_GPS ") + zqd::kVersion);
        const int at = static_cast<int>(args.indexOf("--view"));
        if (at + 1 < args.size() && !args[at + 1].startsWith("-")) window.Open(args[at + 1]);
        window.show();
        return app.exec();
    }
#endif

    zqd::DllDef dll;
    zqd::DllCard card;
    // The reader polls the card at the window's timer period.
    zqd::acq::Session session(card, {true, std::chrono::milliseconds(monitor ? 100 : archiving ? 200 : 1000), true});
#ifdef ZQD_HAVE_ARCHIVE
    if (archiving) {
        zqd::FrmArchive form(session, zqd::config::DefaultConfigFile());
        form.Form_Load();
        std::vector<std::pair<int, std::string>> rows(form.Config().records.channels.begin(), form.Config().records.channels.end());
        zqd::view::LiveWaves live(session, rows);
        zqd::ui::ArchiveWindow window(form, &live);
        window.setWindowTitle(QString::fromUtf8("连续记录 — ZQD4830_GPS ") + zqd::kVersion);
        window.Sync();
        window.show();
        return app.exec();
    }
#else
    (void)archiving;
#endif
    if (monitor) {
        zqd::FrmMultiBuf form(dll, session);
        form.Form_Load();
        zqd::ui::MonitorWindow window(form);
        window.Sync();
        window.show();
        return app.exec();
    }
    const auto folder = zqd::platform::DataFolder();
    zqd::FrmMain form(dll, session, folder);
    form.Form_Load();
    if (folder != zqd::platform::ExecutableDir())
        form.Note("程序所在文件夹不可写，T1.DAT 和 T2.csv 位于 " + zqd::platform::PathText(folder));
    zqd::ui::MainWindow window(form);
    window.Sync();
    window.show();
    return app.exec();
}
