// record [--dir DIR] [--tick-ms MS]: one complete record into DIR/T1.DAT,
// through the main window's own handlers, printing its log and labels.
#include <chrono>
#include <iostream>
#include <sstream>

#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/frm_main.h"
#include "app/messages.h"
#include "card/card.h"
#include "cli/command.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd::cli {

namespace {

// Prints what a log adds: only the new part when the text grew, else all of it.
struct LogPrinter {
    std::string shown;
    void operator()(const std::string& text) {
        if (!shown.empty() && text.size() > shown.size() && text.compare(0, shown.size(), shown) == 0) {
            std::string added = text.substr(shown.size());
            if (added.rfind("\r\n", 0) == 0) added.erase(0, 2);
            std::cout << Printable(added) << std::flush;
        } else {
            std::cout << Printable(text) << std::flush;
        }
        shown = text;
    }
};

class Record final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("record", "Record one complete record into DIR/T1.DAT");
        c->add_option("--dir", dir_, "Folder of T1.DAT (default: the program's folder, or the user's data folder where that cannot be written)");
        c->add_option("--tick-ms", tick_ms_, "Timer period in ms")->check(CLI::Range(1, 600000));
        return c;
    }

    int Run() override {
        DllDef dll;
        DllCard card;
        acq::Session session(card, {true, std::chrono::milliseconds(tick_ms_), true});
        FrmMain form(dll, session, dir_.empty() ? platform::DataFolder() : platform::PathFromUtf8(dir_));
        LogPrinter log;
        form.Changed = [&](const Control& c) {
            if (&c == &form.TxtResult)
                log(c.Text);
            else if (&c == &form.lblBlock || &c == &form.lblptr)
                std::cout << Printable(c.Text) << std::flush;
        };
        form.Form_Load();
        if (dir_.empty() && platform::DataFolder() != platform::ExecutableDir())
            std::cerr << "注意：程序所在文件夹不可写，T1.DAT 写在 " << platform::PathText(platform::DataFolder()) << "\n";
        // What the window shows of its start is held until it is known to
        // have started: a refusal is said once, on stderr.
        std::ostringstream shown;
        std::streambuf* out = std::cout.rdbuf(shown.rdbuf());
        form.CmdStart_Click();
        std::cout.rdbuf(out);
        if (!form.LastStart.ok()) {
            // The card refused ("Error=" on lblBlock, shown as the window
            // shows it), the lock is held, or the library is missing (in the log).
            if (form.LastStart.code == Status::Code::kCardRefused)
                std::cout << shown.str();
            else if (form.LastStart.code == Status::Code::kBusy)
                std::cerr << Printable(app::StartRefusedText(form.LastStart));
            else
                std::cerr << shown.str();
            return kRefused;
        }
        std::cout << shown.str();
        if (!WaitForRecord(form)) return kRefused;
        const auto stats = session.Stats();
        const app::Losses lost{stats.read_failures, stats.overflowed, stats.gaps + stats.backwards, form.Drops, 0, 0};
        if (app::LossText(lost, false) != "无" || stats.messages.Bad() > 0)
            std::cout << "损失：" << app::LossText(lost, true) << "；GPS 报文校验失败 " << stats.messages.Bad() << " 条\n"
                      << std::flush;
        return form.Saves > 0 && form.LastSave.ok() ? kDone : kRefused;
    }

private:
    // Ticks the window's timer until the record is saved; false when the card
    // sent nothing for 30 seconds.
    bool WaitForRecord(FrmMain& form) const {
        auto last_data = std::chrono::steady_clock::now();
        std::int16_t blocks = form.RecvBlocks;
        while (form.TimerAD.Enabled || form.SavePending()) {
            SleepMs(tick_ms_);
            if (form.TimerAD.Enabled) form.TimerAD_Timer();
            form.CheckSave();
            if (form.RecvBlocks != blocks || !form.TimerAD.Enabled) {
                blocks = form.RecvBlocks;
                last_data = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - last_data > std::chrono::seconds(30)) {
                form.CmdStart_Click();
                std::cerr << "板卡 30 秒内没有送来数据，采集已停止。\n";
                return false;
            }
        }
        return true;
    }

    std::string dir_;
    int tick_ms_ = 1000;
};

}  // namespace

std::unique_ptr<Command> MakeRecord() { return std::make_unique<Record>(); }

}  // namespace zqd::cli
