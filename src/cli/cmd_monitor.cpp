// monitor [--ticks N] [--tick-ms MS]: the monitor window's acquisition, its
// read-outs printed a line each time they change.
#include <iostream>

#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/frm_multibuf.h"
#include "app/messages.h"
#include "card/card.h"
#include "cli/command.h"

namespace zqd::cli {

namespace {

class Monitor final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("monitor", "Start the monitor's acquisition and print its read-outs");
        c->add_option("--ticks", ticks_, "Timer ticks to run")->check(CLI::Range(0, 100000000));
        c->add_option("--tick-ms", tick_ms_, "Timer period in ms")->check(CLI::Range(1, 600000));
        return c;
    }

    int Run() override {
        DllDef dll;
        DllCard card;
        acq::Session session(card, {true, std::chrono::milliseconds(tick_ms_), true});
        FrmMultiBuf form(dll, session);
        form.Form_Load();
        form.cmdStart_Click();
        if (!form.TimerAD.Enabled) {
            std::cerr << Printable(form.lblBlock.Text);
            return kRefused;
        }
        if (const auto notice = app::CardNotice(session.Identity()); !notice.empty()) std::cerr << notice << "\n";
        auto line = [&form] {
            std::string s = form.lblBlock.Text + "\t" + form.lblptr.Text;
            for (const auto& l : form.lblAD) s += "\t" + l.Text;
            return s + "\t" + form.lblDI.Text + "\t" + form.lblDI_0.Text + "\t" + form.lblBit.Text + "\t" + form.lblDI_1.Text;
        };
        std::string shown = line();
        for (int i = 0; i < ticks_; ++i) {
            SleepMs(tick_ms_);
            form.TimerAD_Timer();
            if (!form.TimerAD.Enabled) {  // the tick stopped the acquisition
                std::cerr << Printable(form.lblBlock.Text);
                return kRefused;
            }
            const std::string now = line();
            if (now != shown) std::cout << now << "\n" << std::flush;
            shown = now;
        }
        form.cmdStop_Click();
        if (form.Drops > 0) std::cerr << "窗口来不及处理，丢失 " << form.Drops << " 块\n";
        return kDone;
    }

private:
    int ticks_ = 50, tick_ms_ = 100;
};

}  // namespace

std::unique_ptr<Command> MakeMonitor() { return std::make_unique<Monitor>(); }

}  // namespace zqd::cli
