// trokproc's verdict on a packet file, by the rules it reads the file
// with, in one pass over the headers.
#include "toolkit/packets/pktscan_walk.h"

#include <cmath>

#include "vn_proc_PacketRules.h"

namespace toolkit {

using namespace walk;

namespace {

// The packet trokproc reads last is the last one indexed; its state and
// that of the first one are kept, the inner ones are judged in passing.
struct Indexed {
    uint64_t offset = 0;
    bool whole = false, fits = false;
    long lengthField = 0;
    double time = 0;
};

// trokproc's scan and repair over the headers, one packet at a time.
class Judge
{
public:
    Judge(const PacketLayout& packets, Verdict& verdict) : layout(packets), v(verdict) {}

    // The header at pos, with `avail` bytes of the packet there; false once
    // the scan stops.
    bool Step(uint64_t pos, const char* b, size_t avail);
    // The verdict once the scan is over.
    void Conclude();

private:
    void Index(uint64_t pos, const char* b, size_t avail);

    const PacketLayout& layout;
    Verdict& v;
    Header head;
    Indexed first, prev, last;
    bool innerBad = false, timeFault = false;
    uint64_t badPacket = 0, badOffset = 0;
    long badField = 0;
    long lastSequence = -1;
    uint64_t n = 0;
};

bool Judge::Step(uint64_t pos, const char* b, size_t avail)
{
    head.Load(b);
    if (HeaderStopsScan(head.pkt)) {
        v.rule = Verdict::scanStops;
        v.offset = pos;
        v.packet = n;
        v.version = head.pkt.Version();
        v.lengthField = head.LengthField();
        v.packets = n;
        return false;
    }
    if (static_cast<unsigned>(head.pkt.APID()) == layout.apid) {
        if (!RepeatsSequence(head.pkt, lastSequence)) Index(pos, b, avail);
        lastSequence = head.pkt.Sequence();
    }
    return true;
}

void Judge::Index(uint64_t pos, const char* b, size_t avail)
{
    Indexed cur;
    cur.offset = pos;
    cur.whole = avail >= layout.size;
    cur.fits = LengthFitsBuffer(head.pkt, layout.size);
    cur.lengthField = head.LengthField();
    cur.time = avail >= kTimeEnd ? PacketTimeTag(b) : std::nan("");
    if (n == 0) first = cur;
    else if (!innerBad && !timeFault) {
        // The repair stream compares each pair up to the first packet it
        // cannot read, then stops reading.
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

void Judge::Conclude()
{
    if (v.rule == Verdict::scanStops) return;
    v.packets = n;
    if (n < 2) {
        v.rule = Verdict::tooFew;
        v.records = 0;
        return;
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
            return;
        }
    }
    if (timeFault) {
        v.rule = Verdict::timeOrder;
        v.records = 0;
        return;
    }
    if (innerBad) {
        v.rule = Verdict::readError;
        v.packet = badPacket;
        v.offset = badOffset;
        v.lengthField = badField;
        v.records = 0;
        return;
    }
    v.records += n;
}

} // namespace

bool JudgePacketFile(int fd, uint64_t size, const PacketLayout& layout, Verdict& v, std::string& error)
{
    v = Verdict();
    ByteSource src(fd, size);
    Judge judge(layout, v);
    Header head;
    for (uint64_t pos = 0; pos < size;) {
        size_t avail = 0;
        const char* b = src.At(pos, layout.size > kTimeEnd ? layout.size : kTimeEnd, avail);
        if (avail < kHeader || !judge.Step(pos, b, avail)) break;
        head.Load(b);
        pos += head.Whole();
    }
    if (src.failed) {
        error = src.error;
        return false;
    }
    judge.Conclude();
    return true;
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

} // namespace toolkit
