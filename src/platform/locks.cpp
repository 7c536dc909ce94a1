#include <cstdlib>

#include "platform/locks.h"

namespace zqd::platform {

Status HolderStatus(const std::string& written) {
    std::string holder = written;
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0' || holder.back() == ' ')) holder.pop_back();
    if (holder.size() > 200) holder.resize(200);
    if (holder.empty()) return Status::Fail(Status::Code::kBusy, Status::Why::kOtherProcess);
    // "<pid> <program>", as a holder writes it; anything else is shown as it stands.
    char* end = nullptr;
    const long long pid = std::strtoll(holder.c_str(), &end, 10);
    if (end != holder.c_str() && pid > 0 && (*end == ' ' || *end == '\0'))
        return Status::Fail(Status::Code::kBusy, Status::Why::kHeldBy).Value(pid).About(*end ? std::string(end + 1) : std::string());
    return Status::Fail(Status::Code::kBusy, Status::Why::kHeldByText).About(holder);
}

}  // namespace zqd::platform
