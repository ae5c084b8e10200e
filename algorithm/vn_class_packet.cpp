#include "vn_class_packet.h"

#include <cassert>
#include <iomanip>

#include "vn_proc_FormatConvert.h"

packet::packet(size_t n) : storebase(n)
{
    assert(n >= 6);
}

packet::~packet() = default;

std::istream& packet::ReadPkt(std::istream& is)
{
    // One unformatted read of DataSize() bytes, taken straight from the
    // stream's buffer object with the stream read's rules: nothing is read
    // from a stream that has failed already (failbit), a short read sets
    // eofbit and failbit, and a buffer that throws sets badbit. (The read
    // count of the stream, gcount(), is not kept.)
    if (!is.good()) {
        is.setstate(std::ios::failbit);
        return is;
    }
    const std::streamsize want = static_cast<std::streamsize>(DataSize());
    std::streamsize got = 0;
    try {
        got = is.rdbuf() ? is.rdbuf()->sgetn(DataPtr(), want) : 0;
    } catch (...) {
        is.setstate(std::ios::badbit);
        return is;
    }
    if (got != want) is.setstate(std::ios::eofbit | std::ios::failbit);
    return is;
}

void packet::Dump(std::ostream& os, size_t first, size_t last) const
{
    if (last == 0) last = PktSize() > 0 ? static_cast<size_t>(PktSize()) : 0;
    if (last > DataSize()) last = DataSize();
    os << std::hex << std::setfill('0');
    for (size_t k = first; k < last; ++k) {
        const size_t i = k - first;
        if (i != 0 && i % 20 == 0) os << '\n' << std::endl;
        os << std::setw(2) << static_cast<unsigned>(static_cast<unsigned char>(DataPtr()[k])) << ' ';
    }
}

std::ostream& operator<<(std::ostream& os, const packet& pkt)
{
    os << std::dec << "\npacket_ver. = " << pkt.Version() << "\npacket_APID = " << pkt.APID()
       << "\npacket_seq. = " << pkt.Sequence() << "\npacket_size = " << pkt.PktSize();
    return os << std::flush;
}
