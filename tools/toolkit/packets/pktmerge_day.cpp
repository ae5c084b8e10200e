// The merge's second pass, one day: every input's copies of the day's
// packets collected, each packet's copies resolved, the chosen ones
// written in time order.
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

#include "timelib_proc_TAI93.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/packets/pktmerge_dump.h"
#include "toolkit/packets/pktmerge_fit.h"
#include "toolkit/packets/pktmerge_slots.h"
#include "toolkit/time/utcday.h"
#include "vn_proc_PacketRules.h"

namespace toolkit {

using namespace merge;

namespace {

// Takes one input's good packets of the day into the slots, up to the
// last one of its stretch.
class DayCollector : public DumpVisitor
{
public:
    DayCollector(MergeDay d, const MergeInput& in, const DayStretch& s, uint32_t index, DaySlots& into, int onlyPart)
        : stretch(s), damaged(in.damagedTimes), input(index), slots(into), start(DayStartTai93(d)),
          end(DayStartTai93(d + 1)), part(onlyPart)
    {
    }

    bool Packet(const DumpPacket& p) override
    {
        const double tai93 = JulianDayToTAI93(p.time);
        if (tai93 >= start && tai93 < end && slots.PartOf(tai93) == part && !Damaged(p.offset)) slots.Add(input, p);
        return p.offset < stretch.last;
    }

private:
    // The first pass found its time tag damaged.
    bool Damaged(uint64_t offset) const
    {
        return std::binary_search(damaged.begin(), damaged.end(), offset);
    }


    const DayStretch& stretch;
    const std::vector<uint64_t>& damaged;
    uint32_t input;
    DaySlots& slots;
    double start, end;
    int part;
};

// Collects one part of the day from every input whose packets of the day
// reach into it, in report order.
bool CollectPart(MergeDay day, const MergeReport& report, DaySlots& slots, int part, std::string& error)
{
    for (uint32_t i = 0; i < report.inputs.size(); ++i) {
        const MergeInput& in = report.inputs[i];
        const auto found = in.days.find(day);
        if (!in.Usable() || found == in.days.end() || !found->second.packets) continue;
        const DayStretch& stretch = found->second;
        if (slots.PartOf(part ? stretch.lastTai93 : stretch.firstTai93) != part) continue;
        const int fd = ReopenInput(in, error);
        if (fd < 0) {
            error = in.name + ": " + error;
            return false;
        }
        DayCollector collect(day, in, stretch, i, slots, part);
        const bool read = WalkDump(fd, in.identity.size, report.layout, in.minTime, in.maxTime, stretch.from,
                                   collect, error, nullptr, false, false);
        close(fd);
        if (!read) {
            error = in.name + ": " + error;
            return false;
        }
    }
    return true;
}

// Resolves the day's packets one group of copies at a time and writes the
// chosen copies.
class DayMerge
{
public:
    DayMerge(MergeReport& r, MergeCarry& c, MergeSink& o, const DaySlots& s)
        : report(r), carry(c), out(o), slots(s)
    {
        if (carry.have) previousTime = PacketTimeTag(carry.bytes.data());
    }

    // The day's packets; returns how many were written.
    uint64_t Run();

private:
    void Resolve(const uint32_t* copies, size_t n, uint32_t next);
    size_t BestFit(const std::vector<size_t>& candidates, uint32_t next, MergeConflict& c);
    void DropAll(const uint32_t* copies, size_t n);
    void Write(uint32_t v);
    bool Before(uint32_t a, uint32_t b) const;

