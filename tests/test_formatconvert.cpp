#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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
