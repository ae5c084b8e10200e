#ifndef VN_CLASS_QUALITY_FLAGS_H
#define VN_CLASS_QUALITY_FLAGS_H

#include <bitset>
#include <cstdint>
#include <ostream>

// The quality flags of one output point, a set of 16 bits of which five are
// used: 5 interpolated point in a gap, 6 large gap before, 7 small gap before,
// 8 small gap follows, 9 large gap follows. Stored in the records as the
// unsigned integer whose bit k is flag k.
class quality_flags
{
public:
    // Bit numbers of the five flags, named as the printed form names them.
    static constexpr unsigned repBit = 5;   // interpolated point in a gap
    static constexpr unsigned lgbBit = 6;   // large gap before
    static constexpr unsigned sgbBit = 7;   // small gap before
    static constexpr unsigned sgfBit = 8;   // small gap follows
    static constexpr unsigned lgfBit = 9;   // large gap follows
    // The same flags as masks of the stored unsigned integer, and all five.
    static constexpr uint32_t rep = 1u << repBit;
    static constexpr uint32_t lgb = 1u << lgbBit;
    static constexpr uint32_t sgb = 1u << sgbBit;
    static constexpr uint32_t sgf = 1u << sgfBit;
    static constexpr uint32_t lgf = 1u << lgfBit;
    static constexpr uint32_t known = rep | lgb | sgb | sgf | lgf;

    quality_flags() {}
    virtual ~quality_flags() {}

    quality_flags& clear()
    {
        qualityflags.reset();
        return *this;
    }
    quality_flags& setGapRepaired() { return set(repBit); }      // bit 5
    quality_flags& setLargeGapBefore() { return set(lgbBit); }   // bit 6
    quality_flags& setSmallGapBefore() { return set(sgbBit); }   // bit 7
    quality_flags& setSmallGapFollows() { return set(sgfBit); }  // bit 8
    quality_flags& setLargeGapFollows() { return set(lgfBit); }  // bit 9

    std::bitset<16> getqualityflags() const { return qualityflags; }

private:
    quality_flags& set(unsigned bit)
    {
        qualityflags.set(bit);
        return *this;
    }

    std::bitset<16> qualityflags;
};

// "sgf(8)=b  sgb(7)=b  lgf(9)=b  lgb(6)=b  rep(5)=b", each bit as a truth value;
// no line end.
std::ostream& operator<<(std::ostream& os, quality_flags flags);

#endif
