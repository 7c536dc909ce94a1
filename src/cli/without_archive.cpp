// A command line built without the archive (no libmseed): no `acquire`, no `convert`.
#include "cli/command.h"

namespace zqd::cli {

std::unique_ptr<Command> MakeAcquire() { return nullptr; }
std::unique_ptr<Command> MakeConvert() { return nullptr; }

}  // namespace zqd::cli
