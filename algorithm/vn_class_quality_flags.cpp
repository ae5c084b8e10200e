#include "vn_class_quality_flags.h"

std::ostream& operator<<(std::ostream& os, quality_flags flags)
{
    const std::bitset<16> bits = flags.getqualityflags();
    os << "sgf(8)=" << bits[quality_flags::sgfBit] << "  sgb(7)=" << bits[quality_flags::sgbBit]
       << "  lgf(9)=" << bits[quality_flags::lgfBit] << "  lgb(6)=" << bits[quality_flags::lgbBit]
       << "  rep(5)=" << bits[quality_flags::repBit];
    return os;
}
