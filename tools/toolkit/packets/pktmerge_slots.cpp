// The copies of a day's packets, each distinct copy kept once, and their
// grouping into the packets of the stream.
#include "toolkit/packets/pktmerge_slots.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "timelib_proc_TAI93.h"

namespace toolkit {

namespace merge {

DaySlots::DaySlots(double dayStart, double dayEnd, size_t copies, size_t size) : start(dayStart)
{
    store.reserve(copies * size);
    variants.reserve(copies);
    sources.reserve(copies);
    seconds.assign(static_cast<size_t>(std::ceil(dayEnd - dayStart)) + 1, kNone);
}

void DaySlots::Add(uint32_t input, const DumpPacket& p)
{
    const double tai93 = JulianDayToTAI93(p.time);
    const size_t second = std::min(seconds.size() - 1, static_cast<size_t>(std::max(0.0, tai93 - start)));
    // The time tag among those of its second, kept in order.
    uint32_t* link = &seconds[second];
    while (*link != kNone && variants[*link].time < p.time) link = &variants[*link].nextTime;
    uint32_t v = *link != kNone && variants[*link].time == p.time ? *link : kNone, last = kNone;
    for (; v != kNone; last = v, v = variants[v].nextInSlot) {
        const Variant& c = variants[v];
        if (c.length == p.length && std::memcmp(store.data() + c.at, p.bytes, p.length) == 0) break;
    }
    if (v == kNone) {
        Variant c;
        c.at = store.size();
        c.length = p.length;
        c.time = p.time;
        c.sequence = p.sequence;
        c.fitsRules = p.fitsRules;
        c.firstInput = input;
        store.insert(store.end(), p.bytes, p.bytes + p.length);
        v = static_cast<uint32_t>(variants.size());
        if (last != kNone) {
            variants.push_back(c);
            variants[last].nextInSlot = v;
        } else {
            // The first copy of a new time tag: `link` moves with the
            // vector, so it is followed again.
            const uint32_t after = *link;
            c.nextTime = after;
            variants.push_back(c);
            uint32_t* at = &seconds[second];
            while (*at != after) at = &variants[*at].nextTime;
            *at = v;
        }
    }
    Variant& c = variants[v];
    ++c.occurrences;
    if (c.lastInput != input) {
        ++c.votes;
        c.lastInput = input;
    }
    if (c.listed == kListedSources) {
        ++c.moreSources;
        return;
    }
    Source s;
    s.place.input = input;
    s.place.offset = p.offset;
    const uint32_t added = static_cast<uint32_t>(sources.size());
    sources.push_back(s);
    if (c.lastSource == kNone) c.firstSource = added;
    else sources[c.lastSource].next = added;
    c.lastSource = added;
    ++c.listed;
}

std::vector<uint32_t> DaySlots::Groups(std::vector<size_t>& starts) const
{
    std::vector<uint32_t> order;
    order.reserve(variants.size());
    starts.clear();
    double lastTime = 0;
    for (uint32_t first : seconds)
        for (uint32_t head = first; head != kNone; head = variants[head].nextTime) {
            const double t = variants[head].time;
            // Joins the group before when one of its copies has a sequence
            // count of this time tag's and lies close before it.
            bool joins = !starts.empty() && (t - lastTime) * 86400.0 < kNearSeconds;
            if (joins) {
                bool shared = false;
                for (size_t i = starts.back(); i < order.size() && !shared; ++i)
                    for (uint32_t v = head; v != kNone && !shared; v = variants[v].nextInSlot)
                        shared = variants[order[i]].sequence == variants[v].sequence;
                joins = shared;
            }
            if (!joins) starts.push_back(order.size());
            for (uint32_t v = head; v != kNone; v = variants[v].nextInSlot) order.push_back(v);
            lastTime = t;
        }
    starts.push_back(order.size());
    return order;
}

std::vector<MergeSource> DaySlots::Sources(uint32_t v) const
{
    std::vector<MergeSource> out;
    for (uint32_t s = variants[v].firstSource; s != kNone; s = sources[s].next) out.push_back(sources[s].place);
    return out;
}

MergeCopy DaySlots::Listed(uint32_t v) const
{
    const Variant& c = variants[v];
    MergeCopy copy;
    copy.sources = Sources(v);
    copy.moreSources = c.moreSources;
    copy.votes = c.votes;
    copy.tai93 = JulianDayToTAI93(c.time);
    return copy;
}

} // namespace merge

} // namespace toolkit
