// A copy of a packet file that trokproc accepts, written in one walk.
#include "toolkit/packets/pktscan_walk.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

#include "vn_proc_PacketRules.h"

namespace toolkit {

using namespace walk;

namespace {

// The copy as it is written: buffered output, and the last packet of the
// APID in time order held back until the next one shows whether its own
// time is the one that is wrong (a time tag that jumps ahead would
// otherwise make every later packet break the order). What follows it
// meanwhile is held with it, each piece marked by what it is: the held
// packet, a repeat of it (both go or stay together), or anything else
// (which stays).
class SalvageWriter
{
public:
    SalvageWriter(int fdOut, uint64_t size, const PacketLayout& packets, Salvage& result, std::string& err)
        : fd(fdOut), layout(packets), out(result), error(err)
    {
        obuf.reserve(size < kBuffer ? static_cast<size_t>(size) : kBuffer);
    }

    void Mission(const Piece& p);
    // A piece that stays whatever happens to the held packet.
    void Put(const Piece& p);
    // Releases what is held and writes out the rest.
    void Finish()
    {
        if (held.have) Release(true);
        if (!writeFailed) Flush();
    }
    bool WriteFailed() const { return writeFailed; }

private:
    enum Kind { packet, repeat, other };
    struct Held {
        bool have = false;
        double time = 0;
        long sequence = 0;
        uint64_t offset = 0;
        std::vector<std::pair<std::string, Kind>> pieces;
        size_t bytes = 0;
    };

    void Flush();
    void Emit(const char* bytes, size_t n)
    {
        obuf.insert(obuf.end(), bytes, bytes + n);
        if (obuf.size() >= kBuffer - layout.size) Flush();
    }
    void Release(bool keep);
    void Hold(const Piece& p, Kind kind)
    {
        held.pieces.emplace_back(std::string(p.bytes, p.length), kind);
        held.bytes += p.length;
    }
    // How far a packet's time is from the one its sequence count implies at
    // one packet a second, counted from the last packet written.
    double Misfit(double t, long sequence) const
    {
        const long d = ((sequence - lastSequence) % 16384 + 16384) % 16384;
        return std::fabs((t - lastTime) * 86400.0 - static_cast<double>(d));
    }

    int fd;
    PacketLayout layout;
    Salvage& out;
    std::string& error;
    std::vector<char> obuf;
    bool writeFailed = false;
    Held held;
    Header head;
    long lastSequence = -1;   // of the last packet of the APID written
    bool haveTime = false;
    double lastTime = 0;
};

void SalvageWriter::Flush()
{
    size_t done = 0;
    while (done < obuf.size() && !writeFailed) {
        const ssize_t w = write(fd, obuf.data() + done, obuf.size() - done);
        if (w > 0) done += static_cast<size_t>(w);
        else if (w < 0 && errno == EINTR) continue;
        else {
            writeFailed = true;
            error = w < 0 ? std::strerror(errno) : "nothing written";
        }
    }
    obuf.clear();
}

void SalvageWriter::Release(bool keep)
{
    for (const auto& piece : held.pieces) {
        if (keep || piece.second == other) Emit(piece.first.data(), piece.first.size());
        else if (piece.second == repeat) --out.kept;
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
}

void SalvageWriter::Put(const Piece& p)
{
    if (!held.have) {
        Emit(p.bytes, p.length);
        return;
    }
    Hold(p, other);
    if (held.bytes > kBuffer) Release(true);   // memory stays bounded
}

void SalvageWriter::Mission(const Piece& p)
{
    head.Load(p.bytes);
    const long sequence = head.pkt.Sequence();
    // A repeat in the copy is left out by trokproc's index; it stays.
    if (RepeatsSequence(head.pkt, held.have ? held.sequence : lastSequence)) {
        ++out.kept;
        if (held.have) Hold(p, repeat);
        else Emit(p.bytes, p.length);
        return;
    }
    const double t = PacketTimeTag(p.bytes);
    if (held.have) {
        if (TimesInOrder(held.time, t)) {
            Release(true);
        } else if (haveTime && TimesInOrder(lastTime, t) && Misfit(t, sequence) < Misfit(held.time, held.sequence)) {
            Release(false);   // the held packet jumped ahead
        } else {
            out.timeOrder.Add(p.offset);
            return;
        }
    } else if (haveTime && !TimesInOrder(lastTime, t)) {
        out.timeOrder.Add(p.offset);
        return;
    }
    ++out.kept;
    held.have = true;
    held.time = t;
    held.sequence = sequence;
    held.offset = p.offset;
    Hold(p, packet);
}

} // namespace

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
    SalvageWriter copy(fdOut, size, layout, out, error);
    for (Piece p = walk.Next(); p.kind != Piece::end && !copy.WriteFailed(); p = walk.Next()) {
        switch (p.kind) {
        case Piece::mission:
            copy.Mission(p);
            break;
        case Piece::other:
            copy.Put(p);
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
        case Piece::splice:
            out.splices.Add(p.offset);
            break;
        case Piece::badHeader:
        case Piece::end:
            break;
        }
    }
    copy.Finish();
    if (walk.Failed()) {
        error = src.error;
        return false;
    }
    return !copy.WriteFailed();
}

} // namespace toolkit
