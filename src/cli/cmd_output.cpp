// output --group TEXT --value TEXT: the monitor's 输出, a byte to a digital
// output group.
#include <iostream>

#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/frm_multibuf.h"
#include "app/messages.h"
#include "card/card.h"
#include "cli/command.h"

namespace zqd::cli {

namespace {

class Output final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("output", "Write a byte to a digital output group");
        c->add_option("--group", group_, "Output group text (0 or 1)")->required();
        c->add_option("--value", value_, "Output value text, hexadecimal")->required();
        return c;
    }

    int Run() override {
        DllDef dll;
        DllCard card;
        acq::Session session(card, {false, std::chrono::milliseconds(100)});
        FrmMultiBuf form(dll, session);
        form.Form_Load();
        form.txtswChn.Text = group_;
        form.txtSWO_0.Text = value_;
        form.cmdSWO_Click();
        if (!card.LibraryPath().empty()) std::cerr << app::CardNotice({card.LibraryPath(), card.Simulated()}) << "\n";
        if (!form.LastOutput.ok()) {
            std::cerr << Printable(form.lblBlock.Text);
            return kRefused;
        }
        return kDone;
    }

private:
    std::string group_, value_;
};

}  // namespace

std::unique_ptr<Command> MakeOutput() { return std::make_unique<Output>(); }

}  // namespace zqd::cli
