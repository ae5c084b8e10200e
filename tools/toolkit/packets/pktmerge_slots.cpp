// The copies of a day's packets, each distinct copy kept once, and their
// grouping into the packets of the stream.
#include "toolkit/packets/pktmerge_slots.h"

#include <algorithm>
#include <cstring>

#include "timelib_proc_TAI93.h"

namespace toolkit {

namespace merge {

namespace {

uint64_t TimeKey(double t)
{
    uint64_t k;
    std::memcpy(&k, &t, sizeof k);
    return k;
}

} // namespace

void DaySlots::Add(uint32_t input, const DumpPacket& p)
{
    const auto found = slots.find(TimeKey(p.time));
    uint32_t v = found == slots.end() ? kNone : found->second, last = kNone;
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
        variants.push_back(c);
        if (last == kNone) slots.emplace(TimeKey(p.time), v);
        else variants[last].nextInSlot = v;
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
    const uint32_t at = static_cast<uint32_t>(sources.size());
    sources.push_back(s);
    if (c.lastSource == kNone) c.firstSource = at;
    else sources[c.lastSource].next = at;
    c.lastSource = at;
    ++c.listed;
}

std::vector<uint32_t> DaySlots::Groups(std::vector<size_t>& starts) const
{
    std::vector<uint32_t> heads;
    heads.reserve(slots.size());
    for (const auto& s : slots) heads.push_back(s.second);
    std::sort(heads.begin(), heads.end(),
              [&](uint32_t a, uint32_t b) { return variants[a].time < variants[b].time; });
    std::vector<uint32_t> order;
    order.reserve(variants.size());
    starts.clear();
    double lastTime = 0;
    for (uint32_t head : heads) {
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
