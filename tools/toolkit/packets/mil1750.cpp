#include "toolkit/packets/mil1750.h"

#include <cmath>
#include <cstdint>

namespace toolkit {

namespace {

// Finds a two's-complement mantissa (fractionBits bits after the sign bit)
// and an exponent in [-128, 127] with mantissa * 2^-fractionBits * 2^exp
// nearest to value.
void Split(double value, int fractionBits, int64_t& mantissa, int& exponent)
{
    const int64_t one = int64_t(1) << fractionBits;  // the mantissa 1.0, not representable
    const int64_t half = one / 2;
    mantissa = 0;
    exponent = 0;
    if (std::isnan(value) || value == 0.0) return;
    if (std::isinf(value)) {
        mantissa = value > 0 ? one - 1 : -one;
        exponent = 127;
        return;
    }
    int e = 0;
    const double f = std::frexp(value, &e);  // |f| in [0.5, 1)
    int64_t m = std::llround(std::ldexp(f, fractionBits));
    if (m == one) {        // rounded up to 1.0: 0.5 with the next exponent
        m = half;
        ++e;
    } else if (m == -half) {  // -0.5 is normalised as -1.0 with the exponent below
        m = -one;
        --e;
    }
    if (e > 127) {
        mantissa = value > 0 ? one - 1 : -one;
        exponent = 127;
        return;
    }
    if (e < -128) {
        // Below the normalised range: the nearest mantissa at exponent -128.
        m = std::llround(std::ldexp(value, fractionBits + 128));
        e = m == 0 ? 0 : -128;
    }
    mantissa = m;
    exponent = e;
}

} // namespace

void Mil1750EncodeEP(double value, char* out)
{
    int64_t m = 0;
    int e = 0;
    Split(value, 39, m, e);
    const uint64_t bits = static_cast<uint64_t>(m) & 0xFFFFFFFFFFull;  // 40 bits
    out[0] = static_cast<char>(bits >> 32);
    out[1] = static_cast<char>(bits >> 24);
    out[2] = static_cast<char>(bits >> 16);
    out[3] = static_cast<char>(e & 0xFF);
    out[4] = static_cast<char>(bits >> 8);
    out[5] = static_cast<char>(bits);
}

void Mil1750EncodeFP(double value, char* out)
{
    int64_t m = 0;
    int e = 0;
    Split(value, 23, m, e);
    const uint64_t bits = static_cast<uint64_t>(m) & 0xFFFFFFull;  // 24 bits
    out[0] = static_cast<char>(bits >> 16);
    out[1] = static_cast<char>(bits >> 8);
    out[2] = static_cast<char>(bits);
    out[3] = static_cast<char>(e & 0xFF);
}

} // namespace toolkit
