#ifndef VN_CLASS_EXTTROKPACKET_H
#define VN_CLASS_EXTTROKPACKET_H

#include <ostream>

#include "vn_class_quality_flags.h"
#include "vn_class_trokpacket.h"

// A telemetry packet together with its quality flags: the element of the
// repair window. A default one is a zero packet with all flags clear.
class exttrokpacket : public trokpacket, public quality_flags
{
public:
    exttrokpacket() {}
    exttrokpacket(const exttrokpacket&) = default;
    exttrokpacket& operator=(const exttrokpacket&) = default;
    virtual ~exttrokpacket() {}
};

// The flags, one blank, then the packet's printed form.
std::ostream& operator<<(std::ostream& os, const exttrokpacket& pkt);

#endif
