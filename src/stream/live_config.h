// Live data's settings: the SeedLink server and the push to a data centre,
// both fed from the ring of recent records beside the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zqd::stream {

struct LiveConfig {
    std::string listen;  // empty: no server
    std::uint64_t ring_mb = 256;
    int clients = 100, per_address = 10, handshake_seconds = 60, idle_seconds = 30;
    int write_timeout_s = 10;  // a client whose socket takes nothing for this long is dropped
    std::vector<std::string> allow, deny;
    std::string description;
    std::string datalink;  // empty: no push
    bool Wanted() const { return !listen.empty() || !datalink.empty(); }
};

}  // namespace zqd::stream
