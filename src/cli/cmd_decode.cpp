// decode [--chn-num N] [FILE]: the GPS time of every block of a record, as
// 打开文件 lists it. No card is touched.
#include <iostream>

#include "app/frm_main.h"
#include "app/messages.h"
#include "cli/command.h"
#include "cli/record_file.h"

namespace zqd::cli {

namespace {

class Decode final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("decode", "List the GPS time of every block of a record");
        c->add_option("--chn-num", chn_num_, "Channels per scan of the record")->check(CLI::Range(1, 32767));
        c->add_option("FILE", file_, "Record file (default: T1.DAT in the program's folder)");
        return c;
    }

    int Run() override {
        auto listed = ListRecord(RecordFile(file_), static_cast<std::int16_t>(chn_num_));
        if (!listed) {
            std::cerr << Printable(app::Text(listed.status()));
            return kRefused;
        }
        std::cout << listed->listing << std::flush;
        return kDone;
    }

private:
    int chn_num_ = 18;
    std::string file_;
};

}  // namespace

std::unique_ptr<Command> MakeDecode() { return std::make_unique<Decode>(); }

}  // namespace zqd::cli
