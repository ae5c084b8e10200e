#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "hex_bytes.h"
#include "toolkit/packets/mil1750.h"
#include "toolkit/packets/packetbuilder.h"
#include "vn_proc_FormatConvert.h"

using namespace toolkit;

namespace {

std::string EP(double v) { return EncodedBytes<6>(Mil1750EncodeEP, v); }

std::string FP(double v) { return EncodedBytes<4>(Mil1750EncodeFP, v); }

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

} // namespace

TEST(Mil1750Encode, KnownBitPatternsNormalisedNegativesAndCarries)
{
    EXPECT_EQ(Hex(FP(10.0)), "50 00 00 04");
    EXPECT_EQ(Hex(FP(1.0)), "40 00 00 01");
    EXPECT_EQ(Hex(FP(0.25)), "40 00 00 FF");
    EXPECT_EQ(Hex(FP(-1.0)), "80 00 00 00");
    EXPECT_EQ(Hex(FP(-0.375)), "A0 00 00 FF");
    EXPECT_EQ(Hex(EP(1.0)), "40 00 00 01 00 00");
    // 1/3 = 2/3 * 2^-1; 2/3 to 39 fraction bits is 0x5555555555.
    EXPECT_EQ(Hex(EP(1.0 / 3.0)), "55 55 55 FF 55 55");
    EXPECT_EQ(Hex(EP(-1.0 / 3.0)), "AA AA AA FF AA AB");
    // -0.5 is written as -1.0 * 2^-1, with the bit after the sign clear.
    EXPECT_EQ(Hex(EP(-0.5)), "80 00 00 FF 00 00");
    EXPECT_EQ(Hex(FP(-4.0)), "80 00 00 02");
    // Just below 1.0, beyond the last mantissa bit: rounds up to 0.5 * 2^1.
    EXPECT_EQ(Hex(EP(1.0 - std::ldexp(1.0, -45))), "40 00 00 01 00 00");
    EXPECT_EQ(Hex(FP(1.0 - std::ldexp(1.0, -30))), "40 00 00 01");
    // Just beyond -0.5: rounds to -0.5, which becomes -1.0 * 2^-1.
    EXPECT_EQ(Hex(EP(-0.5 - std::ldexp(1.0, -46))), "80 00 00 FF 00 00");
}

TEST(Mil1750Encode, ZeroNanAndExponentRangeLimits)
{
    EXPECT_EQ(Hex(EP(0.0)), "00 00 00 00 00 00");
    EXPECT_EQ(Hex(EP(-0.0)), "00 00 00 00 00 00");
    EXPECT_EQ(Hex(EP(std::numeric_limits<double>::quiet_NaN())), "00 00 00 00 00 00");
    // Largest magnitudes: clamped beyond them.
    EXPECT_EQ(Hex(EP(1e300)), "7F FF FF 7F FF FF");
    EXPECT_EQ(Hex(EP(std::numeric_limits<double>::infinity())), "7F FF FF 7F FF FF");
    EXPECT_EQ(Hex(EP(-1e300)), "80 00 00 7F 00 00");
    EXPECT_EQ(Hex(FP(1e300)), "7F FF FF 7F");
    EXPECT_EQ(Hex(EP(-std::ldexp(1.0, 127))), "80 00 00 7F 00 00");
    // Smallest normalised magnitudes, then below them.
    EXPECT_EQ(Hex(EP(std::ldexp(1.0, -129))), "40 00 00 80 00 00");
    EXPECT_EQ(Hex(EP(-std::ldexp(1.0, -128))), "80 00 00 80 00 00");
    EXPECT_EQ(Hex(EP(std::ldexp(1.0, -130))), "20 00 00 80 00 00");
    EXPECT_EQ(Hex(EP(std::ldexp(1.0, -167))), "00 00 00 80 00 01");
    EXPECT_EQ(Hex(EP(std::ldexp(1.0, -170))), "00 00 00 00 00 00");
    EXPECT_EQ(Hex(FP(-std::ldexp(1.0, -151))), "FF FF FF 80");
}

TEST(Mil1750Encode, RoundTripsExactlyWhenRepresentable)
{
    const double values[] = {1.0, -1.0, 0.5, -0.75, 6378137.0, -7500.25, 0.70703125,
                             std::ldexp(1.0, 126), -std::ldexp(0.75, -120),
                             0x6487ED5111LL * std::ldexp(1.0, -37)};
    for (double v : values) {
        const std::string ep = EP(v);
        EXPECT_EQ(MiL1750_EPFP(ep.data()), v) << v;
    }
    const double singles[] = {1.0, -1.0, 3.0, -0.125, 8388607.0, -8388608.0, std::ldexp(1.0, -129)};
    for (double v : singles) {
        const std::string fp = FP(v);
        EXPECT_EQ(MiL1750_FP(fp.data()), v) << v;
    }
}

TEST(Mil1750Encode, NearestValueWithinHalfTheLastMantissaBit)
{
    std::mt19937_64 gen(20261208);
    std::uniform_real_distribution<double> mant(-1.0, 1.0);
    std::uniform_int_distribution<int> expo(-120, 120);
    for (int k = 0; k < 2000; ++k) {
        const double v = std::ldexp(mant(gen), expo(gen));
        if (v == 0.0) continue;
        const std::string ep = EP(v);
        const std::string fp = FP(v);
        EXPECT_LE(std::fabs(MiL1750_EPFP(ep.data()) - v), std::fabs(v) * std::ldexp(1.0, -39)) << v;
        EXPECT_LE(std::fabs(MiL1750_FP(fp.data()) - v), std::fabs(v) * std::ldexp(1.0, -23)) << v;
        // Normalised: the bit after the sign differs from the sign.
        const unsigned char b0 = static_cast<unsigned char>(ep[0]);
        EXPECT_NE(b0 >> 7, (b0 >> 6) & 1) << v;
    }
}

TEST(PacketBuilder, TelemetryPacketLayout)
{
    TelemetrySample s;
    s.coarse = 0x01020304;
    s.fine = 0xA0B0;
    s.pos[0] = 1.0;
    s.rates[2] = -1.0;
    const std::string pkt = TelemetryPacket(s, 126, 957, 0x1234);
    ASSERT_EQ(pkt.size(), 126u);
    // Version 0, secondary header flag, APID 0x3BD; unsegmented, count
    // 0x1234; length field 119.
    EXPECT_EQ(Hex(pkt.substr(0, 6)), "0B BD D2 34 00 77");
    EXPECT_EQ(Hex(pkt.substr(8, 6)), "01 02 03 04 A0 B0");
    EXPECT_EQ(Hex(pkt.substr(14, 6)), "40 00 00 01 00 00");
    EXPECT_EQ(Hex(pkt.substr(82, 4)), "80 00 00 00");
    EXPECT_EQ(pkt.substr(86), std::string(40, '\0'));

    HeaderOverrides bad;
    bad.version = 1;
    bad.lengthField = 0x7FFF;
    EXPECT_EQ(Hex(TelemetryPacket(s, 214, 967, 16383, bad).substr(0, 6)), "2B C7 FF FF 7F FF");
}
