#include "vn_class_packetfile.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "vn_proc_PacketRules.h"

namespace {

const uint64_t noPos = std::numeric_limits<uint64_t>::max();

// Forward moves up to this far are made by reading through the stream's
// buffer rather than by a seek, which would discard the buffer.
const uint64_t maxSkip = 65536;

// A run of fewer packets than this is kept as plain offsets: a run entry
// costs three offsets, and with eight or more packets a run never costs more
// than its packets would as plain offsets, whatever lies between the runs.
const size_t minRun = 8;

} // namespace

// The offset does not extend the open run: it is the run's first or second
// packet, or it closes the run and opens the next.
void packetindex::Break(uint64_t offset)
{
    if (runCount == 1) {
        runStride = offset - runStart;
        runNext = offset + runStride;
        runCount = 2;
        return;
    }
    if (runCount > 1) Flush();
    runStart = offset;
    runCount = 1;
    runNext = UINT64_MAX;
}

void packetindex::Flush()
{
    if (runCount >= minRun) {
        segments.push_back(Segment{emitted, runStart, runStride});
    } else {
        if (segments.empty() || segments.back().stride != 0)
            segments.push_back(Segment{emitted, plain.size(), 0});
        for (size_t k = 0; k < runCount; ++k) plain.push_back(runStart + k * runStride);
    }
    emitted += runCount;
    runCount = 0;
}

// Makes the segment or open run holding packet n the last one and reads n from it.
uint64_t packetindex::Find(size_t n) const
{
    assert(n < Size());
    if (n >= emitted) {
        // (A run of one has no stride yet; any but 0, the mark of plain
        // offsets, will do.)
        last = Segment{emitted, runStart, runCount > 1 ? runStride : 1};
        lastCount = runCount;
    } else {
        const auto after = std::upper_bound(segments.begin(), segments.end(), n,
            [](size_t m, const Segment& seg) { return m < seg.firstNo; });
        last = after[-1];
        lastCount = (after == segments.end() ? emitted : after->firstNo) - last.firstNo;
    }
    return At(n);
}

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
    // The index grows with the breaks in the file (other APIDs, repeats,
    // length changes), not with its packets, and nothing is allocated from
    // a length field.
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
            if (!RepeatsSequence(header, lastSequence)) pktList.Append(offset);
            lastSequence = header.Sequence();
        }
        ignore(dataSize);
        offset += 6 + static_cast<uint64_t>(dataSize);
    }
}

size_t packetfile::BegPacket() const { return 0; }

size_t packetfile::EndPacket() const { return pktList.Empty() ? 0 : pktList.Size() - 1; }

size_t packetfile::NoPackets() const { return pktList.Size(); }

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
    if (n >= pktList.Size()) {
        setstate(std::ios::eofbit | std::ios::failbit);
        return *this;
    }
    const uint64_t offset = pktList.At(n);
    MoveTo(offset);
    filePos = noPos;
    pkt.ReadPkt(*this);
    if (good()) filePos = offset + static_cast<uint64_t>(gcount());
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
