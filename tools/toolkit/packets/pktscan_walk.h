#ifndef TOOLKIT_PKTSCAN_WALK_H
#define TOOLKIT_PKTSCAN_WALK_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "toolkit/hashing/sha256.h"
#include "toolkit/packets/pktscan.h"
#include "vn_class_packet.h"
#include "vn_proc_FormatConvert.h"

namespace toolkit {

// The byte walking that pktscan's survey and salvage share: sequential
// reads with look-ahead and the walk from packet to packet, with
// resynchronisation after damage.
namespace walk {

const size_t kHeader = 6;
const size_t kTimeEnd = 14;        // the clock counts end at byte 14
// Reads are asked for at most two packets of the largest length and a few
// headers (the chain of headers that shows where a packet ends).
const size_t kLookAhead = 2 * 0x8000 + 8 * kHeader;
const size_t kBuffer = 1 << 20;
const uint64_t kSequenceModulo = 16384;
// A chain of headers reaches a packet of the APID within this many.
const int kChainHeaders = 16;
// Resynchronisation accepts time tags this far outside the stepped range.
const double kRangeSlackDays = 3600.0 / 86400.0;

// Sequential reading with look-ahead: each request starts at or after the
// previous one, and the buffer keeps everything from the latest start on.
class ByteSource
{
public:
    // The buffer holds the largest look-ahead (a packet of the longest
    // length and the header after it), and up to 1 MiB of a larger file.
    ByteSource(int file, uint64_t fileSize)
        : fd(file), size(fileSize),
          cap(fileSize + kLookAhead < kBuffer ? static_cast<size_t>(fileSize) + kLookAhead : kBuffer),
          buf(new char[cap])
    {
    }

    // Up to n bytes from offset (fewer at the end of the file); avail says how many.
    const char* At(uint64_t offset, size_t n, size_t& avail);

    // Feeds every byte to `hash` as it is read, once, in file order: a walk
    // reads the file front to back. Finish() reads what the walk did not
    // reach (a jump ahead, or the end after the walk stopped) and returns
    // the bytes hashed.
    void HashInto(Sha256& hash) { sha = &hash; }
    uint64_t FinishHash();

    bool failed = false;
    std::string error;

private:
    void Read(uint64_t at, char* into, size_t n, size_t& got);

    int fd;
    uint64_t size;
    size_t cap;
    std::unique_ptr<char[]> buf;
    uint64_t start = 0;
    size_t len = 0;
    Sha256* sha = nullptr;
    uint64_t hashed = 0;   // the bytes before this offset went into `sha`
};

// A primary header, decoded by the packet class.
struct Header {
    packet pkt{kHeader};
    void Load(const char* bytes) { std::memcpy(pkt.DataPtr(), bytes, kHeader); }
    long LengthField() const { return FormatConvert_ushort2(pkt.DataPtr() + 4); }
    // Whole size in bytes; only for headers that do not stop the scan.
    uint64_t Whole() const { return kHeader + static_cast<uint64_t>(pkt.PktSize()); }
    // Six zero bytes: a header only in form (APID 0, a one-byte data
    // field), found wherever the data is zero.
    bool Zero() const
    {
        const char* b = pkt.DataPtr();
        return !(b[0] | b[1] | b[2] | b[3] | b[4] | b[5]);
    }
};

// One piece of the file as the walker finds it.
struct Piece {
    enum Kind { mission, other, badLength, cutTail, badHeader, notPackets, splice, end };
    Kind kind = end;
    uint64_t offset = 0;
    uint64_t length = 0;        // bytes the piece covers
    const char* bytes = nullptr; // mission, other, badLength stepped over: the packet's bytes
    bool resynced = false;      // mission: found by resynchronising
    int version = 0;            // badHeader
    long lengthField = 0;       // badHeader, badLength
    uint64_t expected = 0;      // cutTail: the whole size its header gives (0: no header)
};

// Walks a packet file packet by packet. A header that cannot be stepped
// over, and a packet of another APID whose end is no header, start bytes
// that are not packets; they end at the next plausible packet of the APID:
// version 0, its APID and length, followed by a header or the end of the
// file, and its time tag inside [minTime, maxTime]. A packet of the APID
// with another length field is stepped over by the expected length, or by
// its own, whichever ends at a header; otherwise it starts bytes that are
// not packets as well.
//
// A packet of the APID whose end is not followed by a chain of headers,
// while such a chain starts inside its bytes, is a splice: a file cut short
// inside the packet with other bytes (the next dump) joined on. Its bytes
// up to the chain are one splice piece, and the walk goes on at the chain.
class Walker
{
public:
    Walker(ByteSource& source, uint64_t fileSize, const PacketLayout& packets, double lo, double hi)
        : src(source), size(fileSize), layout(packets), minTime(lo), maxTime(hi)
    {
    }

    Piece Next();

    // Goes on from `at`, the start of a piece an earlier walk of the same
    // bytes with the same time range returned in step (a mission piece):
    // the walk from there is the one that walk made.
    void StartAt(uint64_t at) { pos = at; }

    bool Failed() const { return src.failed; }
    // How often the walk lost step and resynchronised.
    uint64_t Losses() const { return losses; }

private:
    Piece Resume();
    Piece Mission(size_t avail);
    Piece BadLength();

    // Bytes from pos on are not packets until the next candidate.
    void Lose();

    // A packet of the APID with the expected length, or the end of the
    // file, starts at `at`.
    bool MissionAt(uint64_t at);

    // A packet may end at `at`: the end of the file, a stub too short for a
    // header, or a header that the scan can step over.
    bool Boundary(uint64_t at);

    bool Candidate(uint64_t at);

    // Headers from `at` on, each where the one before says, that the scan
    // can step over and that reach a packet of the APID with the expected
    // length within kChainHeaders (and the look-ahead), or the end of the
    // file exactly (or a stub too short for a header); a length that runs
    // past the end ends no chain, since a random one mostly does. A
    // packet of the APID of another length ends a chain, unless it is the
    // first and `anyLength` is set (a packet's successor, whose damaged
    // length field is its own fault), and so do six zero bytes: a run of
    // zeros in a packet's data would pass for a run of short packets.
    bool ChainFrom(uint64_t at, bool anyLength = false);
    // A packet of the APID with the expected length and a time in range at
    // `at`, followed by a chain.
    bool MissionChain(uint64_t at);
    // Where a chain that starts with a packet of the APID begins inside the
    // packet at pos of `whole` bytes; 0 for none. (A chain may not start
    // with a packet of another APID: its random length field lands on a
    // packet of the APID too often.)
    uint64_t ChainInside(uint64_t whole);
    // The header at `at` into `h`; false when it lies beyond the look-ahead.
    bool HeaderAt(uint64_t at, Header& h);

    ByteSource& src;
    uint64_t size;
    PacketLayout layout;
    double minTime, maxTime;
    uint64_t pos = 0;
    bool inStep = true;
    bool resynced = false;
    bool mayBeCut = false;
    uint64_t cutWhole = 0;
    uint64_t damageStart = 0;
    uint64_t losses = 0;
    Header head, next, link;
};

} // namespace walk

} // namespace toolkit

#endif
