// zqd4830-cli: the main window's recording and analysis, the monitor's
// read-outs, continuous recording, conversion and plots, headless, over the
// same presenters and services as the windows. See command.h for the exit
// status; each command is in its own file.
#include <chrono>
#include <iostream>
#include <thread>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "cli/command.h"
#include "platform/text.h"
#include "version.h"

namespace zqd::cli {

std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out.push_back(c);
    if (out.empty() || out.back() != '\n') out.push_back('\n');
    return out;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::vector<std::unique_ptr<Command>> Commands() {
    std::vector<std::unique_ptr<Command>> all;
    for (auto make : {MakeRecord, MakeDecode, MakeExport, MakeMonitor, MakeOutput, MakePlot, MakePsd, MakeAcquire, MakeConvert, MakeStationXml})
        if (auto c = make()) all.push_back(std::move(c));
    return all;
}

}  // namespace zqd::cli

namespace {

// Arguments arrive as UTF-8 on every platform.
int Main(std::vector<std::string> args) {
    using namespace zqd::cli;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    CLI::App app{"ZQD4830_GPS without windows: record, decode and export T1.DAT, monitor the card"};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("zqd4830-cli ") + zqd::kVersion);
    auto commands = Commands();
    std::vector<CLI::App*> subs;
    for (auto& c : commands) subs.push_back(c->Add(app));
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kDone : kUsage;
    }
    for (std::size_t i = 0; i < commands.size(); ++i)
        if (*subs[i]) return commands[i]->Run();
    std::cerr << app.help() << "A subcommand is required\n";
    return kUsage;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** wargv) {
    SetConsoleOutputCP(CP_UTF8);
    // The same bytes as on every other platform: no LF to CR LF translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(zqd::platform::PathText(std::filesystem::path(wargv[i])));
    return Main(std::move(args));
}
#else
int main(int argc, char** argv) { return Main(std::vector<std::string>(argv, argv + argc)); }
#endif
