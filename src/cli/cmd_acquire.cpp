// acquire --archive DIR [--config FILE] [--duration S] [--network N] [--station S]
// [--location L] [--poll-ms MS] [--seedlink [ADDR:]PORT]: continuous
// recording into a miniSEED SDS archive, as the archive window records, until
// Ctrl+C or the duration; with --seedlink (or [seedlink] listen) served live.
#include <atomic>
#include <csignal>
#include <iostream>
#include <mutex>

#include "acquisition/session.h"
#include "app/archive_texts.h"
#include "app/messages.h"
#include "archive/archive_run.h"
#include "card/card.h"
#include "cli/command.h"
#include "cli/station.h"
#include "common/utc.h"
#include "platform/text.h"
#include "stream/live_service.h"
#include "view/sources/open.h"
#include "version.h"

namespace zqd::cli {

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

class Acquire final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("acquire", "Record continuously into a miniSEED SDS archive");
        c->add_option("--archive", archive_, "Archive folder (SDS layout)")->required();
        station_.AddConfig(*c, "Configuration file (TOML)");
        c->add_option("--duration", duration_, "Seconds of acquired data to archive, then stop (default: until Ctrl+C)")
            ->check(CLI::Range(0.0, 1e9));
        station_.AddCodes(*c);
        c->add_option("--poll-ms", poll_ms_, "Period of the card's polling in ms")->check(CLI::Range(1, 10000));
        c->add_option("--seedlink", seedlink_, "Serve the records live over SeedLink at [ADDR:]PORT (18000 is usual)");
        c->footer(
            "Timing ([timing] in the configuration): the receiver's 1PPS pulse on pps_channel dates the data, each rising\n"
            "edge labelled by the @@Ha message. message_refers_to says which pulse a message names, and no data inside\n"
            "the card can tell: \"previous\" for Motorola Oncore receivers (M12, M12+), which send the message after the\n"
            "pulse it describes; \"next\" for one that sends it before. max_message_delay_ms is the latest a message may\n"
            "begin after its pulse (900; the status shows the delay measured). pulse_width_ms is the pulse's width (an\n"
            "M12's: 200), polarity its direction. A message that begins within a few ms of a pulse, later than the\n"
            "setting, or against the pulses' count leaves its second in doubt: it is said, naming the setting, and the\n"
            "time quality (LCQ) drops until it is resolved.");
        return c;
    }

    int Run() override {
        auto config = config::DefaultConfig();
        if (const int refused = station_.Load(config, kRefused); refused != kDone) return refused;
        const auto root = platform::PathFromUtf8(archive_);
        if (const Status s = archive::ArchiveRun::PrepareFolder(root); !s.ok()) {
            std::cerr << app::Text(s) << "\n";
            return kRefused;
        }
        std::mutex out;
        auto say = [&out](const std::string& line) {
            std::lock_guard lock(out);
            std::cout << line << "\n" << std::flush;
        };
        if (!seedlink_.empty()) config.live.listen = seedlink_;
        stream::LiveService live([&say](const stream::LiveNote& note) { say(app::LiveNoteText(note)); },
                                 [&say](const Status& s) { say(app::Text(s)); });
        if (const Status s = live.Start(config.live, config.records.station, config.records.pack.record_length, root, kVersion);
            !s.ok()) {
            std::cerr << app::Text(s) << "\n";
            return kRefused;
        }
        if (const auto text = app::RingOpenedText(live.Opened(), stream::LiveService::RingPath(root)); !text.empty())
            say(text);
        DllCard card;
        acq::Session session(card, {true, std::chrono::milliseconds(poll_ms_), true});
        std::atomic<int> events{0};
        archive::ArchiveRun run(session);
        session.Initial();
        const std::int64_t limit_ns = duration_ > 0 ? static_cast<std::int64_t>(duration_ * 1e9) : -1;
        archive::Reports reports;
        reports.station = [&](const records::StationNote& note) {
            say(app::NoteText(note));
            ++events;
        };
        reports.disk = [&](const archive::DiskNote& note) {
            say(app::NoteText(note));
            if (note.kind == archive::DiskNote::Kind::kDayRemoved) view::ForgetSummaries(note.paths);
            ++events;
        };
        const Status started = run.Start(config.Run(), root, std::move(reports), limit_ns, live.Feed());
        if (!started.ok()) {
            std::cerr << app::StartRefusedText(started) << "\n";
            return kRefused;
        }
        say("ZQD4830_GPS " + std::string(kVersion) + "：开始存档到 " + archive_ + "：" +
            std::to_string(config.records.channels.size()) + " 个通道，" + config.records.station.network + "." +
            config.records.station.station + "." + config.records.station.location + "；" + app::CardNotice(session.Identity()));
        if (const auto text = app::LiveText(live.Snapshot()); !text.empty()) say("实时数据：" + text);
        std::signal(SIGINT, OnStopSignal);
        std::signal(SIGTERM, OnStopSignal);
        const bool card_failed = !Watch(run, live, session, events, limit_ns, say);
        run.Stop();
        live.Stop();
        const auto st = run.Snapshot();
        say(app::StatusLine(st));
        say("结束：存档 " + std::to_string(st.station.blocks) + " 块；损失：" + app::LossText(app::LossesOf(st), true) +
            "；时间撕裂 " + std::to_string(st.station.tears) + " 次；" + app::MessagesText(st.station) + "；" +
            app::ClockText(st.station.clock, st.station.nominal_rate, st.station.timing) + "；" +
            app::TimingSummaryText(st.station));
        if (card_failed) return kRefused;
        return st.disk.writing ? kDone : kRefused;
    }

private:
    // Says the status line once a minute of data and after every event, until
    // a signal, the duration, or the end of the acquisition (false).
    template <typename Say>
    static bool Watch(const archive::ArchiveRun& run, const stream::LiveService& live, const acq::Session& session,
                      const std::atomic<int>& events, std::int64_t limit_ns, Say& say) {
        std::int64_t next_minute = 60 * utc::kNsPerSecond;
        int seen_events = 0;
        while (!g_stop) {
            SleepMs(20);
            const auto st = run.Snapshot();
            if (st.station.archived_ns >= next_minute || events != seen_events) {
                seen_events = events;
                while (next_minute <= st.station.archived_ns) next_minute += 60 * utc::kNsPerSecond;
                const auto served = app::LiveText(live.Snapshot());
                say(app::StatusLine(st) + (served.empty() ? "" : "；" + served));
            }
            if (limit_ns >= 0 && st.station.archived_ns >= limit_ns) return true;
            if (!session.Running()) return false;
        }
        return true;
    }

    std::string archive_;
    double duration_ = 0;
    int poll_ms_ = 200;
    std::string seedlink_;
    StationOptions station_;
};

}  // namespace

std::unique_ptr<Command> MakeAcquire() { return std::make_unique<Acquire>(); }

}  // namespace zqd::cli
