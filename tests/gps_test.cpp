// The receiver's @@Ha message, every field: a message written out byte by
// byte from the receiver's published layout, decoded field by field.
#include <gtest/gtest.h>

#include "card/sim/sim_card.h"
#include "common/utc.h"
#include "gps/ha_data.h"
#include "gps/ha_stream.h"

namespace zqd::gps {
namespace {

const HaBytes kGolden = {
    '@', '@', 'H', 'a',
    0x0C, 0x08, 0x07, 0xEA,  // month 12, day 8, year 2026
    0x09, 0x0F, 0x2A,  // 09:15:42
    0x00, 0x00, 0x00, 0x00,  // fraction: 0 ns
    0xF8, 0xBC, 0x30, 0xC0,  // latitude -121,884,480 mas (33.8568 S)
    0x20, 0x72, 0x81, 0x28,  // longitude 544,375,080 mas (151.2153 E)
    0x00, 0x00, 0x16, 0xBC,  // height above the ellipsoid 5,820 cm
    0x00, 0x00, 0x0B, 0xC2,  // height above mean sea level 3,010 cm
    0xF8, 0xBC, 0x30, 0xCA,  // unfiltered latitude -121,884,470
    0x20, 0x72, 0x81, 0x37,  // unfiltered longitude 544,375,095
    0x00, 0x00, 0x16, 0xC6, 0x00, 0x00, 0x0B, 0xCC,  // unfiltered heights 5,830 and 3,020 cm
    0x00, 0x0C, 0x00, 0x09,  // 3D speed 12 cm/s, 2D speed 9 cm/s
    0x0A, 0xB9, 0x00, 0x15,  // heading 274.5 degrees, DOP 2.1
    0x09, 0x06,  // 9 satellites visible, 6 tracked
    0x05, 0x08, 0x30, 0x0C, 0x08, 0x82,  // channel 1: SVID 5, mode 8, signal 48, IODE 12, status 0x0882
    0x09, 0x08, 0x2D, 0x21, 0x08, 0x82,  // channel 2: SVID 9, mode 8, signal 45, IODE 33, status 0x0882
    0x0D, 0x08, 0x33, 0x07, 0x08, 0x83,  // channel 3: SVID 13, mode 8, signal 51, IODE 7, status 0x0883
    0x11, 0x08, 0x27, 0x5A, 0x08, 0x81,  // channel 4: SVID 17, mode 8, signal 39, IODE 90, status 0x0881
    0x16, 0x08, 0x2A, 0x65, 0x08, 0x82,  // channel 5: SVID 22, mode 8, signal 42, IODE 101, status 0x0882
    0x1E, 0x08, 0x2C, 0x02, 0x08, 0x82,  // channel 6: SVID 30, mode 8, signal 44, IODE 2, status 0x0882
    0x02, 0x01, 0x00, 0x00, 0x00, 0x00,  // channel 7: SVID 2, mode 1 (code acquire)
    0x07, 0x01, 0x00, 0x00, 0x00, 0x00,  // channel 8: SVID 7, mode 1
    0x0B, 0x01, 0x00, 0x00, 0x00, 0x00,  // channel 9: SVID 11, mode 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // channels 10 to 12: idle
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xC0, 0x02,  // receiver status: 2D fix (110 in bits 15-13), antenna overcurrent (01 in bits 2-1)
    0x00, 0x00,  // reserved
    0xFF, 0x88,  // clock bias -120 ns
    0x00, 0x01, 0xE2, 0x40,  // oscillator offset 123,456 Hz
    0xFF, 0xF1,  // temperature -15 half degrees (-7.5 C)
    0xD2,  // UTC: mode on, offset decoded, 18 s
    0xFF, 0x05, 0x1E,  // GMT offset -05:30
    0x54, 0x45, 0x53, 0x54, 0x30, 0x31,  // ID tag "TEST01"
    0x15,  // checksum: XOR of bytes 2 to 150
    0x0D, 0x0A,  // CR LF
};

TEST(HaMessage, EveryFieldOfAMessageWrittenFromThePublishedLayout) {
    const auto d = Decode(kGolden);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->time_ns, utc::ToNs({2026, 12, 8, 9, 15, 42, 0}));
    EXPECT_EQ(d->position.latitude_mas, -121884480);
    EXPECT_EQ(d->position.longitude_mas, 544375080);
    EXPECT_NEAR(d->position.LatitudeDeg(), -33.8568, 1e-9);
    EXPECT_NEAR(d->position.LongitudeDeg(), 151.2153, 1e-9);
    EXPECT_EQ(d->position.height_gps_cm, 5820);
    EXPECT_EQ(d->position.height_msl_cm, 3010);
    EXPECT_EQ(d->raw.latitude_mas, -121884470);
    EXPECT_EQ(d->raw.longitude_mas, 544375095);
    EXPECT_EQ(d->raw.height_gps_cm, 5830);
    EXPECT_EQ(d->raw.height_msl_cm, 3020);
    EXPECT_EQ(d->speed_3d_cm_s, 12);
    EXPECT_EQ(d->speed_2d_cm_s, 9);
    EXPECT_EQ(d->heading_decideg, 2745);
    EXPECT_EQ(d->dop_tenths, 21);
    EXPECT_EQ(d->visible, 9);
    EXPECT_EQ(d->tracked, 6);
    EXPECT_EQ(d->channels[0].svid, 5);
    EXPECT_EQ(d->channels[0].mode, 8);
    EXPECT_EQ(d->channels[0].signal, 48);
    EXPECT_EQ(d->channels[0].iode, 12);
    EXPECT_EQ(d->channels[0].status, 0x0882);
    EXPECT_TRUE(d->channels[0].UsedForFix());
    EXPECT_EQ(d->channels[3].status, 0x0881);
    EXPECT_EQ(d->channels[5].svid, 30);
    EXPECT_EQ(d->channels[5].iode, 2);
    EXPECT_EQ(d->channels[8].svid, 11);
    EXPECT_EQ(d->channels[8].mode, 1);
    EXPECT_FALSE(d->channels[8].UsedForFix());
    EXPECT_EQ(d->channels[11].svid, 0);
    EXPECT_EQ(d->receiver_status, 0xC002);
    EXPECT_EQ(d->Fix(), HaFixKind::kFix2d);
    EXPECT_EQ(d->FixState(), 1);
    EXPECT_EQ(d->Antenna(), 1);
    EXPECT_EQ(d->clock_bias_ns, -120);
    EXPECT_EQ(d->oscillator_offset_hz, 123456u);
    EXPECT_EQ(d->temperature_half_c, -15);
    EXPECT_DOUBLE_EQ(d->TemperatureC(), -7.5);
    EXPECT_EQ(d->UtcOffset(), 18);
    EXPECT_EQ(d->gmt_sign, 0xFF);
    EXPECT_EQ(d->gmt_hour, 5);
    EXPECT_EQ(d->gmt_minute, 30);
    EXPECT_EQ(d->id, "TEST01");
}

TEST(HaMessage, AMessageThatFailsItsChecksGivesNoFieldsAndIsCounted) {
    HaStreamDecoder decoder;
    EXPECT_TRUE(decoder.Take(kGolden));
    for (const int at : {20, 100, 140}) {  // position, a channel block, the temperature
        HaBytes m = kGolden;
        m[static_cast<std::size_t>(at)] ^= 0x10;
        EXPECT_FALSE(Decode(m)) << at;
        EXPECT_FALSE(decoder.Take(m)) << at;
    }
    HaBytes unframed = kGolden;
    unframed[153] = 0;
    EXPECT_FALSE(Decode(unframed));
    EXPECT_FALSE(decoder.Take(unframed));
    EXPECT_EQ(decoder.Counters().good, 1u);
    EXPECT_EQ(decoder.Counters().bad_checksum, 3u);
    EXPECT_EQ(decoder.Counters().bad_frame, 1u);
    // Fix states by the status bits; a receiver that decoded no UTC offset has none.
    HaData d;
    for (const auto& [bits, state] : {std::pair{0xE000, 2}, {0x8000, 2}, {0xC000, 1}, {0xA000, 1}, {0x6000, 0}, {0x4000, 0}}) {
        d.receiver_status = static_cast<std::uint16_t>(bits);
        EXPECT_EQ(d.FixState(), state) << bits;
    }
    d.utc = 0x80 | 18;
    EXPECT_FALSE(d.UtcOffset());
    d.utc = 0x40 | 0x3E;  // six bits, signed: -2
    EXPECT_EQ(d.UtcOffset(), -2);
}

TEST(HaMessage, TheSimulatedReceiverSpeaksTheSameLayout) {
    const auto d = Decode(sim::HaMessage(utc::ToNs({2008, 5, 12, 17, 38, 40, 0})));
    ASSERT_TRUE(d);
    EXPECT_NEAR(d->position.LatitudeDeg(), 30.52, 1e-9);
    EXPECT_NEAR(d->position.LongitudeDeg(), 114.36, 1e-9);
    EXPECT_EQ(d->position.height_msl_cm, 2350);
    EXPECT_EQ(d->tracked, 7);
    EXPECT_EQ(d->visible, 8);
    EXPECT_EQ(d->Fix(), HaFixKind::kFix3d);
    EXPECT_EQ(d->UtcOffset(), 18);
    EXPECT_EQ(d->id, "ZQDSIM");
    int used = 0;
    for (const auto& c : d->channels) used += c.UsedForFix();
    EXPECT_EQ(used, 7);
}

}  // namespace
}  // namespace zqd::gps
