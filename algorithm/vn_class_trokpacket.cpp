#include "vn_class_trokpacket.h"

#include <ios>

#include "vn_proc_FormatConvert.h"
#include "vn_proc_PacketRules.h"

size_t trokpacket::pktsize = 126;
size_t trokpacket::apid = 957;

namespace {

// Byte offsets of the decoded fields.
const size_t coarseOffset = 8;
const size_t fineOffset = 12;
const size_t extendedOffset = 14;  // ten 6-byte values
const size_t singleOffset = 74;    // three 4-byte values
const size_t decodedEnd = 86;

} // namespace

trokpacket::trokpacket() : packet(pktsize), p(13, 0.0), time(0.0)
{
}

trokpacket::~trokpacket() = default;

std::istream& trokpacket::ReadPkt(std::istream& is)
{
    packet::ReadPkt(is);
    Decode();
    return is;
}

void trokpacket::Decode()
{
    // A buffer too short for the fields (only possible if pktsize was set
    // below their end) is left undecoded rather than read past its end.
    if (DataSize() < decodedEnd) return;
    const char* b = DataPtr();
    double* values = p.data();
    time = PacketTimeTag(b);
#pragma GCC unroll 10
    for (size_t i = 0; i < 10; ++i) values[i] = MiL1750_EPFP(b + extendedOffset + 6 * i);
#pragma GCC unroll 3
    for (size_t i = 0; i < 3; ++i) values[10 + i] = MiL1750_FP(b + singleOffset + 4 * i);
}

size_t trokpacket::CoarseTime() const
{
    if (DataSize() < coarseOffset + 4) return 0;
    return FormatConvert_ulong4(DataPtr() + coarseOffset);
}

size_t trokpacket::FineTime() const
{
    if (DataSize() < fineOffset + 2) return 0;
    return FormatConvert_ushort2(DataPtr() + fineOffset);
}

array trokpacket::Position() const { return array(p.begin(), p.begin() + 3); }
array trokpacket::Velocity() const { return array(p.begin() + 3, p.begin() + 6); }
array trokpacket::Attitude() const { return array(p.begin() + 6, p.begin() + 10); }
array trokpacket::AngleRates() const { return array(p.begin() + 10, p.begin() + 13); }

std::ostream& operator<<(std::ostream& os, const trokpacket& pkt)
{
    os << static_cast<const packet&>(pkt);
    os.setf(std::ios::fixed);
    os.precision(8);
    os << "\ntrok_timetag   = " << pkt.TimeTag() << "  TAI seconds = " << pkt.CoarseTime();
    os << "\ntrok_position  = " << pkt.Position();
    os << "\ntrok_velocity  = " << pkt.Velocity();
    os << "\ntrok_attitude  = " << pkt.Attitude();
    os << "\ntrok_att_rates = " << pkt.AngleRates();
    return os << std::flush;
}
