#include "vn_class_packetfile.h"

#include <limits>

#include "vn_proc_PacketRules.h"

namespace {

const uint64_t noPos = std::numeric_limits<uint64_t>::max();

// Forward moves up to this far are made by reading through the stream's
// buffer rather than by a seek, which would discard the buffer.
const uint64_t maxSkip = 65536;

} // namespace

packetfile::packetfile(const std::string& name, size_t apid)
    : streambuffer(), std::ifstream(), basefile(name, "packet"), pktAPID(apid),
      index(-1), filePos(noPos)
{
    rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
    open(name, std::ios::in);
    Scan();
}

packetfile::~packetfile() = default;

void packetfile::Scan()
{
    if (fail()) return;
    packet header(6);
    long lastSequence = -1;
    // The headers are read in sequence and the data fields stepped over with
    // ignore(), so the whole scan is buffered reading; the offsets are
    // counted here rather than asked of the stream.
    uint64_t offset = 0;
    // The index is the one structure that grows with the file. Its size is
    // known at the first packet of the APID: packets of one size fill at
    // most (file size / that size) slots, so reserving that many spares the
    // copies (and the doubled peak memory) of a growing vector.
    // (Asked of the buffer directly: a stream that cannot seek reports -1
    // and keeps its state, and is then indexed without a reservation.)
    uint64_t fileSize = 0;
    const std::streamoff last = rdbuf()->pubseekoff(0, std::ios::end, std::ios::in);
    if (last > 0) fileSize = static_cast<uint64_t>(last);
    rdbuf()->pubseekoff(0, std::ios::beg, std::ios::in);
    for (;;) {
        if (!header.ReadPkt(*this)) {
            if (eof()) clear();
            break;
        }
        const short int dataSize = header.PktSize();
        if (HeaderStopsScan(header)) {
            setstate(std::ios::badbit);
            break;
        }
        if (static_cast<size_t>(header.APID()) == pktAPID) {
            if (pktList.empty())
                pktList.reserve(static_cast<size_t>(fileSize / (6 + static_cast<uint64_t>(dataSize)) + 1));
            if (!RepeatsSequence(header, lastSequence)) pktList.push_back(offset);
            lastSequence = header.Sequence();
        }
        ignore(dataSize);
        offset += 6 + static_cast<uint64_t>(dataSize);
    }
}

size_t packetfile::BegPacket() const { return 0; }

size_t packetfile::EndPacket() const { return pktList.empty() ? 0 : pktList.size() - 1; }

size_t packetfile::NoPackets() const { return pktList.size(); }

long long packetfile::CurPacket() const { return index; }

size_t packetfile::ReqApid() const { return pktAPID; }

void packetfile::MoveTo(uint64_t offset)
{
    // Packets of the APID usually follow one another: then the stream is
    // already there, or a short skip through its buffer gets there.
    if (good() && filePos != noPos && offset >= filePos && offset - filePos <= maxSkip) {
        if (offset > filePos) ignore(static_cast<std::streamsize>(offset - filePos));
        return;
    }
    seekg(static_cast<std::streamoff>(offset), std::ios::beg);
}

packetfile& packetfile::ReadPacket(packet& pkt, size_t n)
{
    index = static_cast<long long>(n);
    if (n >= pktList.size()) {
        setstate(std::ios::eofbit | std::ios::failbit);
        return *this;
    }
    MoveTo(pktList[n]);
    filePos = noPos;
    pkt.ReadPkt(*this);
    if (good()) filePos = pktList[n] + static_cast<uint64_t>(gcount());
    if (!LengthFitsBuffer(pkt, pkt.DataSize()))
        setstate(std::ios::badbit);
    return *this;
}

packetfile& packetfile::ReadPacket(packet& pkt)
{
    ++index;
    return ReadPacket(pkt, static_cast<size_t>(index));
}

std::ostream& operator<<(std::ostream& os, packetfile& file)
{
    os << "\nfileValid " << (file.fail() ? 0 : 1) << "\nreq APID= " << file.ReqApid()
       << "\nbeg pkt = " << file.BegPacket() << "\nend pkt = " << file.EndPacket()
       << "\ncur pkt = " << file.CurPacket() << std::endl;
    return os;
}
