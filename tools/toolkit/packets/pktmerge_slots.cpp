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
    const size_t n = static_cast<size_t>(std::ceil(dayEnd - dayStart)) + 1;
    seconds.assign(n, kNone);
    split = n / 2;
    for (Part& part : parts) {
        part.store.reserve(copies / 2 * size);
        part.variants.reserve(copies / 2);
        part.sources.reserve(copies / 16);
    }
}

size_t DaySlots::Second(double tai93) const
{
    return std::min(seconds.size() - 1, static_cast<size_t>(std::max(0.0, tai93 - start)));
}

void DaySlots::Add(uint32_t input, const DumpPacket& p)
{
    const size_t second = Second(JulianDayToTAI93(p.time));
    const int part = second >= split;
    // The time tag among those of its second, kept in order.
    uint32_t* link = &seconds[second];
    while (*link != kNone && At(*link).time < p.time) link = &At(*link).nextTime;
    uint32_t v = *link != kNone && At(*link).time == p.time ? *link : kNone, last = kNone;
    for (; v != kNone; last = v, v = At(v).nextInSlot) {
        const Variant& c = At(v);
        if (c.length == p.length && std::memcmp(Bytes(v), p.bytes, p.length) == 0) break;
    }
    if (v == kNone) {
        const uint32_t after = *link;   // `link` may move with the part's copies
        v = NewCopy(part, input, p);
        if (last != kNone) {
            At(last).nextInSlot = v;
        } else {
            At(v).nextTime = after;
            uint32_t* at = &seconds[second];
            while (*at != after) at = &At(*at).nextTime;
            *at = v;
        }
    }
    AddPlace(At(v), part, input, p.offset);
}

uint32_t DaySlots::NewCopy(int part, uint32_t input, const DumpPacket& p)
{
    Part& in = parts[part];
    Variant c;
    c.at = in.store.size();
    c.length = static_cast<uint16_t>(p.length);
    c.time = p.time;
    c.sequence = static_cast<uint16_t>(p.sequence);
    c.fitsRules = p.fitsRules;
    c.firstInput = input;
    in.store.insert(in.store.end(), p.bytes, p.bytes + p.length);
    in.variants.push_back(c);
    return static_cast<uint32_t>(part) << 31 | static_cast<uint32_t>(in.variants.size() - 1);
}

void DaySlots::AddPlace(Variant& c, int part, uint32_t input, uint64_t offset)
{
    ++c.occurrences;
    if (c.lastInput != input) {
        ++c.votes;
        c.lastInput = input;
    }
    if (c.listed == kListedSources) {
        ++c.moreSources;
    } else if (c.listed++ == 0) {
        c.firstOffset = offset;
    } else {
        // Listed after the others of the copy (a copy has few).
        std::vector<Source>& sources = parts[part].sources;
        Source s;
        s.place.input = input;
        s.place.offset = offset;
        uint32_t* next = &c.otherSources;
        while (*next != kNone) next = &sources[*next].next;
        *next = static_cast<uint32_t>(sources.size());
        sources.push_back(s);
    }
}

std::vector<uint32_t> DaySlots::Groups(std::vector<size_t>& starts) const
{
    std::vector<uint32_t> order;
    order.reserve(parts[0].variants.size() + parts[1].variants.size());
    starts.clear();
    double lastTime = 0;
    for (uint32_t first : seconds)
        for (uint32_t head = first; head != kNone; head = (*this)[head].nextTime) {
            const double t = (*this)[head].time;
            // Joins the group before when one of its copies has a sequence
            // count of this time tag's and lies close before it.
            bool joins = !starts.empty() && (t - lastTime) * 86400.0 < kNearSeconds;
            if (joins) {
                bool shared = false;
                for (size_t i = starts.back(); i < order.size() && !shared; ++i)
                    for (uint32_t v = head; v != kNone && !shared; v = (*this)[v].nextInSlot)
                        shared = (*this)[order[i]].sequence == (*this)[v].sequence;
                joins = shared;
            }
            if (!joins) starts.push_back(order.size());
            for (uint32_t v = head; v != kNone; v = (*this)[v].nextInSlot) order.push_back(v);
            lastTime = t;
        }
    starts.push_back(order.size());
    return order;
}

std::vector<MergeSource> DaySlots::Sources(uint32_t v) const
{
    const Variant& c = (*this)[v];
    const std::vector<Source>& sources = parts[v >> 31].sources;
    std::vector<MergeSource> out{{c.firstInput, c.firstOffset}};
    for (uint32_t s = c.otherSources; s != kNone; s = sources[s].next) out.push_back(sources[s].place);
    return out;
}

MergeCopy DaySlots::Listed(uint32_t v) const
{
    const Variant& c = (*this)[v];
    MergeCopy copy;
    copy.sources = Sources(v);
    copy.moreSources = c.moreSources;
    copy.votes = c.votes;
    copy.tai93 = JulianDayToTAI93(c.time);
    return copy;
}

} // namespace merge

} // namespace toolkit
