// A command line built without the archive (no libmseed): no `acquire`, `convert` or `stationxml`.
#include "cli/command.h"

namespace zqd::cli {

std::unique_ptr<Command> MakeAcquire() { return nullptr; }
std::unique_ptr<Command> MakeConvert() { return nullptr; }
std::unique_ptr<Command> MakeStationXml() { return nullptr; }

}  // namespace zqd::cli
