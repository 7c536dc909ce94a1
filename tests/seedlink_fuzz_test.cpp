// Fuzzing the SeedLink server: mutated and random command lines, half-open
// connections and a crowd of connections, while a live client takes every
// record and memory stays bounded.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "seedlink_support.h"

namespace zqd::stream {
namespace {

using namespace std::chrono_literals;
using namespace test_seedlink;

// Resident memory in bytes (Linux).
std::size_t Resident() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

TEST(SeedLink, TenThousandMutatedLinesAThousandConnectionsAndHalfOpenOnesLeaveALiveClientWhole) {
    Station st;
    st.AddSeconds(2);
    ServerLimits limits;
    limits.per_address = 1000;  // here every client is on loopback
    Server srv(st.ring, limits);
    // A well-behaved client taking everything live, from the next record on
    // (named: its END may be read after the first records come).
    const std::uint64_t first = st.ring.NextSequence();
    Client live(srv.Port());
    live.Line("SLPROTO 4.0");
    live.Line("STATION *");
    live.Line("DATA " + std::to_string(first));
    live.Line("END");
    ASSERT_EQ(live.Until("OK\r\nOK\r\nOK\r\n"), "OK\r\nOK\r\nOK\r\n");
    const std::size_t before = Resident();

    std::mt19937 rng(20261208);
    const std::vector<std::string> valid = {
        "HELLO", "SLPROTO 4.0", "SLPROTO 3.1", "STATION ZQD01 XX", "STATION XX_*", "SELECT 00GY?.D", "SELECT !*_G_Y_0",
        "SELECT *_G_Y_1.2D:native", "DATA 00000A", "DATA 12 2027-01-15T08:00:00Z 2027-01-15T08:00:09.5Z", "DATA ALL",
        "FETCH 000001 2027,1,15,8,0,0", "TIME 2027,1,15,8,0,0 2027,1,15,8,0,5", "INFO STREAMS", "INFO ALL", "INFO CONNECTIONS",
        "CAPABILITIES EXTREPLY", "BATCH", "USERAGENT fuzz/1", "AUTH USERPASS a b", "CAT", "END", "ENDFETCH"};
    const auto mutate = [&](std::string s) {
        const int edits = static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const std::size_t at = rng() % s.size();
            switch (rng() % 4) {
            case 0: s[at] = static_cast<char>(rng() % 256); break;
            case 1: s.erase(at, 1 + rng() % 3); break;
            case 2: s.insert(at, std::string(1 + rng() % 300, static_cast<char>(rng() % 128))); break;
            default: s.insert(at, s.substr(0, at)); break;
            }
        }
        return s;
    };
    std::vector<std::unique_ptr<Client>> half_open;
    int lines = 0;
    for (int c = 0; c < 100; ++c) {
        Client j(srv.Port());
        for (int k = 0; k < 100; ++k, ++lines) {
            std::string line = k % 10 == 9 ? std::string(rng() % 64, static_cast<char>(rng() % 256)) : mutate(valid[rng() % valid.size()]);
            j.Send(line + (rng() % 8 ? "\r\n" : "\n"));
        }
        if (c % 10 == 0) {
            // Half-open: a partial line, then silence, the connection kept.
            auto h = std::make_unique<Client>(srv.Port());
            h->Send("STATION ZQD");
            half_open.push_back(std::move(h));
        }
        if (c % 20 == 0) st.AddSeconds(1);  // records keep coming meanwhile
    }
    EXPECT_EQ(lines, 10000);
    // A thousand connections from one address, each opened and dropped at once.
    for (int k = 0; k < 1000; ++k) Client quick(srv.Port());
    st.AddSeconds(3);

    // The live client has every record since it started, in order, none twice.
    const std::uint64_t end = st.ring.NextSequence();
    for (std::uint64_t seq = first; seq < end; ++seq) {
        const std::string p = live.Take(537, 10000ms);
        ASSERT_EQ(p.size(), 537u) << "record " << seq;
        EXPECT_EQ(Le(p, 8, 8), seq);
    }
    Client fine(srv.Port());
    fine.Line("HELLO");
    EXPECT_EQ(fine.Until("\r\n").rfind("SeedLink v3.1", 0), 0u);
    EXPECT_LT(Resident(), before + (64u << 20));  // bounded: what each client may hold is capped
    EXPECT_LE(srv.server->Clients(), 20);
}

}  // namespace
}  // namespace zqd::stream
