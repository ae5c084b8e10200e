#include "vn_class_packetfile.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <sys/stat.h>

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

// The scan reads the file in blocks of more than the stream's buffer holds,
// so that the file's buffer object reads them straight into the scan's block
// instead of through its own buffer, even after the few bytes of a header
// cut by the previous block.
const size_t scanBlock = streambuffer::defaultSize + 8;

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

namespace {

bool NotSeekable(const std::string& name)
{
    struct stat st;
    return stat(name.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

} // namespace

packetfile::packetfile(const std::string& name, size_t apid)
    : streambuffer(), std::ifstream(), basefile(name, "packet"), pktAPID(apid),
      index(-1), filePos(noPos)
{
    rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
    // The file is scanned, then read packet by packet at the offsets found:
    // a FIFO or socket cannot be read that way, and opening a FIFO would
    // wait for a writer that may never come. It counts as a file that
    // cannot be opened.
    if (NotSeekable(name)) setstate(std::ios::failbit);
    else open(name, std::ios::in);
    Scan();
}

packetfile::~packetfile() = default;

void packetfile::Scan()
{
    if (fail()) return;
    // The file is read in large blocks straight from its buffer object and
    // each header taken from the block in memory: the six bytes of a header
    // at a time through the stream would cost more than the rest of the
    // scan. A header is taken wherever its six bytes are all in the file;
    // the data field behind it is stepped over, even past the end of the
    // file (a last packet cut short still counts).
    std::vector<char> block(scanBlock);
    uint64_t blockStart = 0;   // file offset of block[0]
    size_t blockBytes = 0;     // bytes of the file in the block
    bool atEnd = false;
    packet header(6);
    long lastSequence = -1;
    // The index grows with the breaks in the file (other APIDs, repeats,
    // length changes), not with its packets, and nothing is allocated from
    // a length field.
    for (uint64_t offset = 0;;) {
        if (offset + 6 > blockStart + blockBytes) {
            if (atEnd || !FillScanBlock(block, offset, blockStart, blockBytes, atEnd)) break;
            if (offset + 6 > blockStart + blockBytes) break;   // the file ends inside the header
        }
        std::memcpy(header.DataPtr(), block.data() + (offset - blockStart), 6);
        const short int dataSize = header.PktSize();
        if (HeaderStopsScan(header)) {
            setstate(std::ios::badbit);
            break;
        }
        if (static_cast<size_t>(header.APID()) == pktAPID) {
            if (!RepeatsSequence(header, lastSequence)) pktList.Append(offset);
            lastSequence = header.Sequence();
        }
        offset += 6 + static_cast<uint64_t>(dataSize);
    }
}

// Moves the block on along the file: the bytes from `offset` that it holds
// (the start of a header cut by its end) move to its front, and the rest is
// filled with the bytes that follow in the file. A header beyond the block
// (behind a data field that reaches past it) then lies in the new block,
// since a data field is shorter than half a block. False, with badbit set,
// when the file cannot be read; `atEnd` once the file has no more bytes.
bool packetfile::FillScanBlock(std::vector<char>& block, uint64_t offset, uint64_t& blockStart,
                               size_t& blockBytes, bool& atEnd)
{
    const uint64_t blockEnd = blockStart + blockBytes;
    const size_t keep = offset < blockEnd ? static_cast<size_t>(blockEnd - offset) : 0;
    std::memmove(block.data(), block.data() + (blockBytes - keep), keep);
    blockStart = blockEnd - keep;
    blockBytes = keep;
    try {
        while (!atEnd && blockBytes < block.size()) {
            const std::streamsize got = rdbuf()->sgetn(
                block.data() + blockBytes, static_cast<std::streamsize>(block.size() - blockBytes));
            if (got <= 0) atEnd = true;
            else blockBytes += static_cast<size_t>(got);
        }
        return true;
    } catch (...) {
        // What the stream's own reads do when the file's buffer throws.
        setstate(std::ios::badbit);
        return false;
    }
}

size_t packetfile::BegPacket() const { return 0; }

size_t packetfile::EndPacket() const { return pktList.Empty() ? 0 : pktList.Size() - 1; }

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
    if (good()) filePos = offset + pkt.DataSize();   // a good read is a whole one
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
