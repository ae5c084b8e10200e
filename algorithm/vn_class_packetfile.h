#ifndef VN_CLASS_PACKETFILE_H
#define VN_CLASS_PACKETFILE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "vn_class_basefile.h"
#include "vn_class_packet.h"
#include "vn_class_streambuffer.h"

// The byte offsets of the indexed packets, in file order, stored by runs:
// packets that follow one another at a fixed distance (the same length,
// with nothing or the same pattern of other packets between them) take one
// entry, so a regular file of any length takes a kilobyte or so. Runs too
// short to pay for an entry are kept as plain offsets, so no file costs more
// than about 8 bytes a packet (what a plain list of offsets would). Both
// lists are deques: growing never copies them, so never needs twice their
// size.
// Offsets must be appended in increasing order. At(n) is a search over the
// runs, or none when n lies in the run of the previous At().
class packetindex
{
public:
    void Append(uint64_t offset)
    {
        if (offset != runNext) {
            Break(offset);
            return;
        }
        ++runCount;
        runNext += runStride;
    }
    size_t Size() const { return emitted + runCount; }
    bool Empty() const { return Size() == 0; }
    uint64_t At(size_t n) const   // n below Size()
    {
        const uint64_t k = n - last.firstNo;
        if (k >= lastCount) return Find(n);
        return last.stride != 0 ? last.base + k * last.stride : plain[static_cast<size_t>(last.base + k)];
    }

    // What the index holds: runs and plain offsets (for tests and sizing).
    size_t Runs() const { return segments.size(); }
    size_t PlainOffsets() const { return plain.size(); }

private:
    // Packets from firstNo up to the next segment's firstNo (or `emitted`):
    // with a stride, at base + k * stride; with stride 0 (no run), plain
    // offsets from plain[base] on.
    struct Segment {
        uint64_t firstNo;
        uint64_t base;
        uint64_t stride;
    };
    void Break(uint64_t offset);
    void Flush();
    uint64_t Find(size_t n) const;

    std::deque<Segment> segments;
    std::deque<uint64_t> plain;
    size_t emitted = 0;              // packets in `segments`
    // The open run, not yet in `segments`: runCount packets from runStart,
    // runStride apart (runStride is set once the run has two packets);
    // runNext is the offset that extends it (none before it has two).
    uint64_t runStart = 0;
    uint64_t runStride = 0;
    size_t runCount = 0;
    uint64_t runNext = UINT64_MAX;
    // The segment (or open run) of the last search and the number of
    // packets it held then, for reading in turn without a search. Offsets
    // never change once appended, so this stays true while the run grows.
    mutable Segment last{0, 0, 0};
    mutable uint64_t lastCount = 0;
};

// A file of space packets laid end to end, indexed once at construction: the
// byte offset of every packet of the required APID is kept, except a packet
// whose sequence count repeats that of the previous packet of the APID.
// A version other than 0 or a length field of 0x7FFF or more stops the scan
// with badbit set (packets before it stay indexed). A file that fails to open
// leaves the stream failed and the index empty. Every outcome is reported
// through the stream state only; reads never clear it.
//
// The read position of the stream belongs to this class: callers must not
// move it themselves.
class packetfile : private streambuffer, public std::ifstream, public basefile
{
public:
    packetfile(const std::string& fileName, size_t apid);
    ~packetfile() override;

    size_t BegPacket() const;      // always 0
    size_t EndPacket() const;      // NoPackets() - 1, or 0 when empty
    size_t NoPackets() const { return pktList.Size(); }
    long long CurPacket() const;   // number of the packet read last, -1 before any
    size_t ReqApid() const;
    // The offsets of the indexed packets (for tests and diagnostics).
    const packetindex& Index() const { return pktList; }

    // Reads packet number n into pkt (decoded by its ReadPkt). n beyond the
    // index sets eofbit and failbit and leaves pkt untouched; a short read
    // sets eofbit and failbit; a length field that does not match pkt's
    // buffer size (PktSize() + 6 != DataSize()) sets badbit after the read.
    packetfile& ReadPacket(packet& pkt, size_t n);
    // Reads the packet after the one read last (packet 0 on the first call).
    packetfile& ReadPacket(packet& pkt);

private:
    void Scan();
    bool FillScanBlock(std::vector<char>& block, uint64_t offset, uint64_t& blockStart,
                       size_t& blockBytes, bool& atEnd);
    void MoveTo(uint64_t offset);

    size_t pktAPID;
    long long index;
    packetindex pktList;
    // Where the stream's read position is known to be, or noPos.
    uint64_t filePos;
};

// "\nfileValid ", "\nreq APID= ", "\nbeg pkt = ", "\nend pkt = ",
// "\ncur pkt = " and an end of line.
std::ostream& operator<<(std::ostream& os, packetfile& file);

#endif
