// The survey of a packet file: what a walk of it finds.
#include <cmath>
#include <limits>

#include "toolkit/packets/pktscan_walk.h"
#include "vn_proc_PacketRules.h"

namespace toolkit {

using namespace walk;

namespace {

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

// The survey as the walk goes: what each piece adds to it.
class Surveyor
{
public:
    Surveyor(Survey& survey, const PacketLayout& packets) : s(survey), layout(packets) {}

    void Add(const Piece& p);

private:
    void Mission(const Piece& p);
    // Sequence jumps and time gaps between packets that are no repeats.
    void Order(const Piece& p, double t);

    Survey& s;
    const PacketLayout& layout;
    Header head;
    long lastSequence = -1;       // last packet of the APID, repeats included
    bool haveOrdered = false;     // a packet in time order before this one
    double orderedTime = 0;
    bool havePrev = false;        // the previous packet that was no repeat
    bool prevInOrder = true;
    long prevSequence = 0;
    double prevTime = 0;
};

void Surveyor::Add(const Piece& p)
{
    switch (p.kind) {
    case Piece::mission:
    case Piece::other:
        head.Load(p.bytes);
        CountPacket(s, static_cast<unsigned>(head.pkt.APID()), p.length);
        if (p.kind == Piece::mission) Mission(p);
        break;
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
    case Piece::splice:
        s.splices.Add(p.offset);
        break;
    case Piece::end:
        break;
    }
}

void Surveyor::Mission(const Piece& p)
{
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
        return;
    }
    lastSequence = head.pkt.Sequence();
    Order(p, t);
}

void Surveyor::Order(const Piece& p, double t)
{
    const bool inOrder = !haveOrdered || TimesInOrder(orderedTime, t);
    if (!inOrder) s.timeFaults.Add(p.offset);
    if (havePrev && prevInOrder) {
        const long d = ((lastSequence - prevSequence) % 16384 + 16384) % 16384;
        const double g = (t - prevTime) * 86400.0;
        const bool timeGap = ClassifyGap(prevTime, t) != PacketGap::none;
        if (d != 1) s.sequenceJumps.Add(p.offset);
        if (d != 1 || timeGap) {
            // A jump of d counts matches a gap of about d seconds, modulo
            // the counter's wrap.
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
    if (!inOrder) return;
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
}

} // namespace

bool SurveyPacketFile(int fd, uint64_t size, const PacketLayout& layout, Survey& s, std::string& error)
{
    s = Survey();
    s.fileSize = size;
    ByteSource src(fd, size);
    Walker walk(src, size, layout, -std::numeric_limits<double>::infinity(),
                std::numeric_limits<double>::infinity());
    Surveyor surveyor(s, layout);
    for (Piece p = walk.Next(); p.kind != Piece::end; p = walk.Next()) surveyor.Add(p);
    if (walk.Failed()) {
        error = src.error;
        return false;
    }
    return true;
}

} // namespace toolkit
