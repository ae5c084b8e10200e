#include "toolkit_pktscan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

#include "timelib_proc_TAI93.h"
#include "toolkit_civilutc.h"
#include "toolkit_isotime.h"
#include "vn_class_packet.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_FormatConvert.h"
#include "vn_proc_PacketRules.h"

namespace toolkit {

namespace {

const size_t kHeader = 6;
const size_t kTimeEnd = 14;        // the clock counts end at byte 14
// Reads are asked for at most a packet of the largest length and two headers.
const size_t kLookAhead = 0x8000 + 3 * kHeader;
const size_t kBuffer = 1 << 20;
const uint64_t kSequenceModulo = 16384;
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
    const char* At(uint64_t offset, size_t n, size_t& avail)
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
                const ssize_t r = pread(fd, buf.get() + len, cap - len,
                                        static_cast<off_t>(start + len));
                if (r > 0) len += static_cast<size_t>(r);
                else if (r == 0) break;   // shorter than it was: what is there counts
                else if (errno != EINTR) {
                    failed = true;
                    error = std::strerror(errno);
                }
            }
            if (len < want) want = len;
        }
        avail = want;
        return buf.get() + (offset - start);
    }

    bool failed = false;
    std::string error;

private:
    int fd;
    uint64_t size;
    size_t cap;
    std::unique_ptr<char[]> buf;
    uint64_t start = 0;
    size_t len = 0;
};

// A primary header, decoded by the packet class.
struct Header {
    packet pkt{kHeader};
    void Load(const char* bytes) { std::memcpy(pkt.DataPtr(), bytes, kHeader); }
    long LengthField() const { return FormatConvert_ushort2(pkt.DataPtr() + 4); }
    // Whole size in bytes; only for headers that do not stop the scan.
    uint64_t Whole() const { return kHeader + static_cast<uint64_t>(pkt.PktSize()); }
};

// One piece of the file as the walker finds it.
struct Piece {
    enum Kind { mission, other, badLength, cutTail, badHeader, notPackets, end };
    Kind kind = end;
    uint64_t offset = 0;
    uint64_t length = 0;        // bytes the piece covers
    const char* bytes = nullptr; // mission, other: the packet's bytes
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
class Walker
{
public:
    Walker(ByteSource& source, uint64_t fileSize, const PacketLayout& packets, double lo, double hi)
        : src(source), size(fileSize), layout(packets), minTime(lo), maxTime(hi)
    {
    }

