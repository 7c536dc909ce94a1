// The SeedLink server as clients see it, through a socket: 3.1's and 4.0's
// framing, sequence numbers, INFO, time windows, selectors, resuming after
// a disconnect and after a restart, WebSocket and HTTP, and what hostile or
// stalled clients cannot do to the others.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "seedlink_support.h"
#include "stream/info_text.h"
#include "stream/websocket.h"

namespace zqd::stream {
namespace {

using namespace std::chrono_literals;
using namespace test_seedlink;

std::string ChannelOfRecord(const std::string& record) { return record.substr(15, 3); }

TEST(SeedLink, Version3FramesEachRecordWithItsSequenceAndServesSelectionsWindowsAndInfo) {
    Station st;
    st.AddSeconds(10);  // sequences 0..19: GY0 even, GY1 odd
    Server srv(st.ring);
    Client c(srv.Port());
    ASSERT_TRUE(c.Connected());
    c.Line("HELLO");
    EXPECT_EQ(c.Until("\r\n"), "SeedLink v3.1 (ZQD4830_GPS test) :: SLPROTO:3.1 SLPROTO:4.0 CAP EXTREPLY NSWILDCARD BATCH WS:13\r\n");
    EXPECT_EQ(c.Until("\r\n"), "Test station\r\n");
    // Multi-station: each modifier answered; a selector of another form refused, the connection kept.
    c.Line("CAPABILITIES EXTREPLY");
    c.Line("STATION  ZQD01 XX");
    c.Line("SELECT 00GY0.D");
    c.Line("SELECT GY0X");
    c.Line("DATA 000004");
    c.Line("END");
    EXPECT_EQ(c.Until("ERROR\r"), "OK\r\nOK\r\nOK\r\nERROR\r");
    EXPECT_NE(c.Until("\r\n").find("ARGUMENTS"), std::string::npos);
    EXPECT_EQ(c.Take(4), "OK\r\n");
    // From sequence 4 on, GY0 only: 4, 6, ... 18, each "SL" + six hex digits + the ring's record.
    for (std::uint64_t seq = 4; seq < 20; seq += 2) {
        const std::string p = c.Take(520);
        ASSERT_EQ(p.size(), 520u);
        char head[9];
        std::snprintf(head, sizeof head, "SL%06X", static_cast<unsigned>(seq));
        EXPECT_EQ(p.substr(0, 8), head);
        const auto held = st.ring.Read(seq);
        EXPECT_EQ(p.substr(8), std::string(held->bytes.begin(), held->bytes.end()));
        EXPECT_EQ(ChannelOfRecord(p.substr(8)), "GY0");
    }
    // Then live: the next record of GY0 as it comes.
    st.AddSeconds(1);
    const std::string live = c.Take(520);
    EXPECT_EQ(live.substr(0, 8), "SL000014");

    // Uni-station TIME window: the records that overlap it, then END once the data pass its end.
    Client w(srv.Port());
    w.Line("SELECT GY1");
    w.Line("TIME " + std::string("2027,1,15,8,0,3 2027,1,15,8,0,6"));
    EXPECT_EQ(w.Take(4, 300ms), "OK\r\n");  // the SELECT's; TIME starts the transfer unanswered
    for (const char* want : {"SL000007", "SL000009", "SL00000B"}) EXPECT_EQ(w.Take(520).substr(0, 8), want);
    EXPECT_EQ(w.Take(3), "END");
    EXPECT_TRUE(w.Closed(2000ms));  // and the connection closed, as ringserver does

    // INFO STREAMS: XML in log records, "SLINFO *" on all but the last.
    // HELLO after SLPROTO 4.0 names 4.0.
    Client h(srv.Port());
    h.Line("SLPROTO 4.0");
    h.Line("HELLO");
    EXPECT_EQ(h.Until("OK\r\n"), "OK\r\n");
    EXPECT_EQ(h.Until("\r\n").rfind("SeedLink v4.0 (ZQD4830_GPS test) :: SLPROTO:3.1 SLPROTO:4.0", 0), 0u);

    Client i(srv.Port());
    i.Line("INFO STREAMS");
    std::string xml;
    for (int k = 0; k < 20; ++k) {
        const std::string p = i.Take(520);
        ASSERT_EQ(p.size(), 520u);
        EXPECT_EQ(ChannelOfRecord(p.substr(8)), "INF");
        xml += p.substr(8 + 64);
        if (p.substr(0, 8) == "SLINFO  ") break;
        EXPECT_EQ(p.substr(0, 8), "SLINFO *");
    }
    EXPECT_NE(xml.find("<station name=\"ZQD01\" network=\"XX\" description=\"Test station\" begin_seq=\"000000\" end_seq=\"000016\""),
              std::string::npos);
    EXPECT_NE(xml.find("<stream location=\"00\" seedname=\"GY1\" type=\"D\" begin_time=\"2027-01-15T08:00:00.000000Z\" end_time=\"2027-01-15T08:00:11.000000Z\""),
              std::string::npos);
    i.Line("INFO GAPS");
    EXPECT_EQ(ChannelOfRecord(i.Take(520).substr(8)), "ERR");
}

// Selectors that only exclude select everything else: a client asking for
// all but the pulse's channel gets every other record, none of that one.
TEST(SeedLink, NegativeSelectorsAloneSelectAllButWhatTheyName) {
    Station st;
    st.AddSeconds(5);  // sequences 0..9: GY0 even, GY1 odd
    Server srv(st.ring);
    for (const char* v : {"3.1", "4.0"}) {
        Client c(srv.Port());
        ASSERT_TRUE(c.Connected());
        if (std::string(v) == "4.0") {
            c.Line("SLPROTO 4.0");
            EXPECT_EQ(c.Until("\r\n"), "OK\r\n");
            c.Line("STATION XX_ZQD01");
            c.Line("SELECT !*_G_Y_0");
            c.Line("DATA 0");
            c.Line("END");
            EXPECT_EQ(c.Take(12), "OK\r\nOK\r\nOK\r\n");
        } else {
            c.Line("SELECT !GY0");
            c.Line("DATA 000000");
            EXPECT_EQ(c.Take(4), "OK\r\n");  // the SELECT's; DATA starts the transfer unanswered
        }
        for (std::uint64_t seq = 1; seq < 10; seq += 2) {
            // 3.1: "SL" and six hex digits; 4.0: "SE", formats, the payload's
            // length, the sequence, the station's id after its length.
            std::string head = c.Take(v[0] == '3' ? 8 : 17);
            ASSERT_FALSE(head.empty()) << v << " at " << seq;
            if (v[0] == '4') head += c.Take(static_cast<unsigned char>(head[16]));
            const std::string record = c.Take(512);
            EXPECT_EQ(ChannelOfRecord(record), "GY1") << v << " at " << seq;
        }
        EXPECT_TRUE(c.Take(1, 300ms).empty()) << v;  // and no GY0 after them
    }
}

TEST(SeedLink, Version4UsesItsHeaderErrorsDialUpAndJsonInfo) {
    Station st;
    st.AddSeconds(6);  // 0..11
    Server srv(st.ring);
    Client c(srv.Port());
    c.Line("SLPROTO 4.0");
    c.Line("USERAGENT test/1.0 libtest/2");
    c.Line("AUTH USERPASS a b");
    c.Line("SELECT *");
    c.Line("STATION XX_Z*");
    c.Line("SELECT");
    c.Line("SELECT *_G_Y_1 !*_G_Y_0");
    c.Line("DATA 5 2027-01-15T08:00:00Z 2027-01-15T08:00:05Z");
    c.Line("FROB");
    c.Line("ENDFETCH");
    const auto answer = [&] { return c.Until("\r\n"); };
    EXPECT_EQ(answer(), "OK\r\n");
    EXPECT_EQ(answer(), "OK\r\n");
    EXPECT_EQ(answer().rfind("ERROR UNSUPPORTED ", 0), 0u);
    EXPECT_EQ(answer().rfind("ERROR UNEXPECTED ", 0), 0u);
    EXPECT_EQ(answer(), "OK\r\n");
    EXPECT_EQ(answer().rfind("ERROR ARGUMENTS ", 0), 0u);
    EXPECT_EQ(answer(), "OK\r\n");
    EXPECT_EQ(answer(), "OK\r\n");
    EXPECT_EQ(answer().rfind("ERROR UNSUPPORTED ", 0), 0u);
    // GY1 from sequence 5 whose records overlap the window: seconds 2, 3 and 4; then END.
    for (std::uint64_t seq : {5, 7, 9}) {
        const std::string p = c.Take(17 + 8 + 512);
        ASSERT_EQ(p.size(), 537u);
        EXPECT_EQ(p.substr(0, 4), "SE2D");
        EXPECT_EQ(Le(p, 4, 4), 512u);
        EXPECT_EQ(Le(p, 8, 8), seq);
        EXPECT_EQ(p.substr(16, 9), std::string("\x08XX_ZQD01"));
        const auto held = st.ring.Read(seq);
        EXPECT_EQ(p.substr(25), std::string(held->bytes.begin(), held->bytes.end()));
    }
    EXPECT_EQ(c.Take(3), "END");
    EXPECT_TRUE(c.Closed(2000ms));  // and nothing after it: the dial-up ends the connection

    Client i(srv.Port());
    i.Line("SLPROTO 4.0");
    EXPECT_EQ(i.Until("\r\n"), "OK\r\n");
    i.Line("INFO STREAMS XX_* *_G_Y_1");
    std::string head = i.Take(17);
    ASSERT_EQ(head.substr(0, 4), "SEJI");
    std::string json = i.Take(Le(head, 4, 4));
    EXPECT_EQ(json.rfind("{\"software\":\"ZQD4830_GPS test\",\"organization\":\"Test station\",\"station\":[{\"id\":\"XX_ZQD01\"", 0), 0u);
    EXPECT_NE(json.find("\"start_seq\":0,\"end_seq\":12"), std::string::npos);
    EXPECT_NE(json.find("{\"id\":\"00_G_Y_1\",\"format\":\"2\",\"subformat\":\"D\",\"origin\":\"native\","
                        "\"start_time\":\"2027-01-15T08:00:00.000000Z\",\"end_time\":\"2027-01-15T08:00:06.000000Z\"}"),
              std::string::npos);
    EXPECT_EQ(json.find("00_G_Y_0"), std::string::npos);
    i.Line("INFO NOTHING");
    head = i.Take(17);
    EXPECT_EQ(head.substr(0, 4), "SEJE");
    EXPECT_NE(i.Take(Le(head, 4, 4)).find("\"error\":{\"code\":\"UNSUPPORTED\""), std::string::npos);
}

// The first `n` packets of 3.1 from DATA `seq` (hex), all streams.
std::vector<std::uint64_t> TakeV3(Client& c, const std::string& data, std::size_t n) {
    c.Line("STATION ZQD01 XX");
    c.Line(data);
    c.Line("END");
    c.Take(8);
    std::vector<std::uint64_t> seqs;
    for (std::size_t k = 0; k < n; ++k) {
        const std::string p = c.Take(520);
        if (p.size() != 520) break;
        seqs.push_back(std::stoull(p.substr(2, 6), nullptr, 16));
    }
    return seqs;
}

TEST(SeedLink, AClientResumesAfterADisconnectAndAfterARestartWithNoGapAndNoDuplicate) {
    auto st = std::make_unique<Station>();
    st->AddSeconds(10);  // 0..19
    std::vector<std::uint64_t> got;
    {
        Server srv(st->ring);
        Client c(srv.Port());
        got = TakeV3(c, "DATA 000000", 7);
        ASSERT_EQ(got.size(), 7u);
    }
    {
        Server srv(st->ring);
        Client c(srv.Port());
        char data[32];
        std::snprintf(data, sizeof data, "DATA %06X", static_cast<unsigned>(got.back() + 1));
        for (auto s : TakeV3(c, data, 13)) got.push_back(s);
    }
    // The server and its ring go (as a killed process's would: nothing closed
    // in order), a new one opens the same file and takes new records.
    const auto path = st->dir / "live.ring";
    st->ring.SetListener({});
    RecordRing again;
    const auto opened = again.Open(path, 4096 * 576);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened->kept, 20u);
    EXPECT_GT(opened->next, 19u);
    Server srv(again);
    Client c(srv.Port());
    c.Line("SLPROTO 4.0");
    c.Line("STATION XX_ZQD01");
    c.Line("DATA " + std::to_string(got.back() + 1));
    c.Line("END");
    c.Until("OK\r\nOK\r\nOK\r\n");
    // New records after the restart: numbered after the reservation, served after the old.
    StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    const auto held = again.Read(3);
    ASSERT_TRUE(held);
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(again.Append(WireName(codes), kT0, kT0 + 1, held->bytes.data(), 512).ok());
    for (int k = 0; k < 3; ++k) {
        const std::string p = c.Take(537);
        ASSERT_EQ(p.size(), 537u);
        got.push_back(Le(p, 8, 8));
    }
    ASSERT_EQ(got.size(), 23u);
    for (std::size_t k = 0; k < 20; ++k) EXPECT_EQ(got[k], k);
    EXPECT_EQ(got[20], opened->next);
    EXPECT_EQ(got[22], opened->next + 2);
}

// A 3.1 client resuming after a restart as libslink does, with the number
// after its last record and that record's time: the number falls among those
// the last run reserved and never used, and the client gets the new run's
// records from the first, none of the old again, even when its last record's
// time is the oldest the ring holds (a 1-sample/s channel's, minutes back).
TEST(SeedLink, A31ClientResumesThroughARestartByItsNumberNotByAnOldTime) {
    auto st = std::make_unique<Station>();
    st->AddSeconds(10);  // 0..19
    const auto path = st->dir / "live.ring";
    st->ring.SetListener({});
    RecordRing again;
    const auto opened = again.Open(path, 4096 * 576);
    ASSERT_TRUE(opened.ok());
    ASSERT_GT(opened->next, 20u);
    EXPECT_TRUE(again.Skipped(20));
    EXPECT_FALSE(again.Skipped(19));
    const auto held = again.Read(3);
    ASSERT_TRUE(held);
    StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(again.Append(WireName(codes), kT0 + (20 + k) * utc::kNsPerSecond, kT0 + (21 + k) * utc::kNsPerSecond,
                                 held->bytes.data(), 512).ok());
    Server srv(again);
    Client c(srv.Port());
    const auto got = TakeV3(c, "DATA 000014 2027,01,15,08,00,00", 3);  // next 0x14 = 20, its last record at kT0
    ASSERT_EQ(got.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(got[k], opened->next + k);
    EXPECT_EQ(c.Take(520, 300ms), "");  // and nothing old after them
}

TEST(SeedLink, WebSocketAndHttpShareThePort) {
    Station st;
    st.AddSeconds(2);
    Server srv(st.ring);
    Client h(srv.Port());
    h.Send("GET /streams HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string reply = h.Until("\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_TRUE(h.Closed());
    // An upgrade without its key: HTTP's own refusal, not /id's answer.
    Client nokey(srv.Port());
    nokey.Send("GET /seedlink HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
    EXPECT_EQ(nokey.Until("\r\n\r\n").rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
    EXPECT_TRUE(nokey.Closed());
    // A path of 100 KB, and a head of 100 KB: HTTP's refusals, not
    // SeedLink's or none. (What the client still sends is read before the
    // close, lest the close reset the connection under the answer; Linux
    // delivers the answer before a reset anyway, so that is not seen here.)
    for (const auto& [request, status] :
         {std::pair{"GET /" + std::string(100000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 414 URI Too Long\r\n"},
          std::pair{"GET /id HTTP/1.1\r\nX: " + std::string(100000, 'b') + "\r\n\r\n",
                    "HTTP/1.1 431 Request Header Fields Too Large\r\n"}}) {
        Client big(srv.Port());
        big.Send(request);
        const std::string answer = big.Until("}");
        EXPECT_EQ(answer.rfind(status, 0), 0u) << answer.substr(0, 80);
        EXPECT_NE(answer.find("\"ARGUMENTS\""), std::string::npos) << answer;
        EXPECT_TRUE(big.Closed());
    }

    Client w(srv.Port());
    w.Send("GET /seedlink HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Protocol: SeedLink4.0\r\n"
           "Sec-WebSocket-Version: 13\r\n\r\n");
    const std::string up = w.Until("\r\n\r\n");
    EXPECT_EQ(up.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u);
    EXPECT_NE(up.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);  // RFC 6455's example
    EXPECT_NE(up.find("Sec-WebSocket-Protocol: SeedLink4.0\r\n"), std::string::npos);
    // Each command a masked text frame; answers and packets come as binary messages.
    const auto frame = [](const std::string& text) {
        std::string f;
        f.push_back(static_cast<char>(0x81));
        f.push_back(static_cast<char>(0x80 | text.size()));
        const char mask[4] = {0x11, 0x22, 0x33, 0x44};
        f.append(mask, 4);
        for (std::size_t i = 0; i < text.size(); ++i) f.push_back(static_cast<char>(text[i] ^ mask[i % 4]));
        return f;
    };
    w.Send(frame("SLPROTO 4.0") + frame("STATION *") + frame("DATA ALL\r\n") + frame("ENDFETCH"));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(w.Take(6), std::string("\x82\x04OK\r\n"));
    for (std::uint64_t seq = 0; seq < 4; ++seq) {
        EXPECT_EQ(w.Take(4), std::string("\x82\x7e\x02\x19"));  // binary, 537 bytes
        EXPECT_EQ(Le(w.Take(537), 8, 8), seq);
    }
    EXPECT_EQ(w.Take(5), std::string("\x82\x03" "END"));
}

TEST(SeedLink, HostileAndStalledClientsNeitherCrashTheServerNorHoldUpOthers) {
    Station st(64);  // a small ring, so that a stalled client is passed
    st.AddSeconds(4);
    ServerLimits limits;
    limits.per_address = 10;
    limits.idle_seconds = 1;
    limits.send_buffer_bytes = 4096;  // so that what a client does not read stays in the ring
    Server srv(st.ring, limits);
    // A client that asks for everything and never reads.
    Client stalled(srv.Port());
    stalled.Line("STATION ZQD01 XX");
    stalled.Line("DATA 000000");
    stalled.Line("END");
    // A v4 client that reads slowly enough to be passed by the ring.
    Client slow(srv.Port(), 2048);
    slow.Line("SLPROTO 4.0");
    slow.Line("STATION *");
    slow.Line("DATA ALL");
    slow.Line("END");
    EXPECT_EQ(slow.Until("OK\r\nOK\r\nOK\r\n"), "OK\r\nOK\r\nOK\r\n");
    // Junk: random lines, binary, an overlong line; each answered or dropped, never fatal to others.
    std::mt19937 rng(7);
    for (int k = 0; k < 200; ++k) {
        Client j(srv.Port());
        std::string junk;
        const std::size_t n = rng() % 600;
        for (std::size_t i = 0; i < n; ++i) junk.push_back(static_cast<char>(rng() % 256));
        j.Send(junk + (k % 3 ? "\r\n" : ""));
        if (k % 2) j.Line("HELLO");
    }
    // More connections from one address than allowed: the ones over the limit are closed at once.
    std::vector<std::unique_ptr<Client>> crowd;
    for (int k = 0; k < 12; ++k) crowd.push_back(std::make_unique<Client>(srv.Port()));
    int closed = 0;
    for (auto& c : crowd) closed += c->Closed(300ms) ? 1 : 0;
    EXPECT_GE(closed, 4);  // stalled and slow count against the 10 too
    crowd.clear();
    // Idle in the handshake: closed.
    Client idle(srv.Port());
    EXPECT_TRUE(idle.Closed(3000ms));
    // The records go on; the ring of 64 passes the slow client, who is told and continues from the oldest.
    st.AddSeconds(1000);
    Client fine(srv.Port());
    fine.Line("HELLO");
    EXPECT_EQ(fine.Until("\r\n").rfind("SeedLink v3.1", 0), 0u);
    bool told = false;
    std::uint64_t last = 0;
    for (int k = 0; k < 5000; ++k) {
        const std::string head = slow.Take(17, 2000ms);
        if (head.size() < 17) break;
        const std::string body = slow.Take(Le(head, 4, 4) + static_cast<unsigned char>(head[16]));
        if (head.substr(0, 4) == "SEJE") {
            told = true;
            EXPECT_NE(body.find("passed"), std::string::npos);
        } else {
            EXPECT_TRUE(Le(head, 8, 8) > last || last == 0);
            last = Le(head, 8, 8);
        }
    }
    EXPECT_TRUE(told);
    EXPECT_EQ(last, st.ring.Newest());
}

// A client that asks for everything and never reads: its socket takes
// nothing more once its buffers are full, and after the write timeout it is
// dropped, said with the reason, while a client beside it has every record.
TEST(SeedLink, AClientThatNeverReadsIsDroppedAfterItsTimeoutWhileAnotherKeepsReceiving) {
    Station st;
    st.AddSeconds(2);
    ServerLimits limits;
    limits.write_timeout_seconds = 1;
    limits.send_buffer_bytes = 4096;
    Server srv(st.ring, limits);
    Client stalled(srv.Port(), 2048);
    Client reader(srv.Port());
    for (Client* c : {&stalled, &reader}) {
        c->Line("STATION ZQD01 XX");
        c->Line("DATA 000000");
        c->Line("END");
    }
    EXPECT_EQ(reader.Until("OK\r\nOK\r\n"), "OK\r\nOK\r\n");  // the station's and the data's
    std::uint64_t got = 0, last = 0;
    auto read = [&](std::chrono::milliseconds wait) {
        for (;;) {
            const std::string p = reader.Take(520, wait);
            if (p.size() < 520) return;
            ++got;
            last = std::stoull(p.substr(2, 6), nullptr, 16);
        }
    };
    auto dropped = [&srv] {
        std::lock_guard lock(srv.mutex);
        int n = 0;
        for (const auto& note : srv.log)
            if (note.kind == LiveNote::Kind::kClientEnded && note.end == LiveNote::End::kWriteStalled && note.value == 1) ++n;
        return n;
    };
    st.AddSeconds(300);  // 600 records, far more than the stalled client's buffers hold
    read(200ms);
    // Told by the server, not by reading the stalled socket (which would unstall it).
    for (int k = 0; k < 50 && dropped() == 0; ++k) std::this_thread::sleep_for(100ms);
    EXPECT_EQ(dropped(), 1);
    EXPECT_TRUE(stalled.Closed(2000ms));
    st.AddSeconds(10);
    read(1000ms);
    ASSERT_TRUE(st.ring.Newest());
    EXPECT_EQ(got, *st.ring.Newest() + 1);  // every record, from the first
    EXPECT_EQ(last, *st.ring.Newest());
}

// What the server says of a station of three seconds, as both versions say
// it, and the 3.1 document as the log records that carry it: compared with
// the bytes kept beside the tests, so that any change of what clients parse
// shows as a diff.
TEST(SeedLinkParts, InfoOfAStationIsTheGoldenDocuments) {
    Station st;
    st.AddSeconds(3);
    ServerIdentity id;
    id.version = "test";
    id.description = "Test station";
    id.started_ns = kT0 - 3600 * utc::kNsPerSecond;
    ConnectionSummary c;
    c.address = "192.0.2.7:40000";
    c.user_agent = "slinktool/4.2";
    c.asked = " SELECT GY? DATA";
    c.since_ns = kT0 + 2 * utc::kNsPerSecond;
    c.cursor = 4;
    c.packets = 4;
    c.bytes = 2080;
    c.transfer = true;
    const auto [streams_ok, streams] = XmlInfo(id, st.ring, "STREAMS", {c});
    ASSERT_TRUE(streams_ok);
    EXPECT_TRUE(test::SameAsGolden("seedlink-info-streams.xml", streams));
    const auto [all_ok, all] = XmlInfo(id, st.ring, "ALL", {c});
    ASSERT_TRUE(all_ok);
    std::string framed;
    const auto records = mseed::PackText({"SL", "INFO", "", "INF"}, all, kT0 + 3 * utc::kNsPerSecond);
    ASSERT_GE(records.size(), 2u);  // the document spans records: every one but the last says more follow
    for (std::size_t i = 0; i < records.size(); ++i) framed += (i + 1 < records.size() ? "SLINFO *" : "SLINFO  ") + records[i];
    EXPECT_TRUE(test::SameAsGolden("seedlink-info-all.sl", framed));
    for (const char* item : {"ID", "STREAMS", "CONNECTIONS"}) {
        const auto [ok, json] = JsonInfo(id, st.ring, {item, "", ""}, {c});
        ASSERT_TRUE(ok) << item;
        EXPECT_TRUE(test::SameAsGolden(std::string("seedlink-info-") + item + ".json", json));
    }
}

TEST(SeedLinkParts, PatternsAddressesAndWebSocketFrames) {
    EXPECT_TRUE(Glob("*_B_H_?", "00_B_H_Z"));
    EXPECT_FALSE(Glob("_*Z", "00_B_H_Z"));
    EXPECT_TRUE(Glob("xx_zqd*", "XX_ZQD01"));
    EXPECT_FALSE(Glob("2", "2D"));
    EXPECT_TRUE(Glob("**?*", "a"));
    EXPECT_FALSE(Glob(std::string(200, '*') + "x", std::string(200, 'a')));
    AccessList list;
    list.allow.push_back(*ParseNetwork("10.1.0.0/16"));
    list.allow.push_back(*ParseNetwork("fd00::/8"));
    list.deny.push_back(*ParseNetwork("10.1.2.3"));
    EXPECT_TRUE(list.Admits(*ParseAddress("10.1.200.4")));
    EXPECT_FALSE(list.Admits(*ParseAddress("10.1.2.3")));
    EXPECT_FALSE(list.Admits(*ParseAddress("10.2.0.1")));
    EXPECT_TRUE(list.Admits(*ParseAddress("fd12::1")));
    EXPECT_FALSE(list.Admits(*ParseAddress("::1")));
    for (const char* bad : {"10.1.0.0/33", "300.1.1.1", "1.2.3", "::1::2", "fd00::/129", "1.2.3.4/", "x"})
        EXPECT_FALSE(ParseNetwork(bad)) << bad;
    EXPECT_EQ(ParseListen("18000")->host, "0.0.0.0");
    EXPECT_EQ(ParseListen("[::1]:18001")->port, 18001);
    EXPECT_FALSE(ParseListen("host:70000"));

    EXPECT_EQ(Base64(Sha1("abc")), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
    FrameParser parser(255);
    // A text message in two fragments, masked, with a ping between them.
    const auto masked = [](std::uint8_t b0, const std::string& payload) {
        std::string f{static_cast<char>(b0), static_cast<char>(0x80 | payload.size()), 1, 2, 3, 4};
        for (std::size_t i = 0; i < payload.size(); ++i) f.push_back(static_cast<char>(payload[i] ^ (1 + i % 4)));
        return f;
    };
    const std::string bytes = masked(0x01, "HEL") + masked(0x89, "p") + masked(0x80, "LO");
    std::string_view in = bytes;
    WsOpcode op{};
    std::string message;
    EXPECT_EQ(parser.Feed(in, op, message), FrameParser::Result::kMessage);
    EXPECT_EQ(op, WsOpcode::kPing);
    EXPECT_EQ(message, "p");
    EXPECT_EQ(parser.Feed(in, op, message), FrameParser::Result::kMessage);
    EXPECT_EQ(op, WsOpcode::kText);
    EXPECT_EQ(message, "HELLO");
    std::string unmasked = "\x81\x02OK";
    std::string_view u = unmasked;
    EXPECT_EQ(FrameParser(255).Feed(u, op, message), FrameParser::Result::kBad);
    std::string huge = "\x82\xff\x7f\xff\xff\xff\xff\xff\xff\xff\x01\x02\x03\x04";
    std::string_view hv = huge;
    EXPECT_EQ(FrameParser(255).Feed(hv, op, message), FrameParser::Result::kBad);
}

}  // namespace
}  // namespace zqd::stream
