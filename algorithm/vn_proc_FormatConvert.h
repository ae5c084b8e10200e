#ifndef VN_PROC_FORMATCONVERT_H
#define VN_PROC_FORMATCONVERT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mathlib_array.h"

// Big-endian field decoding and encoding, and the MIL-STD-1750A decoders.
// `ptr` points at the field's first (most significant) byte; the buffer must
// hold the whole field. Each function touches exactly the field's width.
//
// They run for every field of every packet and record, so the scalar ones
// are defined here, where every caller's compiler can inline them.

namespace formatconvert_detail {

inline uint16_t byteswap(uint16_t w) { return __builtin_bswap16(w); }
inline uint32_t byteswap(uint32_t w) { return __builtin_bswap32(w); }
inline uint64_t byteswap(uint64_t w) { return __builtin_bswap64(w); }

// One word of the width of `Word`, its bytes reversed: one load, one
// byte-swap instruction and one store.
template <class Word>
inline void swapword(void* t, const void* s)
{
    Word w;
    std::memcpy(&w, s, sizeof w);
    w = byteswap(w);
    std::memcpy(t, &w, sizeof w);
}

// Copies siz bytes from s to t in reverse order: the one place where byte
// order is turned around.
inline void swap(void* t, const void* s, size_t siz)
{
    switch (siz) {
    case 2: return swapword<uint16_t>(t, s);
    case 4: return swapword<uint32_t>(t, s);
    case 8: return swapword<uint64_t>(t, s);
    default: {
        unsigned char* to = static_cast<unsigned char*>(t);
        const unsigned char* from = static_cast<const unsigned char*>(s);
        for (size_t k = 0; k < siz; ++k) to[k] = from[siz - 1 - k];
    }
    }
}

// A big-endian field of the width of `T` as a `T`, and back.
template <class T>
inline T load(const char* ptr)
{
    T v;
    swap(&v, ptr, sizeof v);
    return v;
}

template <class T>
inline void store(T v, char* ptr)
{
    swap(ptr, &v, sizeof v);
}

} // namespace formatconvert_detail

inline int FormatConvert_schar(const char* ptr)
{
    int8_t v;
    std::memcpy(&v, ptr, 1);
    return v;
}

inline unsigned short FormatConvert_ushort2(const char* ptr) { return formatconvert_detail::load<uint16_t>(ptr); }
inline short FormatConvert_short2(const char* ptr) { return formatconvert_detail::load<int16_t>(ptr); }

// a high byte, b low byte
inline short FormatConvert_short2(char a, char b)
{
    const char bytes[2] = {a, b};
    return FormatConvert_short2(bytes);
}

inline uint32_t FormatConvert_ulong4(const char* ptr) { return formatconvert_detail::load<uint32_t>(ptr); }
inline int32_t FormatConvert_long4(const char* ptr) { return formatconvert_detail::load<int32_t>(ptr); }
inline float FormatConvert_float4(const char* ptr) { return formatconvert_detail::load<float>(ptr); }
inline double FormatConvert_float8(const char* ptr) { return formatconvert_detail::load<double>(ptr); }

inline void FormatConvert_short2(short int v, char* ptr) { formatconvert_detail::store<int16_t>(v, ptr); }
// low 32 bits, unsigned
inline void FormatConvert_long4(size_t v, char* ptr)
{
    formatconvert_detail::store(static_cast<uint32_t>(v), ptr);
}
inline void FormatConvert_float4(float v, char* ptr) { formatconvert_detail::store(v, ptr); }
inline void FormatConvert_float8(double v, char* ptr) { formatconvert_detail::store(v, ptr); }

// Runs of consecutive fields of one kind: each value in turn, 8 or 4 bytes
// apart.
inline void FormatConvert_float8(carray& values, char* ptr)
{
    // (The values are read through a pointer taken once: stores through a
    // char pointer could otherwise be any memory, the vector's own included.)
    const double* v = values.data();
    const size_t count = values.size();
    for (size_t k = 0; k < count; ++k) FormatConvert_float8(v[k], ptr + 8 * k);
}
array FormatConvert_float8(const char* ptr, size_t count);
std::vector<float> FormatConvert_float4(const char* ptr, size_t count);

// MIL-STD-1750A 48-bit extended precision (6 bytes): a 40-bit two's-
// complement mantissa, a fraction with the binary point after its sign bit,
// stored as its upper 24 bits (bytes 0-2), then an 8-bit two's-complement
// exponent (byte 3), then the mantissa's lower 16 bits (bytes 4-5). The value
// is the mantissa times 2^exponent, that is the 40-bit integer M times
// 2^(exponent - 39). Every bit pattern decodes exactly: M converts to a
// double without rounding, and 2^(exponent - 39), from 2^-167 to 2^88, is a
// normal double built from its bits, so the product is exact too (the same
// value as scaling the magnitude's two halves and negating, without a
// branch or a library call).
inline double MiL1750_EPFP(const char* ptr)
{
    // Bytes 0-3 as one big-endian word: the mantissa's upper 24 bits over
    // the exponent byte; a signed shift keeps the mantissa's sign.
    const uint32_t word = FormatConvert_ulong4(ptr);
    const int64_t upper = static_cast<int32_t>(word) >> 8;
    const int64_t mantissa = upper * 65536 + FormatConvert_ushort2(ptr + 4);
    const int exponent = static_cast<int8_t>(word & 0xFF);
    const uint64_t scaleBits = static_cast<uint64_t>(exponent - 39 + 1023) << 52;
    double scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return static_cast<double>(mantissa) * scale;
}

// MIL-STD-1750A 32-bit single precision (4 bytes): a 24-bit mantissa and the
// exponent, decoded as the extended form whose lower mantissa bytes are 0.
inline double MiL1750_FP(const char* ptr)
{
    const char buf[6] = {ptr[0], ptr[1], ptr[2], ptr[3], 0, 0};
    return MiL1750_EPFP(buf);
}

#endif
