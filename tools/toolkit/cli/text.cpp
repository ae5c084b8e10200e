#include "toolkit/cli/text.h"

#include <cassert>
#include <cmath>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace toolkit {

namespace {

// AppendFixed for the usual case, exactly: a finite v is m 2^-k with m an
// integer below 2^53, so v 10^decimals = m 10^decimals / 2^k, which fits
// 128 bits for up to 17 decimals. Its quotient, rounded half to even on the
// exact remainder, holds the digits printf prints. False, with nothing
// written, for values it does not cover: not finite, 2^53 or more, more
// than 17 decimals, or digits beyond 64 bits.
bool AppendFixedExact(std::string& out, double v, int decimals)
{
    static const uint64_t kPow10[18] = {1ULL,
                                        10ULL,
                                        100ULL,
                                        1000ULL,
                                        10000ULL,
                                        100000ULL,
                                        1000000ULL,
                                        10000000ULL,
                                        100000000ULL,
                                        1000000000ULL,
                                        10000000000ULL,
                                        100000000000ULL,
                                        1000000000000ULL,
                                        10000000000000ULL,
                                        100000000000000ULL,
                                        1000000000000000ULL,
                                        10000000000000000ULL,
                                        100000000000000000ULL};
    if (decimals > 17) return false;
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    if (exponent == 0x7FF) return false;
    uint64_t m = bits & ((1ULL << 52) - 1);
    int k = 1074;   // subnormal: m 2^-1074
    if (exponent != 0) {
        m |= 1ULL << 52;
        k = 1075 - exponent;
    }
    if (k < 0) return false;
    using u128 = unsigned __int128;
    const u128 n = static_cast<u128>(m) * kPow10[decimals];
    u128 q = 0;
    if (k == 0) {
        q = n;
    } else if (k < 128) {
        q = n >> k;
        const u128 rest = n - (q << k), half = static_cast<u128>(1) << (k - 1);
        if (rest > half || (rest == half && (q & 1))) ++q;
    }   // else n < 2^110 is below half of 2^k: q stays 0
    if (q >> 64) return false;
    const uint64_t digits = static_cast<uint64_t>(q);
    // Digits from the right: the decimals, the point, at least one before it.
    char buf[48];
    char* at = buf + sizeof buf;
    if (decimals > 0) {
        at = DigitsBefore(at, digits % kPow10[decimals], decimals);
        *--at = '.';
    }
    at = DigitsBefore(at, digits / kPow10[decimals], 1);
    if (bits >> 63) *--at = '-';
    out.append(at, static_cast<size_t>(buf + sizeof buf - at));
    return true;
}

// Length of the well-formed UTF-8 sequence that starts at text[i] (1 to 4),
// or 0 when the byte there starts none: a stray continuation byte, an
// overlong form, a surrogate, a code point beyond U+10FFFF or a sequence cut
// short.
size_t Utf8Length(const std::string& text, size_t i)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) return 1;
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;   // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;   // not overlong
        if (c == 0xED) hi = 0x9F;   // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;   // not overlong
        if (c == 0xF4) hi = 0x8F;   // nothing beyond U+10FFFF
    } else {
        return 0;   // a continuation byte, an overlong lead (C0, C1) or F5 to FF
    }
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char b = static_cast<unsigned char>(text[i + k]);
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
    }
    return n;
}

} // namespace

char* DigitsBefore(char* end, unsigned long long v, int minDigits)
{
    // Two digits a step: "00" to "99".
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* at = end;
    while (v >= 100) {
        at -= 2;
        std::memcpy(at, kPairs + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10) {
        at -= 2;
        std::memcpy(at, kPairs + 2 * v, 2);
    } else {
        *--at = static_cast<char>('0' + v);
    }
    while (end - at < minDigits) *--at = '0';
    return at;
}

void AppendFixed(std::string& out, double v, int decimals)
{
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    if (AppendFixedExact(out, v, decimals)) return;
    // Room for the longest: a sign, the largest double's 309 digits, the
    // point and 30 decimals.
    char buf[360];
    const std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    assert(r.ec == std::errc());
    out.append(buf, static_cast<size_t>(r.ptr - buf));
}

std::string FixedText(double v, int decimals)
{
    std::string s;
    AppendFixed(s, v, decimals);
    return s;
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    char buf[8];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            // A byte that is no part of UTF-8 text, as the lone surrogate
            // U+DC80 + (byte - 0x80): Python's "surrogateescape" turns it
            // back into the byte.
            std::snprintf(buf, sizeof buf, "\\udc%02x", c);
            out += buf;
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + "\"";
}

void AppendJsonNumber(std::string& out, double v)
{
    if (std::isnan(v)) out += "\"nan\"";
    else if (std::isinf(v)) out += v > 0 ? "\"inf\"" : "\"-inf\"";
    else {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        out += buf;
    }
}

std::string HtmlText(const std::string& text)
{
    std::string h;
    for (char c : text) {
        switch (c) {
        case '&': h += "&amp;"; break;
        case '<': h += "&lt;"; break;
        case '>': h += "&gt;"; break;
        case '"': h += "&quot;"; break;
        case '\'': h += "&#39;"; break;
        default: h += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return h;
}

std::string TerminalText(const std::string& text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string t;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // C1 controls: 0xc2 then 0x80 to 0x9f.
        const bool c1 = c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (c1) {
            const unsigned char d = static_cast<unsigned char>(text[++i]);
            t += std::string("\\xc2\\x") + kDigits[d >> 4] + kDigits[d & 15];
        } else if ((c < 0x20 && c != '\n') || c == 0x7f) {
            t += std::string("\\x") + kDigits[c >> 4] + kDigits[c & 15];
        } else if (c == '\\') {
            t += "\\\\";
        } else {
            t += static_cast<char>(c);
        }
    }
    return t;
}

std::string Base64(const std::string& bytes)
{
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += abc[v >> 18];
        out += abc[(v >> 12) & 63];
        out += abc[(v >> 6) & 63];
        out += abc[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += abc[v >> 18];
        out += abc[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? abc[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace toolkit
