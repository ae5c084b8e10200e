#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "vn_proc_FormatConvert.h"

namespace {
// Bytes as the spacecraft or the file holds them, most significant first.
template <size_t N>
struct Bytes {
    char b[N];
    Bytes(std::initializer_list<int> v)
    {
        size_t k = 0;
        for (int x : v) b[k++] = static_cast<char>(x);
    }
};
} // namespace

TEST(FormatConvert, SignedAndUnsignedIntegers)
{
    Bytes<2> fffe{0xFF, 0xFE};
    EXPECT_EQ(FormatConvert_short2(fffe.b), -2);
    EXPECT_EQ(FormatConvert_ushort2(fffe.b), 65534);
    Bytes<4> min32{0x80, 0, 0, 0};
    EXPECT_EQ(FormatConvert_long4(min32.b), INT32_MIN);
    EXPECT_EQ(FormatConvert_ulong4(min32.b), 2147483648u);
    EXPECT_EQ(FormatConvert_short2(static_cast<char>(0x07), static_cast<char>(0xBD)), 1981);
    Bytes<1> m1{0xFF};
    EXPECT_EQ(FormatConvert_schar(m1.b), -1);
}

TEST(FormatConvert, EncodersWriteExactlyTheirWidthAndRoundTrip)
{
    char buf[10];
    std::memset(buf, 0x55, sizeof buf);
    FormatConvert_float8(-999.999999, buf + 1);
    EXPECT_EQ(buf[0], 0x55);
    EXPECT_EQ(buf[9], 0x55);
    const unsigned char want[8] = {0xC0, 0x8F, 0x3F, 0xFF, 0xFF, 0x79, 0xC8, 0x43};
    EXPECT_EQ(std::memcmp(buf + 1, want, 8), 0);
    EXPECT_EQ(FormatConvert_float8(buf + 1), -999.999999);

    FormatConvert_float4(1.0f, buf);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0x3F);
    EXPECT_EQ(static_cast<unsigned char>(buf[1]), 0x80);
    EXPECT_EQ(FormatConvert_float4(buf), 1.0f);

    FormatConvert_long4(size_t(0xDEADBEEF), buf);
    EXPECT_EQ(FormatConvert_ulong4(buf), 0xDEADBEEFu);


    FormatConvert_short2(short(-12345), buf);
    EXPECT_EQ(FormatConvert_short2(buf), -12345);
}

TEST(MiL1750, ExtendedPrecisionExamples)
{
    Bytes<6> one{0x40, 0, 0, 0x01, 0, 0};
    Bytes<6> minusOne{0xC0, 0, 0, 0x01, 0, 0};
    Bytes<6> minusOneNorm{0x80, 0, 0, 0, 0, 0};
    Bytes<6> zero{0, 0, 0, 0, 0, 0};
    EXPECT_EQ(MiL1750_EPFP(one.b), 1.0);
    EXPECT_EQ(MiL1750_EPFP(minusOne.b), -1.0);
    EXPECT_EQ(MiL1750_EPFP(minusOneNorm.b), -1.0);
    EXPECT_EQ(MiL1750_EPFP(zero.b), 0.0);
    // Negative mantissa with a non-zero low part: -(2^-1 + 2^-39) * 2^0,
    // mantissa bits 0xBFFFFF:FFFF.
    Bytes<6> negLow{0xBF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(MiL1750_EPFP(negLow.b), -(0.5 + std::ldexp(1.0, -39)));
}

TEST(MiL1750, SinglePrecisionExponentExtremes)
{
    Bytes<4> big{0x40, 0, 0, 0x7F};
    Bytes<4> small{0x40, 0, 0, 0x80};
    EXPECT_EQ(MiL1750_FP(big.b), std::ldexp(1.0, 126));
    EXPECT_EQ(MiL1750_FP(small.b), std::ldexp(1.0, -129));
}

TEST(FormatConvert, EveryEncoderRoundTripsThroughItsDecoder)
{
    char buf[8];
    for (short v : {short(0), short(1), short(-1), short(32767), short(-32768)}) {
        FormatConvert_short2(v, buf);
        EXPECT_EQ(FormatConvert_short2(buf), v);
    }
    FormatConvert_short2(short(-32768), buf);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0x80);
    EXPECT_EQ(buf[1], 0);

    for (size_t v : {size_t(0), size_t(1), size_t(0x80000000u), size_t(0xFFFFFFFFu)}) {
        FormatConvert_long4(v, buf);
        EXPECT_EQ(FormatConvert_ulong4(buf), v);
    }
    FormatConvert_long4(size_t(0x01020304), buf);
    EXPECT_EQ(std::memcmp(buf, "\x01\x02\x03\x04", 4), 0);

    const float floats[] = {0.0f, -0.0f, 1.5f, -3.25e-20f, 1.0e-45f /* denormal */,
                            3.4028235e38f, -std::numeric_limits<float>::infinity()};
    for (float v : floats) {
        FormatConvert_float4(v, buf);
        const float back = FormatConvert_float4(buf);
        EXPECT_EQ(std::memcmp(&back, &v, 4), 0) << v;
    }
    const double doubles[] = {0.0, -0.0, 2436204.5, -1.0e-300, 4.9e-324 /* denormal */,
                              1.7976931348623157e308, std::numeric_limits<double>::infinity()};
    for (double v : doubles) {
        FormatConvert_float8(v, buf);
        const double back = FormatConvert_float8(buf);
        EXPECT_EQ(std::memcmp(&back, &v, 8), 0) << v;
    }
    // -0.0 keeps its sign bit, which comes first in the field.
    FormatConvert_float8(-0.0, buf);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0x80);
}