    MergeReport& report;
    MergeCarry& carry;
    MergeSink& out;
    const DaySlots& slots;
    const uint32_t* group = nullptr;
    const char* previous = nullptr;   // the packet written last today: the neighbour before
    double previousTime = 0;          // the time tag of the packet written last
    uint64_t written = 0;
    const char* run = nullptr;        // the packets written and not yet passed on
    size_t runLength = 0;
};

uint64_t DayMerge::Run()
{
    std::vector<size_t> starts;
    const std::vector<uint32_t> order = slots.Groups(starts);
    const size_t groups = starts.size() - 1;
    // The copy of the next packet that nothing contests, the neighbour
    // after each group.
    std::vector<uint32_t> next(groups, kNone);
    for (size_t g = groups; g-- > 1;) {
        const bool single = starts[g + 1] - starts[g] == 1 && slots[order[starts[g]]].fitsRules;
        next[g - 1] = single ? order[starts[g]] : next[g];
    }
    for (size_t g = 0; g < groups; ++g) Resolve(order.data() + starts[g], starts[g + 1] - starts[g], next[g]);
    if (run) out.Write(run, runLength);
    if (previous) {
        carry.have = true;
        carry.bytes.assign(previous, report.layout.size);
    }
    return written;
}

void DayMerge::Resolve(const uint32_t* copies, size_t n, uint32_t next)
{
    if (n == 1 && slots[copies[0]].fitsRules) {
        Write(copies[0]);
        return;
    }
    std::vector<size_t> candidates;
    for (size_t i = 0; i < n; ++i)
        if (slots[copies[i]].fitsRules) candidates.push_back(i);
    if (candidates.empty()) {
        DropAll(copies, n);
        return;
    }
    group = copies;
    MergeConflict c;
    for (size_t i = 0; i < n; ++i) {
        c.copies.push_back(slots.Listed(copies[i]));
        if (!slots[copies[i]].fitsRules) c.copies.back().rule = "length field";
    }
    uint32_t total = 0;
    size_t most = candidates[0];
    for (size_t i : candidates) {
        total += slots[copies[i]].votes;
        if (slots[copies[i]].votes > slots[copies[most]].votes) most = i;
    }
    if (candidates.size() == 1) {
        c.chosen = candidates[0];
        c.reason = "packet-rules";
    } else if (slots[copies[most]].votes >= 3 && 2 * slots[copies[most]].votes > total) {
        c.chosen = most;
        c.reason = "majority";
    } else {
        c.chosen = BestFit(candidates, next, c);
    }
    Write(copies[c.chosen]);
    c.tai93 = c.copies[c.chosen].tai93;
    report.conflicts.push_back(c);
}

// The order of preference among copies that fit equally: more inputs hold
// it, then an earlier input holds it, then an earlier time tag.
bool DayMerge::Before(uint32_t a, uint32_t b) const
{
    const Variant &x = slots[a], &y = slots[b];
    if (x.votes != y.votes) return x.votes > y.votes;
    if (x.firstInput != y.firstInput) return x.firstInput < y.firstInput;
    return x.time < y.time;
}

size_t DayMerge::BestFit(const std::vector<size_t>& candidates, uint32_t next, MergeConflict& c)
{
    PacketState before, after;
    if (previous) before = DecodeState(previous);
    if (next != kNone) after = DecodeState(slots.Bytes(next));
    bool anyFit = false;
    for (size_t i : candidates) {
        const PacketState s = DecodeState(slots.Bytes(group[i]));
        MergeCopy& fit = c.copies[i];
        if (previous) FitNeighbour(s, before, fit);
        if (next != kNone) FitNeighbour(s, after, fit);
        FitNorm(s, fit);
        anyFit = anyFit || fit.fitted;
    }
    c.reason = anyFit ? "best-fit" : "no-neighbours";
    size_t best = candidates[0];
    for (size_t i : candidates) {
        if (i == best) continue;
        const double a = c.copies[i].misfit, b = c.copies[best].misfit;
        const bool better = anyFit && a != b ? a < b : Before(group[i], group[best]);
        if (better) best = i;
    }
    if (!anyFit)
        for (MergeCopy& copy : c.copies) copy.misfit = 0, copy.normOff = 0;
    return best;
}

void DayMerge::DropAll(const uint32_t* copies, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        for (const MergeSource& s : slots.Sources(copies[i])) {
            MergeDrop d;
            d.input = s.input;
            d.offset = s.offset;
            d.reason = "bad length";
            d.bytes = slots[copies[i]].length;
            d.haveTime = true;
            d.tai93 = JulianDayToTAI93(slots[copies[i]].time);
            report.dropped.push_back(d);
        }
}

void DayMerge::Write(uint32_t v)
{
    const Variant& c = slots[v];
    const char* bytes = slots.Bytes(v);
    // Copies that follow each other in the store go out in one write.
    if (run && run + runLength == bytes) {
        runLength += c.length;
    } else {
        if (run) out.Write(run, runLength);
        run = bytes;
        runLength = c.length;
    }
    ++report.inputs[c.firstInput].used;
    report.repeats += c.occurrences - 1;
    const double tai93 = JulianDayToTAI93(c.time);
    if (report.packets && ClassifyGap(previousTime, c.time) != PacketGap::none) {
        MergeGap g;
        g.startTai93 = JulianDayToTAI93(previousTime);
        g.endTai93 = tai93;
        report.gaps.push_back(g);
    }
    if (report.packets == 0) report.firstTai93 = tai93;
    report.lastTai93 = tai93;
    ++report.packets;
    ++written;
    previous = bytes;
    previousTime = c.time;
}

} // namespace

bool MergeOneDay(MergeDay day, MergeReport& report, MergeCarry& carry, MergeSink& out, std::string& error)
{
    size_t copies = 0;
    for (const MergeInput& in : report.inputs) {
        const auto stretch = in.days.find(day);
        if (in.Usable() && stretch != in.days.end()) copies += stretch->second.packets;
    }
    DaySlots slots(DayStartTai93(day), DayStartTai93(day + 1), copies, report.layout.size);
    // The day's halves at once where a second core is to be had.
    std::string secondError;
    bool secondRead = true;
    std::exception_ptr secondFailed;
    std::thread second;
    if (std::thread::hardware_concurrency() > 1) {
        try {
            second = std::thread([&] {
                try {
                    secondRead = CollectPart(day, report, slots, 1, secondError);
                } catch (...) {
                    secondFailed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // no thread to be had: one half after the other
        }
    }
    bool read = false;
    try {
        read = CollectPart(day, report, slots, 0, error);
    } catch (...) {
        if (second.joinable()) second.join();
        throw;
    }
    if (second.joinable()) second.join();
    else if (read) secondRead = CollectPart(day, report, slots, 1, secondError);
    if (secondFailed) std::rethrow_exception(secondFailed);
    if (read && !secondRead) error = secondError;
    if (!read || !secondRead) return false;
    DayMerge merge(report, carry, out, slots);
    const uint64_t written = merge.Run();
    if (written) report.days.emplace_back(day, written);
    return true;
}

} // namespace toolkit
