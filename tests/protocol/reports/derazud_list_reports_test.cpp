// Data tag, positions, time-of-arrival, RDOA and TWR records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "derazud_codec_test_support.h"
#include "protocol/reports/derazud_data_tag.h"
#include "protocol/reports/derazud_pos3.h"
#include "protocol/reports/derazud_pos3_rpt.h"
#include "protocol/reports/derazud_rdoa.h"
#include "protocol/reports/derazud_rdoa_rpt.h"
#include "protocol/reports/derazud_toa.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "protocol/reports/derazud_twr.h"

namespace {

using derazud_test::Bytes;
using derazud_test::ExactCopy;
using derazud_test::ExpectEveryTruncationRefused;
using derazud_test::ExpectListTruncationsLeaveRecordClean;
using derazud_test::FromHex;
using derazud_test::GuardedBuffer;

// ---- data tag ----

TEST(DerAzudDataTag, LengthTravelsBeforeType) {
    const derazud_data_tag_t tag{0x0100, 0x0020};
    GuardedBuffer out(4);
    EXPECT_EQ(DerAzudDataTag_ToBuff(out.data(), out.size(), &tag), 4);
    EXPECT_EQ(out.Contents(), FromHex("0020 0100"));
    EXPECT_TRUE(out.GuardIntact());
    derazud_data_tag_t decoded{};
    EXPECT_EQ(DerAzudDataTag_FromBuff(&decoded, out.data(), 4), 4);
    EXPECT_EQ(decoded.type, 0x0100);
    EXPECT_EQ(decoded.length, 0x0020);
}

TEST(DerAzudDataTag, ShortBufferRefusedBothWays) {
    ExpectEveryTruncationRefused(FromHex("00200100"), [](const uint8_t* buffer, int length) {
        derazud_data_tag_t tag{};
        return DerAzudDataTag_FromBuff(&tag, buffer, length);
    });
    const derazud_data_tag_t tag{1, 2};
    GuardedBuffer out(3);
    EXPECT_EQ(DerAzudDataTag_ToBuff(out.data(), out.size(), &tag), -1);
    EXPECT_TRUE(out.Untouched());
}

// ---- positions ----

derazud_pos3_t SamplePosition() {
    derazud_pos3_t pos{};
    pos.data_tag = {0x0100, 32};
    pos.serial_number = 0x0100002A;
    pos.x = 1.2345f;
    pos.y = -2.5f;
    pos.z = 0.75f;
    pos.quality = -1.0f;
    pos.smoothing_count = 3;
    pos.sequence = 0xBEEF;
    pos.network_time = 0x01020304;
    pos.creation_time = 1234567;
    return pos;
}

TEST(DerAzudPos3, WireLayoutInMillimetres) {
    const derazud_pos3_t pos = SamplePosition();
    GuardedBuffer out(kDerAzudPos3Size);
    EXPECT_EQ(DerAzudPos3_ToBuff(out.data(), &pos), 32);
    EXPECT_TRUE(out.GuardIntact());
    // 1.2345 m truncates to 1234 mm; -2.5 m is -2500 mm; -1.0f as its bits.
    EXPECT_EQ(out.Contents(),
              FromHex("0020 0100 0100002A 000004D2 FFFFF63C 000002EE BF800000 0003 BEEF 01020304"));
}

TEST(DerAzudPos3, DecodesMillimetresToMetres) {
    const Bytes wire = FromHex("0020 0100 0100002A 000004D2 FFFFF63C 000002EE C0800000 0001 0002 00000003");
    derazud_pos3_t pos;
    std::memset(&pos, 0x5A, sizeof(pos));
    EXPECT_EQ(DerAzudPos3_FromBuff(&pos, ExactCopy(wire, wire.size()).data()), 32);
    EXPECT_EQ(pos.data_tag.type, 0x0100);
    EXPECT_EQ(pos.data_tag.length, 32);
    EXPECT_EQ(pos.serial_number, 0x0100002Au);
    EXPECT_FLOAT_EQ(pos.x, 1.234f);
    EXPECT_FLOAT_EQ(pos.y, -2.5f);
    EXPECT_FLOAT_EQ(pos.z, 0.75f);
    EXPECT_EQ(pos.quality, -4.0f);
    EXPECT_EQ(pos.smoothing_count, 1);
    EXPECT_EQ(pos.sequence, 2);
    EXPECT_EQ(pos.network_time, 3u);
    EXPECT_EQ(pos.creation_time, 0);
}

TEST(DerAzudPos3, OutOfRangeCoordinatesAreHeldToTheI32Range) {
    derazud_pos3_t pos = SamplePosition();
    pos.x = 1e10f;
    pos.y = -1e10f;
    pos.z = std::nanf("");
    uint8_t out[kDerAzudPos3Size];
    DerAzudPos3_ToBuff(out, &pos);
    derazud_pos3_t decoded{};
    DerAzudPos3_FromBuff(&decoded, out);
    EXPECT_FLOAT_EQ(decoded.x, static_cast<float>(INT32_MAX / 1000.0));
    EXPECT_FLOAT_EQ(decoded.y, static_cast<float>(INT32_MIN / 1000.0));
    EXPECT_EQ(decoded.z, 0.0f);
}

// The millimetres x is written as.
int32_t EncodedX(float x) {
    derazud_pos3_t pos = SamplePosition();
    pos.x = x;
    uint8_t out[kDerAzudPos3Size];
    DerAzudPos3_ToBuff(out, &pos);
    return static_cast<int32_t>((static_cast<uint32_t>(out[8]) << 24) |
                                (static_cast<uint32_t>(out[9]) << 16) |
                                (static_cast<uint32_t>(out[10]) << 8) | out[11]);
}

float DecodedX(int32_t millimetres) {
    Bytes wire = FromHex("0020 0100 0100002A 00000000 00000000 00000000 BF800000 0000 0000 00000000");
    const auto bits = static_cast<uint32_t>(millimetres);
    for (int i = 0; i < 4; ++i) {
        wire[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (24 - 8 * i));
    }
    derazud_pos3_t pos{};
    DerAzudPos3_FromBuff(&pos, wire.data());
    return pos.x;
}

// Up to 16384 m a float still tells whole millimetres apart.
constexpr int32_t kExactMillimetres = 16384000;

TEST(DerAzudPos3, WholeMillimetresSurviveADecodeEncodeCycle) {
    // 1234 mm decodes to 1.2339999f, which truncation alone turns into 1233.
    EXPECT_EQ(EncodedX(DecodedX(1234)), 1234);
    EXPECT_EQ(EncodedX(DecodedX(-1234)), -1234);
    for (int32_t millimetres = -100000; millimetres <= 100000; ++millimetres) {
        ASSERT_EQ(EncodedX(DecodedX(millimetres)), millimetres);
    }
    for (int32_t millimetres :
         {kExactMillimetres, -kExactMillimetres, kExactMillimetres - 1, 9999999, -8388607}) {
        EXPECT_EQ(EncodedX(DecodedX(millimetres)), millimetres);
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> within(-kExactMillimetres, kExactMillimetres);
    for (int i = 0; i < 200000; ++i) {
        const int32_t millimetres = within(random);
        ASSERT_EQ(EncodedX(DecodedX(millimetres)), millimetres);
    }
}

TEST(DerAzudPos3, CoarserCoordinatesComeBackAsTheSameFloat) {
    // Past 16384 m neighbouring millimetres share a float: whichever of them
    // is written decodes to that float again.
    std::mt19937 random(11);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    for (int i = 0; i < 200000; ++i) {
        const float x = DecodedX(any(random));
        ASSERT_EQ(DecodedX(EncodedX(x)), x);
    }
    for (int32_t millimetres : {INT32_MAX, INT32_MIN, kExactMillimetres + 1, -kExactMillimetres - 1}) {
        const float x = DecodedX(millimetres);
        EXPECT_EQ(DecodedX(EncodedX(x)), x) << millimetres;
    }
}

TEST(DerAzudPos3, OtherCoordinatesAreTruncatedTowardZero) {
    EXPECT_EQ(EncodedX(1.2345f), 1234);
    EXPECT_EQ(EncodedX(-1.2345f), -1234);
    EXPECT_EQ(EncodedX(1.2349f), 1234);
    EXPECT_EQ(EncodedX(-0.0009f), 0);
    // 62.5 mm exactly: the float of neither 62 nor 63 mm.
    EXPECT_EQ(EncodedX(0.0625f), 62);
    EXPECT_EQ(EncodedX(-0.0625f), -62);
    EXPECT_FLOAT_EQ(DecodedX(EncodedX(1.2345f)), 1.234f);
}

derazud_pos3_rpt_t SamplePositionReport(derazud_pos3_t* positions, int16_t count) {
    derazud_pos3_rpt_t report{};
    report.creation_time = 0x1122334455667788ull;
    report.sequence = 0x99AA;
    report.count = count;
    report.positions = positions;
    return report;
}

TEST(DerAzudPos3Rpt, RoundTripsTwoPositions) {
    derazud_pos3_t positions[2] = {SamplePosition(), SamplePosition()};
    positions[1].serial_number = 7;
    positions[1].x = -0.5f;
    const derazud_pos3_rpt_t report = SamplePositionReport(positions, 2);
    ASSERT_EQ(DerAzudPos3Rpt_EncodedSize(&report), 12 + 64);
    GuardedBuffer out(76);
    EXPECT_EQ(DerAzudPos3Rpt_ToBuff(out.data(), &report), 76);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(Bytes(out.data(), out.data() + 12), FromHex("1122334455667788 99AA 0002"));

    derazud_pos3_rpt_t decoded{};
    const Bytes wire = out.Contents();
    ExactCopy copy(wire, wire.size());
    ASSERT_EQ(DerAzudPos3Rpt_FromBuff(&decoded, copy.data(), copy.length()), 76);
    EXPECT_EQ(decoded.creation_time, report.creation_time);
    EXPECT_EQ(decoded.sequence, report.sequence);
    ASSERT_EQ(decoded.count, 2);
    ASSERT_NE(decoded.positions, nullptr);
    EXPECT_EQ(decoded.positions[1].serial_number, 7u);
    EXPECT_FLOAT_EQ(decoded.positions[1].x, -0.5f);
    DerAzudPos3Rpt_Cleanup(&decoded);
    EXPECT_EQ(decoded.positions, nullptr);
    EXPECT_EQ(decoded.count, 0);

    ExpectListTruncationsLeaveRecordClean(wire, DerAzudPos3Rpt_FromBuff, &derazud_pos3_rpt_t::positions,
                                          &derazud_pos3_rpt_t::count);
}

// ---- time-of-arrival ----

derazud_toa_t SampleToa(uint64_t serial_number) {
    derazud_toa_t toa{};
    toa.anchor_serial_number = serial_number;
    toa.anchor_network_id = 0x0203;
    toa.toa = 0xFEDCBA9876LL;
    toa.first_path_power = -81.25;
    toa.total_power = -77.5;
    return toa;
}

TEST(DerAzudToa, WireLayout) {
    const derazud_toa_t toa = SampleToa(0x0100002A);
    GuardedBuffer out(kDerAzudToaSize);
    EXPECT_EQ(DerAzudToa_ToBuff(out.data(), &toa), 34);
    EXPECT_TRUE(out.GuardIntact());
    uint64_t first_path_bits;
    std::memcpy(&first_path_bits, &toa.first_path_power, 8);
    Bytes expected = FromHex("000000000100002A 0203 000000FEDCBA9876");
    for (int shift = 56; shift >= 0; shift -= 8) {
        expected.push_back(static_cast<uint8_t>(first_path_bits >> shift));
    }
    EXPECT_EQ(Bytes(out.data(), out.data() + 26), expected);
    derazud_toa_t decoded{};
    EXPECT_EQ(DerAzudToa_FromBuff(&decoded, out.data()), 34);
    EXPECT_EQ(decoded.anchor_serial_number, toa.anchor_serial_number);
    EXPECT_EQ(decoded.anchor_network_id, toa.anchor_network_id);
    EXPECT_EQ(decoded.toa, toa.toa);
    EXPECT_EQ(decoded.first_path_power, toa.first_path_power);
    EXPECT_EQ(decoded.total_power, toa.total_power);
}

derazud_toa_rpt_t SampleToaReport(derazud_toa_t* toas, int16_t count) {
    derazud_toa_rpt_t report{};
    report.creation_time = 1700000000123ull;
    report.serial_number = 0x01000007;
    report.network_id = 0x0042;
    report.count = count;
    report.sequence = 0x1234;
    report.toas = toas;
    return report;
}

TEST(DerAzudToaRpt, EmptyReportTakesTwentyTwoBytes) {
    const derazud_toa_rpt_t report = SampleToaReport(nullptr, 0);
    EXPECT_EQ(DerAzudToaRpt_EncodedSize(&report), 22);
    GuardedBuffer out(22);
    EXPECT_EQ(DerAzudToaRpt_ToBuff(out.data(), &report), 22);
    EXPECT_TRUE(out.GuardIntact());
    derazud_toa_rpt_t decoded{};
    EXPECT_EQ(DerAzudToaRpt_FromBuff(&decoded, out.data(), 22), 22);
    EXPECT_EQ(decoded.count, 0);
    EXPECT_EQ(decoded.toas, nullptr);
    EXPECT_EQ(decoded.sequence, 0x1234);
    EXPECT_EQ(decoded.network_id, 0x0042);
    EXPECT_EQ(decoded.serial_number, 0x01000007u);
    EXPECT_EQ(decoded.creation_time, 1700000000123ull);
    DerAzudToaRpt_Cleanup(&decoded);
}

TEST(DerAzudToaRpt, HeadLayout) {
    const derazud_toa_rpt_t report = SampleToaReport(nullptr, 0);
    uint8_t out[22];
    DerAzudToaRpt_ToBuff(out, &report);
    // 1700000000123 = 0x18BCFE5687B
    EXPECT_EQ(Bytes(out, out + 22), FromHex("0000018BCFE5687B 0000000001000007 0042 0000 1234"));
}

TEST(DerAzudToaRpt, TwoEntriesTakeNinetyBytesAndRoundTrip) {
    derazud_toa_t toas[2] = {SampleToa(11), SampleToa(22)};
    toas[1].toa = -5;
    const derazud_toa_rpt_t report = SampleToaReport(toas, 2);
    ASSERT_EQ(DerAzudToaRpt_EncodedSize(&report), 90);
    GuardedBuffer out(90);
    EXPECT_EQ(DerAzudToaRpt_ToBuff(out.data(), &report), 90);
    EXPECT_TRUE(out.GuardIntact());
    const Bytes wire = out.Contents();
    derazud_toa_rpt_t decoded{};
    ExactCopy copy(wire, wire.size());
    ASSERT_EQ(DerAzudToaRpt_FromBuff(&decoded, copy.data(), copy.length()), 90);
    ASSERT_EQ(decoded.count, 2);
    EXPECT_EQ(decoded.toas[0].anchor_serial_number, 11u);
    EXPECT_EQ(decoded.toas[1].anchor_serial_number, 22u);
    EXPECT_EQ(decoded.toas[1].toa, -5);
    EXPECT_EQ(decoded.toas[1].total_power, -77.5);
    DerAzudToaRpt_Cleanup(&decoded);
    EXPECT_EQ(decoded.toas, nullptr);

    ExpectListTruncationsLeaveRecordClean(wire, DerAzudToaRpt_FromBuff, &derazud_toa_rpt_t::toas,
                                          &derazud_toa_rpt_t::count);
}

TEST(DerAzudToaRpt, CountLargerThanTheBufferIsRefusedWithoutAllocating) {
    Bytes wire = FromHex("0000000000000001 0000000000000002 0003 7FFF 0004");
    wire.resize(22 + 34, 0);
    derazud_toa_rpt_t decoded{};
    ExactCopy copy(wire, wire.size());
    EXPECT_EQ(DerAzudToaRpt_FromBuff(&decoded, copy.data(), copy.length()), -1);
    EXPECT_EQ(decoded.count, 0);
    EXPECT_EQ(decoded.toas, nullptr);
}

TEST(DerAzudToaRpt, NegativeCountMeansNoEntries) {
    const Bytes wire = FromHex("0000000000000001 0000000000000002 0003 FFFE 0004");
    derazud_toa_rpt_t decoded{};
    EXPECT_EQ(DerAzudToaRpt_FromBuff(&decoded, wire.data(), 22), 22);
    EXPECT_EQ(decoded.count, -2);
    EXPECT_EQ(decoded.toas, nullptr);
    EXPECT_EQ(DerAzudToaRpt_EncodedSize(&decoded), 22);
    DerAzudToaRpt_Cleanup(&decoded);
}

TEST(DerAzudToaRpt, PositiveCountWithoutArrayEncodesAsEmpty) {
    const derazud_toa_rpt_t report = SampleToaReport(nullptr, 5);
    EXPECT_EQ(DerAzudToaRpt_EncodedSize(&report), 22);
    GuardedBuffer out(22);
    EXPECT_EQ(DerAzudToaRpt_ToBuff(out.data(), &report), 22);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.data()[18], 0);
    EXPECT_EQ(out.data()[19], 0);
}

TEST(DerAzudToaRpt, TrailingBytesAreNotConsumed) {
    derazud_toa_t toa = SampleToa(1);
    const derazud_toa_rpt_t report = SampleToaReport(&toa, 1);
    Bytes wire(56 + 10, 0xEE);
    ASSERT_EQ(DerAzudToaRpt_ToBuff(wire.data(), &report), 56);
    derazud_toa_rpt_t decoded{};
    EXPECT_EQ(DerAzudToaRpt_FromBuff(&decoded, wire.data(), static_cast<int>(wire.size())), 56);
    DerAzudToaRpt_Cleanup(&decoded);
}

// ---- RDOA ----

TEST(DerAzudRdoaRpt, RoundTripsWithExactLayout) {
    derazud_rdoa_t rdoa{0x0102030405060708ull, 0x090A, 0x0B0C0D0E0F101112ull, 0x1314, 0x15161718};
    derazud_rdoa_rpt_t report{};
    report.creation_time = 1;
    report.serial_number = 2;
    report.network_id = 3;
    report.count = 1;
    report.rdoas = &rdoa;
    ASSERT_EQ(DerAzudRdoaRpt_EncodedSize(&report), 44);
    GuardedBuffer out(44);
    EXPECT_EQ(DerAzudRdoaRpt_ToBuff(out.data(), &report), 44);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("0000000000000001 0000000000000002 0003 0001"
                                      "0102030405060708 090A 0B0C0D0E0F101112 1314 15161718"));
    const Bytes wire = out.Contents();
    derazud_rdoa_rpt_t decoded{};
    ASSERT_EQ(DerAzudRdoaRpt_FromBuff(&decoded, wire.data(), 44), 44);
    ASSERT_EQ(decoded.count, 1);
    EXPECT_EQ(decoded.rdoas[0].reference_serial_number, rdoa.reference_serial_number);
    EXPECT_EQ(decoded.rdoas[0].rdoa, rdoa.rdoa);
    DerAzudRdoaRpt_Cleanup(&decoded);
    ExpectListTruncationsLeaveRecordClean(wire, DerAzudRdoaRpt_FromBuff, &derazud_rdoa_rpt_t::rdoas,
                                          &derazud_rdoa_rpt_t::count);
}

// ---- TWR ----

TEST(DerAzudTwr, WireLayout) {
    const derazud_twr_t twr{0x0102030405060708ull, 0x1112131415161718ull, 0x21222324, 0x31323334, 0x41424344};
    GuardedBuffer out(kDerAzudTwrSize);
    EXPECT_EQ(DerAzudTwr_ToBuff(out.data(), &twr), 28);
    EXPECT_TRUE(out.GuardIntact());
    EXPECT_EQ(out.Contents(), FromHex("0102030405060708 1112131415161718 21222324 31323334 41424344"));
    derazud_twr_t decoded{};
    EXPECT_EQ(DerAzudTwr_FromBuff(&decoded, out.data()), 28);
    EXPECT_EQ(decoded.responder_serial_number, twr.responder_serial_number);
    EXPECT_EQ(decoded.network_time, twr.network_time);
}

}  // namespace
