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

} // namespace toolkit
