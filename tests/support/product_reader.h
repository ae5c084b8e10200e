#ifndef TESTS_PRODUCT_READER_H
#define TESTS_PRODUCT_READER_H

#include <cstdint>
#include <cstring>
#include <string>

// Big-endian field reads straight from product bytes, independent of the
// library's own record classes.
inline uint32_t BeU32(const std::string& b, size_t off)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(b.data()) + off;
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline double BeF64(const std::string& b, size_t off)
{
    uint64_t u = 0;
    for (size_t k = 0; k < 8; ++k) u = (u << 8) | static_cast<unsigned char>(b[off + k]);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

inline float BeF32(const std::string& b, size_t off)
{
    uint32_t u = BeU32(b, off);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// Offsets of the product layout.
constexpr size_t kHeaderBytes = 512;
constexpr size_t kRecordBytes = 64;
constexpr size_t kMetaBytes = 32;

#endif
