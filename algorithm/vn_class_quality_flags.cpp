#include "vn_class_quality_flags.h"

quality_flags& quality_flags::clear()
{
    qualityflags.reset();
    return *this;
}

quality_flags& quality_flags::setGapRepaired()
{
    qualityflags.set(repBit);
    return *this;
}

quality_flags& quality_flags::setLargeGapBefore()
{
    qualityflags.set(lgbBit);
    return *this;
}

quality_flags& quality_flags::setSmallGapBefore()
{
    qualityflags.set(sgbBit);
    return *this;
}

quality_flags& quality_flags::setSmallGapFollows()
{
    qualityflags.set(sgfBit);
    return *this;
}

quality_flags& quality_flags::setLargeGapFollows()
{
    qualityflags.set(lgfBit);
    return *this;
}

std::ostream& operator<<(std::ostream& os, quality_flags flags)
{
    const std::bitset<16> bits = flags.getqualityflags();
    os << "sgf(8)=" << bits[quality_flags::sgfBit] << "  sgb(7)=" << bits[quality_flags::sgbBit]
       << "  lgf(9)=" << bits[quality_flags::lgfBit] << "  lgb(6)=" << bits[quality_flags::lgbBit]
       << "  rep(5)=" << bits[quality_flags::repBit];
    return os;
}