// Examples of the 32-bit format as tabulated for MIL-STD-1750A.
TEST(MiL1750, SinglePrecisionPublishedExamples)
{
    struct Case {
        Bytes<4> bytes;
        double value;
    };
    const Case cases[] = {
        {{0x7F, 0xFF, 0xFF, 0x7F}, (1.0 - std::ldexp(1.0, -23)) * std::ldexp(1.0, 127)},
        {{0x40, 0x00, 0x00, 0x7F}, 0.5 * std::ldexp(1.0, 127)},
        {{0x50, 0x00, 0x00, 0x04}, 10.0},
        {{0x40, 0x00, 0x00, 0x01}, 1.0},
        {{0x40, 0x00, 0x00, 0x00}, 0.5},
        {{0x40, 0x00, 0x00, 0xFF}, 0.25},
        {{0x40, 0x00, 0x00, 0x80}, 0.5 * std::ldexp(1.0, -128)},
        {{0x00, 0x00, 0x00, 0x00}, 0.0},
        {{0x80, 0x00, 0x00, 0x00}, -1.0},
        {{0xBF, 0xFF, 0xFF, 0x80}, -(0.5 + std::ldexp(1.0, -23)) * std::ldexp(1.0, -128)},
        {{0x9F, 0xFF, 0xFF, 0x04}, -(0.75 + std::ldexp(1.0, -23)) * 16.0},
        {{0x80, 0x00, 0x00, 0x7F}, -std::ldexp(1.0, 127)},
        {{0xA0, 0x00, 0x00, 0xFF}, -0.375},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MiL1750_FP(c.bytes.b), c.value);
    }
}

TEST(MiL1750, ExtendedPrecisionBothSignsAndExponentExtremes)
{
    const double top = (1.0 - std::ldexp(1.0, -39)) * std::ldexp(1.0, 127);
    Bytes<6> largest{0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF};
    Bytes<6> mostNegative{0x80, 0x00, 0x00, 0x7F, 0x00, 0x00};
    Bytes<6> smallest{0x40, 0x00, 0x00, 0x80, 0x00, 0x00};
    Bytes<6> smallestNeg{0x80, 0x00, 0x00, 0x80, 0x00, 0x00};
    Bytes<6> lowestBit{0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    Bytes<6> minusLowestBit{0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(MiL1750_EPFP(largest.b), top);
    EXPECT_EQ(MiL1750_EPFP(mostNegative.b), -std::ldexp(1.0, 127));
    EXPECT_EQ(MiL1750_EPFP(smallest.b), std::ldexp(1.0, -129));
    EXPECT_EQ(MiL1750_EPFP(smallestNeg.b), -std::ldexp(1.0, -128));
    EXPECT_EQ(MiL1750_EPFP(lowestBit.b), std::ldexp(1.0, -39));
    EXPECT_EQ(MiL1750_EPFP(minusLowestBit.b), -std::ldexp(1.0, -39));
    // The low 16 bits carry weight only in the extended form: pi to 39 bits.
    Bytes<6> pi{0x64, 0x87, 0xED, 0x02, 0x51, 0x11};
    EXPECT_EQ(MiL1750_EPFP(pi.b), 0x6487ED5111LL * std::ldexp(1.0, -37));
    EXPECT_NEAR(MiL1750_EPFP(pi.b), 3.14159265358979, 1e-11);
    // The single-precision form ignores whatever would follow its 4 bytes.
    Bytes<6> fpThenJunk{0x64, 0x87, 0xED, 0x02, 0x7F, 0x7F};
    EXPECT_EQ(MiL1750_FP(fpThenJunk.b), 0x6487ED * std::ldexp(1.0, -21));
}

// Every exponent byte scales the mantissa by exactly its power of two: the
// value is the 40-bit two's-complement mantissa (an integer) times
// 2^(exponent - 39), for positive and negative mantissas, with and without
// low bits.
TEST(MiL1750, EveryExponentScalesExactly)
{
    const long long mantissas[] = {0x4000000000LL, 0x7FFFFFFFFFLL, 0x6487ED5111LL, 1, 0x0000010000LL,
                                   -0x8000000000LL, -0x4000000001LL, -1, -0x6487ED5111LL};
    int checked = 0;
    for (long long m : mantissas) {
        const unsigned long long bits = static_cast<unsigned long long>(m) & 0xFFFFFFFFFFULL;
        for (int e = -128; e <= 127; ++e) {
            const char b[6] = {static_cast<char>(bits >> 32), static_cast<char>(bits >> 24),
                               static_cast<char>(bits >> 16), static_cast<char>(e),
                               static_cast<char>(bits >> 8), static_cast<char>(bits)};
            const double expected = std::ldexp(static_cast<double>(m), e - 39);
            ASSERT_EQ(MiL1750_EPFP(b), expected) << std::hex << m << std::dec << " e=" << e;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 9 * 256);
}
