#include "vn_class_quality_flags.h"

quality_flags& quality_flags::clear()
{
    qualityflags.reset();
    return *this;
}

quality_flags& quality_flags::setGapRepaired()
{
    qualityflags.set(5);
    return *this;
}

quality_flags& quality_flags::setLargeGapBefore()
{
    qualityflags.set(6);
    return *this;
}

quality_flags& quality_flags::setSmallGapBefore()
{
    qualityflags.set(7);
    return *this;
}

quality_flags& quality_flags::setSmallGapFollows()
{
    qualityflags.set(8);
    return *this;
}

quality_flags& quality_flags::setLargeGapFollows()
{
    qualityflags.set(9);
    return *this;
}

std::ostream& operator<<(std::ostream& os, quality_flags flags)
{
    const std::bitset<16> bits = flags.getqualityflags();
    os << "sgf(8)=" << bits[8] << "  sgb(7)=" << bits[7] << "  lgf(9)=" << bits[9]
       << "  lgb(6)=" << bits[6] << "  rep(5)=" << bits[5];
    return os;
}