    Piece Next()
    {
        Piece p;
        for (;;) {
            if (!inStep) {
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
            if (ours && whole == layout.size) {
                if (avail < layout.size) {
                    p.kind = Piece::cutTail;
                    p.length = avail;
                    p.expected = whole;
                    pos = size;
                    return p;
                }
                p.kind = Piece::mission;
                p.length = whole;
                p.bytes = b;
                p.resynced = resynced;
                resynced = false;
                pos += whole;
                return p;
            }
            resynced = false;
            if (ours) {
                p.kind = Piece::badLength;
                p.lengthField = head.LengthField();
                // Where the next packet of the APID starts tells which
                // length is right; failing that, any header will do.
                if (MissionAt(pos + whole)) p.length = whole;
                else if (MissionAt(pos + layout.size)) p.length = layout.size;
                else if (Boundary(pos + whole)) p.length = whole;
                else if (Boundary(pos + layout.size)) p.length = layout.size;
                if (p.length) pos += p.length;
                else Lose();
                return p;
            }
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

    bool Failed() const { return src.failed; }

private:
    // Bytes from pos on are not packets until the next candidate.
    void Lose()
    {
        inStep = false;
        damageStart = pos;
        ++pos;
    }

    // A packet of the APID with the expected length, or the end of the
    // file, starts at `at`.
    bool MissionAt(uint64_t at)
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
    bool Boundary(uint64_t at)
    {
        if (at > size) return false;
        if (size - at < kHeader) return true;
        size_t avail = 0;
        const char* b = src.At(pos, static_cast<size_t>(at - pos) + kHeader, avail);
        if (avail < at - pos + kHeader) return false;
        next.Load(b + (at - pos));
        return !HeaderStopsScan(next.pkt);
    }

    bool Candidate(uint64_t at)
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
    Header head, next;
};

std::string Hex(long v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04lX", v);
    return buf;
}

std::string Offsets(const OffsetList& list)
{
    std::string s;
    for (size_t i = 0; i < list.first.size(); ++i) s += (i ? ", " : "") + std::to_string(list.first[i]);
    if (list.count > list.first.size())
        s += " and " + std::to_string(list.count - list.first.size()) + " more";
    return s;
}

std::string Stretches(const StretchList& list)
{
    std::string s;
    for (size_t i = 0; i < list.first.size(); ++i)
        s += (i ? ", " : "") + std::to_string(list.first[i].second) + " at " +
             std::to_string(list.first[i].first);
    if (list.count > list.first.size())
        s += " and " + std::to_string(list.count - list.first.size()) + " more";
    return s;
}

std::string Plural(uint64_t n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string TaiText(double jd) { return IsoTaiFromTai93(JulianDayToTAI93(jd), 3); }
// Civil UTC from the system's leap-second table; without a table that
// covers the instant, UTC by trokproc's own model, labelled so.
bool CivilUtcKnown(double jd)
{
    int seconds = 0;
    return TaiMinusUtcAtTai93(SystemLeapSeconds(), JulianDayToTAI93(jd), seconds);
}
std::string UtcText(double jd)
{
    const double tai93 = JulianDayToTAI93(jd);
    if (CivilUtcKnown(jd)) return IsoCivilUtcFromTai93(SystemLeapSeconds(), tai93, 3);
    return IsoUtcFromTai93(tai93, 3);
}
std::string UtcLabel(double jd) { return CivilUtcKnown(jd) ? " UTC" : " UTC (trokproc's model)"; }

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

// One more packet of an APID, and its length among the first few seen.
void CountPacket(Survey& s, unsigned apid, uint64_t length)
{
    ApidCount& c = s.apids[apid];
    ++c.count;
    for (uint64_t l : c.lengths)
        if (l == length) return;
    if (c.lengths.size() < 4) c.lengths.push_back(length);
    else c.moreLengths = true;
}

std::string JsonOffsets(const OffsetList& list)
{
    std::string s = "{\"count\":" + std::to_string(list.count) + ",\"first\":[";
    for (size_t i = 0; i < list.first.size(); ++i) s += (i ? "," : "") + std::to_string(list.first[i]);
    return s + "]}";
}

} // namespace

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

bool JudgePacketFile(int fd, uint64_t size, const PacketLayout& layout, Verdict& v, std::string& error)
{
    v = Verdict();
    ByteSource src(fd, size);
    Header head;
    // The packet trokproc reads last is the last one indexed; its state and
    // that of the first one are kept, the inner ones are judged in passing.
    struct Indexed {
        uint64_t offset = 0;
        bool whole = false, fits = false;
        long lengthField = 0;
        double time = 0;
    } first, prev, last;
    bool innerBad = false, timeFault = false;
    uint64_t badPacket = 0, badOffset = 0;
    long badField = 0;
    long lastSequence = -1;
    uint64_t n = 0;
    for (uint64_t pos = 0; pos < size;) {
        size_t avail = 0;
        const char* b = src.At(pos, layout.size > kTimeEnd ? layout.size : kTimeEnd, avail);
        if (avail < kHeader) break;
        head.Load(b);
        if (HeaderStopsScan(head.pkt)) {
            v.rule = Verdict::scanStops;
            v.offset = pos;
            v.version = head.pkt.Version();
            v.lengthField = head.LengthField();
            v.packets = n;
            break;
        }
        if (static_cast<unsigned>(head.pkt.APID()) == layout.apid) {
            if (!RepeatsSequence(head.pkt, lastSequence)) {
                Indexed cur;
                cur.offset = pos;
                cur.whole = avail >= layout.size;
                cur.fits = LengthFitsBuffer(head.pkt, layout.size);
                cur.lengthField = head.LengthField();
                cur.time = avail >= kTimeEnd ? PacketTimeTag(b) : std::nan("");
                if (n == 0) first = cur;
                else if (!innerBad && !timeFault) {
                    // The repair stream compares each pair up to the first
                    // packet it cannot read, then stops reading.
                    if (!TimesInOrder(prev.time, cur.time)) {
                        timeFault = true;
                        v.packet = n;
                        v.offset = pos;
                        v.previousOffset = prev.offset;
                    } else {
                        const PacketGap gap = ClassifyGap(prev.time, cur.time);
                        if (gap == PacketGap::large) ++v.largeGaps;
                        if (gap == PacketGap::small) {
                            ++v.smallGaps;
                            v.records += FillPointCount(prev.time, cur.time);
                        }
                    }
                    if (!(cur.whole && cur.fits)) {
                        innerBad = true;
                        badPacket = n;
                        badOffset = pos;
                        badField = cur.lengthField;
                    }
                }
                prev = cur;
                last = cur;
                ++n;
            }
            lastSequence = head.pkt.Sequence();
        }
        pos += head.Whole();
    }
    if (src.failed) {
        error = src.error;
        return false;
    }
    if (v.rule == Verdict::scanStops) return true;
    v.packets = n;
    if (n < 2) {
        v.rule = Verdict::tooFew;
        v.records = 0;
        return true;
    }
    const Indexed* ends[2] = {&first, &last};
    for (int e = 0; e < 2; ++e) {
        if (!(ends[e]->whole && ends[e]->fits)) {
            v.rule = Verdict::endUnreadable;
            v.packet = e == 0 ? 0 : n - 1;
            v.offset = ends[e]->offset;
            v.lengthField = ends[e]->lengthField;
            v.shortRead = !ends[e]->whole;
            v.records = 0;
            return true;
        }
    }
    if (timeFault) {
        v.rule = Verdict::timeOrder;
        v.records = 0;
        return true;
    }
    if (innerBad) {
        v.rule = Verdict::readError;
        v.packet = badPacket;
        v.offset = badOffset;
        v.lengthField = badField;
        v.records = 0;
        return true;
    }
    v.records += n;
    return true;
}

bool SurveyPacketFile(int fd, uint64_t size, const PacketLayout& layout, Survey& s, std::string& error)
{
    s = Survey();
    s.fileSize = size;
    ByteSource src(fd, size);
    Walker walk(src, size, layout, -std::numeric_limits<double>::infinity(),
                std::numeric_limits<double>::infinity());
    Header head;
    long lastSequence = -1;       // last packet of the APID, repeats included
    bool haveOrdered = false;     // a packet in time order before this one
    double orderedTime = 0;
    bool havePrev = false;        // the previous packet that was no repeat
    bool prevInOrder = true;
    long prevSequence = 0;
    double prevTime = 0;
    for (Piece p = walk.Next(); p.kind != Piece::end; p = walk.Next()) {
        switch (p.kind) {
        case Piece::mission:
        case Piece::other: {
            head.Load(p.bytes);
            CountPacket(s, static_cast<unsigned>(head.pkt.APID()), p.length);
            if (p.kind == Piece::other) break;
            ++s.packets;
            const double t = PacketTimeTag(p.bytes);
            if (!s.haveTimes) s.firstTime = t, s.firstOffset = p.offset, s.haveTimes = true;
            s.lastTime = t;
            s.lastOffset = p.offset;
            if (!p.resynced) {
                if (!s.haveSteppedRange) s.steppedMin = s.steppedMax = t, s.haveSteppedRange = true;
                if (t < s.steppedMin) s.steppedMin = t;
                if (t > s.steppedMax) s.steppedMax = t;
            }
            if (RepeatsSequence(head.pkt, lastSequence)) {
                s.repeats.Add(p.offset);
                break;
            }
            lastSequence = head.pkt.Sequence();
            const bool inOrder = !haveOrdered || TimesInOrder(orderedTime, t);
            if (!inOrder) s.timeFaults.Add(p.offset);
            if (havePrev && prevInOrder) {
                const long d = ((lastSequence - prevSequence) % 16384 + 16384) % 16384;
                const double g = (t - prevTime) * 86400.0;
                const bool timeGap = ClassifyGap(prevTime, t) != PacketGap::none;
                if (d != 1) s.sequenceJumps.Add(p.offset);
                if (d != 1 || timeGap) {
                    // A jump of d counts matches a gap of about d seconds,
                    // modulo the counter's wrap.
                    bool match = false;
                    if (inOrder && std::isfinite(g) && g < 1e12) {
                        const long long r = std::llround(g);
                        match = ((r - d) % static_cast<long long>(kSequenceModulo)) == 0;
                    }
                    if (match && d != 1) ++s.jumpsMatchingGaps;
                    if (!match) s.mismatches.Add(p.offset);
                }
            }
            havePrev = true;
            prevInOrder = inOrder;
            prevSequence = lastSequence;
            prevTime = t;
            if (!inOrder) break;
            if (haveOrdered) {
                const PacketGap gap = ClassifyGap(orderedTime, t);
                if (gap == PacketGap::small) {
                    s.smallGaps.Add(p.offset);
                    s.fillPoints += FillPointCount(orderedTime, t);
                } else if (gap == PacketGap::large) {
                    s.largeGaps.Add(p.offset);
                }
            }
            haveOrdered = true;
            orderedTime = t;
            break;
        }
        case Piece::badLength:
            s.badLengths.Add(p.offset);
            // Counted with its APID, at the length it was stepped over by.
            if (p.length) CountPacket(s, layout.apid, p.length);
            break;
        case Piece::badHeader:
            s.badHeaders.Add(p.offset);
            break;
        case Piece::cutTail:
            s.cutTail = true;
            s.cutOffset = p.offset;
            s.cutPresent = p.length;
            s.cutExpected = p.expected;
            break;
        case Piece::notPackets:
            if (p.length) s.notPackets.Add(p.offset, p.length);
            break;
        case Piece::end:
            break;
        }
    }
    if (walk.Failed()) {
        error = src.error;
        return false;
    }
    return true;
}

bool SalvagePacketFile(int fd, uint64_t size, const PacketLayout& layout, const Survey& survey,
                       int fdOut, Salvage& out, std::string& error)
{
    out = Salvage();
    ByteSource src(fd, size);
    double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();
    if (survey.haveSteppedRange) {
        lo = survey.steppedMin - kRangeSlackDays;
        hi = survey.steppedMax + kRangeSlackDays;
    }
    Walker walk(src, size, layout, lo, hi);
    Header head;
    std::vector<char> obuf;
    obuf.reserve(size < kBuffer ? static_cast<size_t>(size) : kBuffer);
    bool writeFailed = false;
    auto flush = [&]() {
        size_t done = 0;
        while (done < obuf.size() && !writeFailed) {
            const ssize_t w = write(fdOut, obuf.data() + done, obuf.size() - done);
            if (w > 0) done += static_cast<size_t>(w);
            else if (w < 0 && errno == EINTR) continue;
            else {
                writeFailed = true;
                error = w < 0 ? std::strerror(errno) : "nothing written";
            }
        }
        obuf.clear();
    };
    auto emit = [&](const char* bytes, size_t n) {
        obuf.insert(obuf.end(), bytes, bytes + n);
        if (obuf.size() >= kBuffer - layout.size) flush();
    };

    // The last packet of the APID in time order is held back until the next
    // one shows whether its own time is the one that is wrong: a time tag
    // that jumps ahead would otherwise make every later packet break the
    // order. What follows it meanwhile is held with it, each piece marked
    // by what it is: the held packet, a repeat of it (both go or stay
    // together), or anything else (which stays).
    struct Held {
        bool have = false;
        double time = 0;
        long sequence = 0;
        uint64_t offset = 0;
        enum Kind { packet, repeat, other };
        std::vector<std::pair<std::string, Kind>> pieces;
        size_t bytes = 0;
    } held;
    long lastSequence = -1;   // of the last packet of the APID written
    bool haveTime = false;
    double lastTime = 0;
    auto release = [&](bool keep) {
        for (const auto& piece : held.pieces) {
            if (keep || piece.second == Held::other) emit(piece.first.data(), piece.first.size());
            else if (piece.second == Held::repeat) --out.kept;
        }
        if (keep) {
            lastSequence = held.sequence;
            lastTime = held.time;
            haveTime = true;
        } else {
            --out.kept;
            out.timeOrder.Add(held.offset);
        }
        held = Held();
    };
    auto hold = [&](const Piece& p, Held::Kind kind) {
        held.pieces.emplace_back(std::string(p.bytes, p.length), kind);
        held.bytes += p.length;
    };
    auto put = [&](const Piece& p) {
        if (!held.have) {
            emit(p.bytes, p.length);
            return;
        }
        hold(p, Held::other);
        if (held.bytes > kBuffer) release(true);   // memory stays bounded
    };
    // How far a packet's time is from the one its sequence count implies at
    // one packet a second, counted from the last packet written.
    auto misfit = [&](double t, long sequence) {
        const long d = ((sequence - lastSequence) % 16384 + 16384) % 16384;
        return std::fabs((t - lastTime) * 86400.0 - static_cast<double>(d));
    };
    for (Piece p = walk.Next(); p.kind != Piece::end && !writeFailed; p = walk.Next()) {
        switch (p.kind) {
        case Piece::mission: {
            head.Load(p.bytes);
            const long sequence = head.pkt.Sequence();
            // A repeat in the copy is left out by trokproc's index; it stays.
            if (RepeatsSequence(head.pkt, held.have ? held.sequence : lastSequence)) {
                ++out.kept;
                if (held.have) hold(p, Held::repeat);
                else emit(p.bytes, p.length);
                break;
            }
            const double t = PacketTimeTag(p.bytes);
            if (held.have) {
                if (TimesInOrder(held.time, t)) {
                    release(true);
                } else if (haveTime && TimesInOrder(lastTime, t) &&
                           misfit(t, sequence) < misfit(held.time, held.sequence)) {
                    release(false);   // the held packet jumped ahead
                } else {
                    out.timeOrder.Add(p.offset);
                    break;
                }
            } else if (haveTime && !TimesInOrder(lastTime, t)) {
                out.timeOrder.Add(p.offset);
                break;
            }
            ++out.kept;
            held.have = true;
            held.time = t;
            held.sequence = sequence;
            held.offset = p.offset;
            hold(p, Held::packet);
            break;
        }
        case Piece::other:
            put(p);
            ++out.keptOther;
            break;
        case Piece::badLength:
            out.badLengths.Add(p.offset);
            break;
        case Piece::cutTail:
            out.cutTail = true;
            out.cutOffset = p.offset;
            out.cutPresent = p.length;
            break;
        case Piece::notPackets:
            if (p.length) out.skipped.Add(p.offset, p.length);
            break;
        case Piece::badHeader:
        case Piece::end:
            break;
        }
    }
    if (held.have) release(true);
    if (!writeFailed) flush();
    if (walk.Failed()) {
        error = src.error;
        return false;
    }
    return !writeFailed;
}

std::string Verdict::Message() const
{
    switch (rule) {
    case accepted: return "";
    case scanStops: return "File Open failed for packet file";
    case tooFew: return "Packet File Empty";
    case endUnreadable: return "Packet File Read Error";
    case timeOrder: return "packet Time order error";
    case readError: return "Packet File read error";
    }
    return "";
}

std::string Verdict::RuleName() const
{
    switch (rule) {
    case accepted: return "accepted";
    case scanStops: return "scan-stops";
    case tooFew: return "too-few-packets";
    case endUnreadable: return "end-packet-unreadable";
    case timeOrder: return "time-order";
    case readError: return "read-error";
    }
    return "";
}

std::string Verdict::Sentence(const PacketLayout& layout) const
{
    const std::string apid = "APID " + std::to_string(layout.apid);
    const std::string expected = Hex(static_cast<long>(layout.size) - 7);
    std::string why;
    switch (rule) {
    case accepted:
        return "trokproc accepts this file: " + Plural(packets, "packet", "packets") + " of " + apid +
               ", " + Plural(records, "record", "records") + " (" +
               Plural(smallGaps, "gap", "gaps") + " filled, " + std::to_string(largeGaps) + " left open)";
    case scanStops:
        why = "its scan stops at the header at offset " + std::to_string(offset) + " (version " +
              std::to_string(version) + ", length field " + Hex(lengthField) + ")";
        break;
    case tooFew:
        why = "it finds " + std::to_string(packets) + " packet" + (packets == 1 ? "" : "s") + " of " +
              apid + ", fewer than two";
        break;
    case endUnreadable:
        why = std::string("its ") + (packet == 0 ? "first" : "last") + " packet (number " +
              std::to_string(packet) + ", offset " + std::to_string(offset) + ") " +
              (shortRead ? "is cut off by the end of the file"
                         : "has length field " + Hex(lengthField) + ", not " + expected);
        break;
    case timeOrder:
        why = "packet " + std::to_string(packet) + " at offset " + std::to_string(offset) +
              " is not later than the one before it at offset " + std::to_string(previousOffset);
        break;
    case readError:
        why = "packet " + std::to_string(packet) + " at offset " + std::to_string(offset) +
              " has length field " + Hex(lengthField) + ", not " + expected;
        break;
    }
    return "trokproc refuses this file (\"" + Message() + "\"): " + why;
}

std::string ReportText(const std::string& name, const PacketLayout& layout, const Survey& s,
                       const Verdict& v)
{
    std::ostringstream os;
    os << name << ": " << s.fileSize << " bytes\n";
    for (const auto& a : s.apids) {
        os << "APID " << a.first << ": " << Plural(a.second.count, "packet", "packets") << " of ";
        for (size_t i = 0; i < a.second.lengths.size(); ++i) os << (i ? ", " : "") << a.second.lengths[i];
        os << (a.second.moreLengths ? " and more" : "") << " bytes\n";
    }
    const std::string apid = "APID " + std::to_string(layout.apid);
    os << "trokproc's " << apid << " (" << layout.size << "-byte packets): " << Plural(s.packets, "packet", "packets");
    if (s.repeats.count)
        os << ", " << Plural(s.repeats.count, "consecutive repeat", "consecutive repeats")
           << " that trokproc drops (at " << Offsets(s.repeats) << ")";
    os << "\n";
    if (s.haveTimes) {
        os << "  first " << TaiText(s.firstTime) << " TAI = " << UtcText(s.firstTime) << UtcLabel(s.firstTime) << " (offset "
           << s.firstOffset << ")\n";
        os << "  last  " << TaiText(s.lastTime) << " TAI = " << UtcText(s.lastTime) << UtcLabel(s.lastTime) << " (offset "
           << s.lastOffset << ")\n";
    }
    if (s.timeFaults.count)
        os << "  time order faults: " << s.timeFaults.count << " (at " << Offsets(s.timeFaults) << ")\n";
    if (s.smallGaps.count || s.largeGaps.count) {
        os << "  gaps over 1.1 s: " << s.smallGaps.count << " filled by trokproc with "
           << Plural(s.fillPoints, "point", "points");
        if (s.smallGaps.count) os << " (before " << Offsets(s.smallGaps) << ")";
        os << ", " << s.largeGaps.count << " left open";
        if (s.largeGaps.count) os << " (before " << Offsets(s.largeGaps) << ")";
        os << "\n";
    }
    if (s.sequenceJumps.count || s.mismatches.count) {
        os << "  sequence count jumps: " << s.sequenceJumps.count;
        if (s.sequenceJumps.count) os << " (at " << Offsets(s.sequenceJumps) << ")";
        os << ", " << s.jumpsMatchingGaps << " matching the time gap";
        if (s.mismatches.count)
            os << "; " << s.mismatches.count << " where count and time disagree (at " << Offsets(s.mismatches)
               << ")";
        os << "\n";
    }
    if (!s.Damaged()) {
        os << "damage: none\n";
    } else {
        os << "damage:\n";
        if (s.badHeaders.count)
            os << "  bad version or length field (scan stops): " << s.badHeaders.count << " (at "
               << Offsets(s.badHeaders) << ")\n";
        if (s.badLengths.count)
            os << "  " << apid << " with another length field: " << s.badLengths.count << " (at "
               << Offsets(s.badLengths) << ")\n";
        if (s.cutTail) {
            os << "  cut-off last packet at offset " << s.cutOffset << ": " << s.cutPresent;
            if (s.cutExpected) os << " of " << s.cutExpected;
            os << " bytes\n";
        }
        if (s.notPackets.count)
            os << "  bytes that are not packets: " << s.notPackets.bytes << " in "
               << Plural(s.notPackets.count, "stretch", "stretches") << " (bytes at offset: "
               << Stretches(s.notPackets) << ")\n";
    }
    os << v.Sentence(layout) << "\n";
    return os.str();
}

std::string ReportJson(const std::string& name, const PacketLayout& layout, const Survey& s,
                       const Verdict& v)
{
    std::ostringstream os;
    os.precision(17);
    os << "{\"file\":" << JsonString(name) << ",\"size\":" << s.fileSize << ",\"apids\":[";
    bool firstApid = true;
    for (const auto& a : s.apids) {
        os << (firstApid ? "" : ",") << "{\"apid\":" << a.first << ",\"packets\":" << a.second.count
           << ",\"lengths\":[";
        for (size_t i = 0; i < a.second.lengths.size(); ++i) os << (i ? "," : "") << a.second.lengths[i];
        os << "],\"more_lengths\":" << (a.second.moreLengths ? "true" : "false") << "}";
        firstApid = false;
    }
    os << "],\"mission\":{\"apid\":" << layout.apid << ",\"packet_size\":" << layout.size
       << ",\"packets\":" << s.packets;
    if (s.haveTimes) {
        os << ",\"first\":{\"offset\":" << s.firstOffset << ",\"tai93\":" << JulianDayToTAI93(s.firstTime)
           << ",\"tai\":" << JsonString(TaiText(s.firstTime)) << ",\"utc\":" << JsonString(UtcText(s.firstTime))
           << ",\"utc_from_leap_table\":" << (CivilUtcKnown(s.firstTime) ? "true" : "false") << "},\"last\":{\"offset\":" << s.lastOffset << ",\"tai93\":" << JulianDayToTAI93(s.lastTime)
           << ",\"tai\":" << JsonString(TaiText(s.lastTime)) << ",\"utc\":" << JsonString(UtcText(s.lastTime))
           << ",\"utc_from_leap_table\":" << (CivilUtcKnown(s.lastTime) ? "true" : "false") << "}";
    }
    os << ",\"repeats\":" << JsonOffsets(s.repeats) << ",\"time_faults\":" << JsonOffsets(s.timeFaults)
       << ",\"filled_gaps\":" << JsonOffsets(s.smallGaps) << ",\"fill_points\":" << s.fillPoints
       << ",\"open_gaps\":" << JsonOffsets(s.largeGaps) << ",\"sequence_jumps\":" << JsonOffsets(s.sequenceJumps)
       << ",\"jumps_matching_gaps\":" << s.jumpsMatchingGaps
       << ",\"sequence_time_mismatches\":" << JsonOffsets(s.mismatches) << "}";
    os << ",\"damage\":{\"bad_headers\":" << JsonOffsets(s.badHeaders)
       << ",\"bad_lengths\":" << JsonOffsets(s.badLengths) << ",\"cut_tail\":";
    if (s.cutTail)
        os << "{\"offset\":" << s.cutOffset << ",\"present\":" << s.cutPresent << ",\"expected\":" << s.cutExpected
           << "}";
    else
        os << "null";
    os << ",\"not_packets\":{\"count\":" << s.notPackets.count << ",\"bytes\":" << s.notPackets.bytes
       << ",\"first\":[";
    for (size_t i = 0; i < s.notPackets.first.size(); ++i)
        os << (i ? "," : "") << "{\"offset\":" << s.notPackets.first[i].first
           << ",\"length\":" << s.notPackets.first[i].second << "}";
    os << "]}}";
    os << ",\"verdict\":{\"accepted\":" << (v.Accepted() ? "true" : "false") << ",\"rule\":"
       << JsonString(v.RuleName()) << ",\"packets\":" << v.packets;
    if (v.Accepted())
        os << ",\"records\":" << v.records << ",\"filled_gaps\":" << v.smallGaps << ",\"open_gaps\":" << v.largeGaps;
    else
        os << ",\"message\":" << JsonString(v.Message());
    if (!v.Accepted() && v.rule != Verdict::tooFew) os << ",\"packet\":" << v.packet << ",\"offset\":" << v.offset;
    os << ",\"text\":" << JsonString(v.Sentence(layout)) << "}}\n";
    return os.str();
}

std::string SalvageText(const Salvage& s)
{
    if (!s.DroppedAnything()) return "";
    std::ostringstream os;
    if (s.timeOrder.count)
        os << "dropped " << Plural(s.timeOrder.count, "packet", "packets") << " out of time order (at "
           << Offsets(s.timeOrder) << ")\n";
    if (s.badLengths.count)
        os << "dropped " << Plural(s.badLengths.count, "packet", "packets") << " with another length field (at "
           << Offsets(s.badLengths) << ")\n";
    if (s.cutTail)
        os << "dropped the cut-off last packet at offset " << s.cutOffset << " (" << s.cutPresent << " bytes)\n";
    if (s.skipped.count)
        os << "skipped " << s.skipped.bytes << " bytes that are not packets in "
           << Plural(s.skipped.count, "stretch", "stretches") << " (bytes at offset: " << Stretches(s.skipped)
           << ")\n";
    os << "kept " << Plural(s.check.packets, "packet", "packets") << " that trokproc reads, and "
       << Plural(s.keptOther, "packet", "packets") << " of other APIDs\n";
    return os.str();
}

} // namespace toolkit
