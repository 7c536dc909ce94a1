// stationxml [--config FILE] [--archive DIR] [--out FILE] [--network N]
// [--station S] [--location L]: the station's FDSN StationXML 1.2, every
// configured channel with its sample rate and response, the station where the
// configuration puts it or where the receiver's positions in the archive do.
// To standard output, or written whole into FILE.
#include <iostream>

#include "app/messages.h"
#include "archive/station_metadata.h"
#include "cli/command.h"
#include "cli/station.h"
#include "common/utc.h"
#include "platform/text.h"
#include "version.h"

namespace zqd::cli {

namespace {

class StationXml final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("stationxml", "Write the station's metadata as FDSN StationXML 1.2");
        station_.Add(*c, "Configuration file (TOML): codes, channels, coordinates, [sensor]");
        c->add_option("--archive", archive_, "Archive (SDS) for the start date and, without configured coordinates, "
                                             "the GPS positions");
        c->add_option("--out", out_, "File to write (default: standard output)");
        return c;
    }

    int Run() override {
        auto config = config::DefaultConfig();
        if (const int refused = station_.Load(config, kRefused); refused != kDone) return refused;
        std::optional<std::filesystem::path> archive;
        if (!archive_.empty()) {
            archive = platform::PathFromUtf8(archive_);
            if (!std::filesystem::is_directory(*archive)) {
                std::cerr << app::Text(Status::Fail(Status::Code::kFileRefused, Status::Why::kMissing).About(archive_))
                          << "\n";
                return kRefused;
            }
        }
        const std::string module = "ZQD4830_GPS " + std::string(kVersion);
        const std::int64_t now = utc::NowNs();
        if (out_.empty()) {
            const archive::ArchiveFacts facts = archive ? archive::ReadArchiveFacts(config.Description(), *archive) : archive::ArchiveFacts{};
            stationxml::Document doc;
            if (const Status s = archive::DescribeStation(config.Description(), facts, now, module, doc); !s.ok()) {
                std::cerr << app::Text(s) << "\n";
                return kRefused;
            }
            std::cout << stationxml::ToXml(doc) << std::flush;
            return kDone;
        }
        if (const Status s = archive::WriteStationXml(config.Description(), archive, platform::PathFromUtf8(out_), module, now); !s.ok()) {
            std::cerr << app::Text(s) << "\n";
            return kRefused;
        }
        std::cerr << "StationXML 已写入 " << out_ << "\n";
        return kDone;
    }

private:
    StationOptions station_;
    std::string archive_, out_;
};

}  // namespace

std::unique_ptr<Command> MakeStationXml() { return std::make_unique<StationXml>(); }

}  // namespace zqd::cli
