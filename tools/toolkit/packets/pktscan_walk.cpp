// The byte source and the walker.
#include "toolkit/packets/pktscan_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cmath>
#include <limits>

#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

namespace toolkit {

using namespace walk;


const char* walk::ByteSource::At(uint64_t offset, size_t n, size_t& avail)
{
    assert(offset >= start && n <= kLookAhead);
    const uint64_t left = offset < size ? size - offset : 0;
    size_t want = left < n ? static_cast<size_t>(left) : n;
    if (offset + want > start + len) {
        const uint64_t end = start + len;
        const size_t keep = offset < end ? static_cast<size_t>(end - offset) : 0;
        if (keep) std::memmove(buf.get(), buf.get() + (offset - start), keep);
        start = offset;
        len = keep;
        while (len < want && !failed) {
            size_t got = 0;
            Read(start + len, buf.get() + len, cap - len, got);
            if (!got) break;   // shorter than it was: what is there counts
            len += got;
        }
        if (len < want) want = len;
    }
    avail = want;
    return buf.get() + (offset - start);
}

void walk::ByteSource::Read(uint64_t at, char* into, size_t n, size_t& got)
{
    got = 0;
    while (!failed) {
        const ssize_t r = pread(fd, into, n, static_cast<off_t>(at));
        if (r >= 0) {
            got = static_cast<size_t>(r);
            break;
        }
        if (errno != EINTR) {
            failed = true;
            error = std::strerror(errno);
        }
    }
    if (sha && got && at == hashed) {
        sha->Update(into, got);
        hashed += got;
    }
}

uint64_t walk::ByteSource::FinishHash()
{
    // Whatever the buffer holds past the bytes hashed has been read in
    // order; the rest of the file is read into it now.
    if (hashed >= start && hashed < start + len) {
        sha->Update(buf.get() + (hashed - start), static_cast<size_t>(start + len - hashed));
        hashed = start + len;
    }
    for (size_t got = 1; got && !failed;) {
        start = hashed;
        len = 0;
        Read(hashed, buf.get(), cap, got);
    }
    return hashed;
}

walk::Piece walk::Walker::Next()
{
    Piece p;
    for (;;) {
        if (!inStep) return Resume();
        p.offset = pos;
        if (pos >= size) {
            p.kind = Piece::end;
            return p;
        }
        size_t avail = 0;
        const char* b = src.At(pos, layout.size + 2 * kHeader, avail);
        if (avail < kHeader) {
            p.kind = Piece::cutTail;
            p.length = avail;
            pos = size;
            return p;
        }
        head.Load(b);
        if (HeaderStopsScan(head.pkt)) {
            p.kind = Piece::badHeader;
            p.length = 0;
            p.version = head.pkt.Version();
            p.lengthField = head.LengthField();
            Lose();
            return p;
        }
        const uint64_t whole = head.Whole();
        const bool ours = static_cast<unsigned>(head.pkt.APID()) == layout.apid;
        if (ours && whole == layout.size) return Mission(avail);
        resynced = false;
        if (ours) return BadLength();
        if (pos + whole > size) {
            // A cut-off last packet, unless a packet of the APID follows.
            Lose();
            mayBeCut = true;
            cutWhole = whole;
            continue;
        }
        if (Boundary(pos + whole)) {
            p.kind = Piece::other;
            p.length = whole;
            p.bytes = src.At(pos, static_cast<size_t>(whole), avail);
            pos += whole;
            return p;
        }
        Lose();
    }
}

// The bytes that are not packets, up to the next candidate.
walk::Piece walk::Walker::Resume()
{
    Piece p;
    while (pos < size && !Candidate(pos)) ++pos;
    p.kind = pos == size && mayBeCut ? Piece::cutTail : Piece::notPackets;
    p.expected = cutWhole;
    mayBeCut = false;
    p.offset = damageStart;
    p.length = pos - damageStart;
    inStep = true;
    resynced = pos < size;
    return p;
}

// A packet of the APID with the expected length at pos, `avail` bytes of it
// at hand: whole, cut off by the end of the file, or a splice.
walk::Piece walk::Walker::Mission(size_t avail)
{
    Piece p;
    p.offset = pos;
    const uint64_t whole = layout.size;
    if (avail < layout.size) {
        p.kind = Piece::cutTail;
        p.length = avail;
        p.expected = whole;
        pos = size;
        return p;
    }
    // Mostly the next packet of the APID follows at once, in the bytes at hand.
    bool followed = false;
    if (avail >= whole + kHeader) {
        size_t got = 0;
        next.Load(src.At(pos, static_cast<size_t>(whole) + kHeader, got) + whole);
        followed = !HeaderStopsScan(next.pkt) && static_cast<unsigned>(next.pkt.APID()) == layout.apid;
    }
    if (!followed && !ChainFrom(pos + whole, true)) {
        const uint64_t resume = ChainInside(whole);
        if (resume) {
            p.kind = Piece::splice;
            p.length = resume - pos;
            pos = resume;
            resynced = false;
            return p;
        }
    }
    // The look-ahead may have moved the buffer.
    p.bytes = src.At(pos, layout.size + 2 * kHeader, avail);
    p.kind = Piece::mission;
    p.length = whole;
    p.resynced = resynced;
    resynced = false;
    pos += whole;
    return p;
}

// A packet of the APID with another length field at pos (in `head`).
walk::Piece walk::Walker::BadLength()
{
    Piece p;
    p.offset = pos;
    p.kind = Piece::badLength;
    p.lengthField = head.LengthField();
    const uint64_t whole = head.Whole();
    // Where the next packet of the APID starts tells which length is
    // right; failing that, any header will do.
    if (MissionAt(pos + whole)) p.length = whole;
    else if (MissionAt(pos + layout.size)) p.length = layout.size;
    else if (Boundary(pos + whole)) p.length = whole;
    else if (Boundary(pos + layout.size)) p.length = layout.size;
    if (p.length) {
        size_t avail = 0;
        p.bytes = src.At(pos, static_cast<size_t>(p.length), avail);
        pos += p.length;
    } else {
        Lose();
    }
    return p;
}

// Bytes from pos on are not packets until the next candidate.
void walk::Walker::Lose()
{
    ++losses;
    inStep = false;
    damageStart = pos;
    ++pos;
}

// A packet of the APID with the expected length, or the end of the
// file, starts at `at`.
bool walk::Walker::MissionAt(uint64_t at)
{
    if (at > size) return false;
    if (at == size) return true;
    size_t avail = 0;
    const char* b = src.At(pos, static_cast<size_t>(at - pos) + kHeader, avail);
    if (avail < at - pos + kHeader) return false;
    next.Load(b + (at - pos));
    return !HeaderStopsScan(next.pkt) && static_cast<unsigned>(next.pkt.APID()) == layout.apid &&
           next.Whole() == layout.size;
}

// A packet may end at `at`: the end of the file, a stub too short for a
// header, or a header that the scan can step over.
bool walk::Walker::Boundary(uint64_t at)
{
    if (at > size) return false;
    if (size - at < kHeader) return true;
    size_t avail = 0;
    const char* b = src.At(pos, static_cast<size_t>(at - pos) + kHeader, avail);
    if (avail < at - pos + kHeader) return false;
    next.Load(b + (at - pos));
    return !HeaderStopsScan(next.pkt);
}

bool walk::Walker::Candidate(uint64_t at)
{
    size_t avail = 0;
    const char* b = src.At(at, layout.size + kHeader, avail);
    if (avail < kTimeEnd) return false;
    head.Load(b);
    if (HeaderStopsScan(head.pkt) || static_cast<unsigned>(head.pkt.APID()) != layout.apid ||
        head.Whole() != layout.size)
        return false;
    const double t = PacketTimeTag(b);
    if (!(t >= minTime && t <= maxTime)) return false;
    if (avail < layout.size) return true;   // a cut-off last packet
    if (size - (at + layout.size) < kHeader) return true;
    next.Load(b + layout.size);
    return !HeaderStopsScan(next.pkt);
}

bool walk::Walker::HeaderAt(uint64_t at, Header& h)
{
    if (at < pos || at - pos > kLookAhead - kHeader) return false;
    size_t avail = 0;
    const char* b = src.At(pos, static_cast<size_t>(at - pos) + kHeader, avail);
    if (avail < at - pos + kHeader) return false;
    h.Load(b + (at - pos));
    return true;
}

bool walk::Walker::ChainFrom(uint64_t at, bool anyLength)
{
    for (int depth = 0; depth < kChainHeaders; ++depth) {
        if (at >= size || size - at < kHeader) return at <= size;
        if (!HeaderAt(at, link) || HeaderStopsScan(link.pkt) || link.Zero()) return false;
        if (static_cast<unsigned>(link.pkt.APID()) == layout.apid)
            return (anyLength && depth == 0) || link.Whole() == layout.size;
        at += link.Whole();
    }
    return false;
}

bool walk::Walker::MissionChain(uint64_t at)
{
    if (at >= size || size - at < kTimeEnd) return false;
    size_t avail = 0;
    const char* b = src.At(pos, static_cast<size_t>(at - pos) + kTimeEnd, avail);
    if (avail < at - pos + kTimeEnd) return false;
    link.Load(b + (at - pos));
    if (HeaderStopsScan(link.pkt) || static_cast<unsigned>(link.pkt.APID()) != layout.apid ||
        link.Whole() != layout.size)
        return false;
    const double t = PacketTimeTag(b + (at - pos));
    return t >= minTime && t <= maxTime && ChainFrom(at + layout.size);
}

uint64_t walk::Walker::ChainInside(uint64_t whole)
{
    for (uint64_t at = pos + 1; at < pos + whole; ++at)
        if (MissionChain(at)) return at;
    return 0;
}

void OffsetList::Add(uint64_t offset)
{
    if (first.size() < kept) first.push_back(offset);
    ++count;
}

void StretchList::Add(uint64_t offset, uint64_t length)
{
    if (first.size() < kept) first.emplace_back(offset, length);
    ++count;
    bytes += length;
}

PacketLayout CurrentLayout()
{
    PacketLayout l;
    l.size = trokpacket::pktsize;
    l.apid = static_cast<unsigned>(trokpacket::apid);
    return l;
}

int OpenPacketFile(const std::string& path, uint64_t& size, std::string& error)
{
    // Non-blocking, so that a FIFO without a writer cannot hold the open.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
        close(fd);
        return -1;
    }
    size = static_cast<uint64_t>(st.st_size);
    return fd;
}

} // namespace toolkit
