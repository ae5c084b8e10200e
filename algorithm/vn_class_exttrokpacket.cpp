#include "vn_class_exttrokpacket.h"

std::ostream& operator<<(std::ostream& os, const exttrokpacket& pkt)
{
    os << static_cast<const quality_flags&>(pkt) << ' ' << static_cast<const trokpacket&>(pkt);
    return os;
}
