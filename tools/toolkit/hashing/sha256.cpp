#include "toolkit/hashing/sha256.h"

#include <cstring>
#include <unistd.h>

#include "platform/file_reading.h"
#include "platform/input_file.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define TOOLKIT_SHA_NI 1
#endif

namespace toolkit {

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void PortableBlock(uint32_t state[8], const unsigned char* p)
{
    uint32_t w[64];
    for (int t = 0; t < 16; ++t)
        w[t] = uint32_t(p[4 * t]) << 24 | uint32_t(p[4 * t + 1]) << 16 | uint32_t(p[4 * t + 2]) << 8 |
               uint32_t(p[4 * t + 3]);
    for (int t = 16; t < 64; ++t) {
        const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                            kRound[t] + w[t];
        const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#ifdef TOOLKIT_SHA_NI
// The blocks through the SHA extensions: the state kept as ABEF and CDGH,
// four rounds per step (two sha256rnds2), the message schedule by
// sha256msg1 and sha256msg2 four words at a time.
__attribute__((target("sha,sse4.1,ssse3")))
void ExtensionBlocks(uint32_t state[8], const unsigned char* data, size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);   // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);        // CDGH
    for (; count > 0; --count, data += 64) {
        const __m128i abef = state0, cdgh = state1;
        __m128i w[4];
        for (int g = 0; g < 16; ++g) {
            __m128i& cur = w[g % 4];
            if (g < 4) cur = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), byteSwap);
            __m128i msg = _mm_add_epi32(cur, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * g])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            if (g >= 3 && g <= 14) {
                __m128i& next = w[(g + 1) % 4];
                next = _mm_add_epi32(next, _mm_alignr_epi8(cur, w[(g + 3) % 4], 4));
                next = _mm_sha256msg2_epu32(next, cur);
            }
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
            if (g >= 1 && g <= 12) {
                __m128i& prev = w[(g + 3) % 4];
                prev = _mm_sha256msg1_epu32(prev, cur);
            }
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);           // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);        // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);     // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);        // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}
#endif

} // namespace

bool Sha256HasExtensions()
{
#ifdef TOOLKIT_SHA_NI
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        const bool sse = (c & bit_SSSE3) && (c & bit_SSE4_1);
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
        return sse && (b & (1u << 29)) != 0;   // SHA
    }();
    return has;
#else
    return false;
#endif
}

Sha256::Sha256(bool useExtensions)
    : extensions(useExtensions && Sha256HasExtensions()),
      state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

void Sha256::Blocks(const unsigned char* data, size_t count)
{
#ifdef TOOLKIT_SHA_NI
    if (extensions) {
        ExtensionBlocks(state, data, count);
        return;
    }
#endif
    for (; count > 0; --count, data += 64) PortableBlock(state, data);
}

void Sha256::Update(const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    totalBytes += size;
    if (buffered > 0) {
        const size_t take = size < 64 - buffered ? size : 64 - buffered;
        std::memcpy(buffer + buffered, p, take);
        buffered += take;
        p += take;
        size -= take;
        if (buffered < 64) return;
        Blocks(buffer, 1);
        buffered = 0;
    }
    Blocks(p, size / 64);
    p += size / 64 * 64;
    size %= 64;
    std::memcpy(buffer, p, size);
    buffered = size;
}

std::string Sha256::HexDigest()
{
    // Padding: a one bit, zeros up to 56 bytes in the last block, then the
    // message length in bits, big-endian.
    const uint64_t bits = totalBytes * 8;
    unsigned char pad[72] = {0x80};
    const size_t padLength = (buffered < 56 ? 56 : 120) - buffered;
    for (int i = 0; i < 8; ++i) pad[padLength + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Update(pad, padLength + 8);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(word >> shift) & 15];
    return hex;
}

std::string Sha256Hex(const std::string& text)
{
    Sha256 h;
    h.Update(text);
    return h.HexDigest();
}

bool Sha256Descriptor(int fd, std::string& hex, uint64_t& size, std::string& error)
{
    Sha256 h;
    size = 0;
    auto take = [&](const char* bytes, size_t n) {
        h.Update(bytes, n);
        size += static_cast<uint64_t>(n);
    };
    if (!platform::ReadDescriptor(fd, 1 << 20, take, error)) return false;
    hex = h.HexDigest();
    return true;
}

bool Sha256File(const std::string& path, std::string& hex, uint64_t& size, std::string& error)
{
    const int fd = platform::OpenInput(path, error);
    if (fd < 0) return false;
    const bool ok = Sha256Descriptor(fd, hex, size, error);
    close(fd);
    return ok;
}

} // namespace toolkit
