#include "vn_proc_FormatConvert.h"

#include <cmath>
#include <cstring>

namespace {

// Copies siz bytes from s to t in reverse order: the one place where byte
// order is turned around. The widths in use (2, 4, 8) are one load, one
// byte-swap instruction and one store.
inline void swap(void* t, const void* s, size_t siz)
{
    switch (siz) {
    case 2: {
        uint16_t w;
        std::memcpy(&w, s, 2);
        w = __builtin_bswap16(w);
        std::memcpy(t, &w, 2);
        return;
    }
    case 4: {
        uint32_t w;
        std::memcpy(&w, s, 4);
        w = __builtin_bswap32(w);
        std::memcpy(t, &w, 4);
        return;
    }
    case 8: {
        uint64_t w;
        std::memcpy(&w, s, 8);
        w = __builtin_bswap64(w);
        std::memcpy(t, &w, 8);
        return;
    }
    default: {
        unsigned char* to = static_cast<unsigned char*>(t);
        const unsigned char* from = static_cast<const unsigned char*>(s);
        for (size_t k = 0; k < siz; ++k) to[k] = from[siz - 1 - k];
    }
    }
}

} // namespace

int FormatConvert_schar(const char* ptr)
{
    int8_t v;
    std::memcpy(&v, ptr, 1);
    return v;
}

unsigned short FormatConvert_ushort2(const char* ptr)
{
    uint16_t v;
    swap(&v, ptr, 2);
    return v;
}

short FormatConvert_short2(const char* ptr)
{
    int16_t v;
    swap(&v, ptr, 2);
    return v;
}

short FormatConvert_short2(char a, char b)
{
    const char bytes[2] = {a, b};
    return FormatConvert_short2(bytes);
}

uint32_t FormatConvert_ulong4(const char* ptr)
{
    uint32_t v;
    swap(&v, ptr, 4);
    return v;
}

int32_t FormatConvert_long4(const char* ptr)
{
    int32_t v;
    swap(&v, ptr, 4);
    return v;
}

float FormatConvert_float4(const char* ptr)
{
    float v;
    swap(&v, ptr, 4);
    return v;
}

double FormatConvert_float8(const char* ptr)
{
    double v;
    swap(&v, ptr, 8);
    return v;
}

void FormatConvert_short2(short int v, char* ptr)
{
    int16_t w = v;
    swap(ptr, &w, 2);
}

void FormatConvert_long4(size_t v, char* ptr)
{
    uint32_t w = static_cast<uint32_t>(v);
    swap(ptr, &w, 4);
}

void FormatConvert_float4(float v, char* ptr) { swap(ptr, &v, 4); }

void FormatConvert_float8(double v, char* ptr) { swap(ptr, &v, 8); }

void FormatConvert_float8(carray& values, char* ptr)
{
    for (size_t k = 0; k < values.size(); ++k) FormatConvert_float8(values[k], ptr + 8 * k);
}

array FormatConvert_float8(const char* ptr, size_t count)
{
    array values(count);
    for (size_t k = 0; k < count; ++k) values[k] = FormatConvert_float8(ptr + 8 * k);
    return values;
}

std::vector<float> FormatConvert_float4(const char* ptr, size_t count)
{
    std::vector<float> values(count);
    for (size_t k = 0; k < count; ++k) values[k] = FormatConvert_float4(ptr + 4 * k);
    return values;
}

double MiL1750_EPFP(const char* ptr)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(ptr);
    // Upper 24 bits of the 40-bit two's-complement mantissa, sign-extended.
    int32_t m1 = (int32_t(b[0]) << 16) | (int32_t(b[1]) << 8) | int32_t(b[2]);
    if (m1 & 0x800000) m1 -= 0x1000000;
    const int exp = FormatConvert_schar(ptr + 3);
    int32_t m2 = FormatConvert_ushort2(ptr + 4);

    const bool minusFlag = m1 < 0;
    if (minusFlag) {
        // Two's-complement negation of the whole 40-bit mantissa.
        m1 = (m2 != 0) ? -m1 - 1 : -m1;
        m2 = (65536 - m2) % 65536;
    }
    const double upper = m1 * 1.1920928955078125e-07;  // 2^-23
    const double lower = m2 * 1.8189894035458565e-12;  // 2^-39
    // Scaling by 2^exp: the exponent is -128 to 127 and the mantissa sum is
    // 0 or at least 2^-39, so no result is subnormal or overflows and the
    // multiplication by the power of two (built from its bits) is exact, the
    // same value ldexp would give, without the library call.
    const uint64_t scaleBits = static_cast<uint64_t>(exp + 1023) << 52;
    double scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    const double value = (upper + lower) * scale;
    return minusFlag ? -value : value;
}

double MiL1750_FP(const char* ptr)
{
    char buf[6] = {ptr[0], ptr[1], ptr[2], ptr[3], 0, 0};
    return MiL1750_EPFP(buf);
}
