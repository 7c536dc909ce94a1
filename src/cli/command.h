// The commands of zqd4830-cli, one file each. A command adds its subcommand
// and options to the command line and runs when it is chosen. Its options,
// its output and its exit status are a contract with users' scripts:
//
//   0  done
//   1  the command line itself was wrong (CLI11's own errors too)
//   2  the card, a file, the settings or a query refused (the message is printed)
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zqd::cli {

inline constexpr int kDone = 0;
inline constexpr int kUsage = 1;
inline constexpr int kRefused = 2;

class Command {
public:
    virtual ~Command() = default;
    // Adds the subcommand and its options to `app`.
    virtual CLI::App* Add(CLI::App& app) = 0;
    virtual int Run() = 0;
};

// Every command, in the order of the help.
std::vector<std::unique_ptr<Command>> Commands();

std::unique_ptr<Command> MakeRecord();
std::unique_ptr<Command> MakeDecode();
std::unique_ptr<Command> MakeExport();
std::unique_ptr<Command> MakeMonitor();
std::unique_ptr<Command> MakeOutput();
std::unique_ptr<Command> MakePlot();
std::unique_ptr<Command> MakePsd();
std::unique_ptr<Command> MakeAcquire();  // null without the archive
std::unique_ptr<Command> MakeConvert();  // null without the archive
std::unique_ptr<Command> MakeStationXml();  // null without the archive

// A text as printed: CR LF line ends become LF, ending with one line feed.
std::string Printable(const std::string& text);

void SleepMs(int ms);

}  // namespace zqd::cli
