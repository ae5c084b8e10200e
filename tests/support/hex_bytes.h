#ifndef TESTS_HEX_BYTES_H
#define TESTS_HEX_BYTES_H

#include <cstdio>
#include <string>

// "3F 80 00 00": n bytes from p as upper-case hex pairs separated by blanks.
inline std::string HexBytes(const char* p, size_t n)
{
    std::string text;
    char pair[4];
    for (size_t k = 0; k < n; ++k) {
        std::snprintf(pair, sizeof pair, k ? " %02X" : "%02X", static_cast<unsigned char>(p[k]));
        text += pair;
    }
    return text;
}
inline std::string HexBytes(const std::string& s, size_t offset, size_t n) { return HexBytes(s.data() + offset, n); }

// The `N` bytes that a field encoder of the products or the packets writes
// for `v` (encode(v, buffer)).
template <size_t N, class T, class Encoder>
std::string EncodedBytes(Encoder encode, T v)
{
    char b[N];
    encode(v, b);
    return std::string(b, N);
}

#endif
