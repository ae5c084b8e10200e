// The merge's first pass: every input opened, walked for the days it
// touches and hashed as it is read, then put in report order with its
// duplicates marked.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include "timelib_proc_TAI93.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/packets/pktmerge_dump.h"
#include "toolkit/time/utcday.h"

namespace toolkit {

using namespace merge;

namespace {

// The UTC day of a time tag, the last day's bounds kept: neighbouring
// packets mostly share a day.
class DayOf
{
public:
    MergeDay operator()(double julianDay)
    {
        const double tai93 = JulianDayToTAI93(julianDay);
        if (!(tai93 >= start && tai93 < end)) {
            day = UtcDayOfTai93(tai93);
            start = DayStartTai93(day);
            end = DayStartTai93(day + 1);
        }
        return day;
    }

private:
    MergeDay day = 0;
    double start = 1, end = 0;
};

// What the first pass keeps of a dump: its telemetry packets, the days they
// lie on and where, packets of other APIDs, and what it drops.
class DumpSurvey : public DumpVisitor
{
public:
    explicit DumpSurvey(MergeInput& in) : input(in)
    {
        input.packets = 0;
        input.days.clear();
    }

    bool Packet(const DumpPacket& p) override;
    void Piece(const walk::Piece& p) override;
    std::vector<MergeDrop> drops;
    std::map<unsigned, uint64_t> others;

private:
    void Drop(uint64_t offset, const char* reason, uint64_t bytes = 0)
    {
        MergeDrop d;
        d.offset = offset;
        d.reason = reason;
        d.bytes = bytes;
        drops.push_back(d);
    }

    MergeInput& input;
    DayOf dayOf;
    walk::Header head;
    uint64_t before[2] = {0, 0};   // offsets of the two packets before this one
    uint64_t seen = 0;
};

bool DumpSurvey::Packet(const DumpPacket& p)
{
    ++input.packets;
    const MergeDay day = dayOf(p.time);
    auto found = input.days.find(day);
    if (found == input.days.end()) {
        DayStretch s;
        s.from = seen >= 2 ? before[seen % 2] : seen == 1 ? before[0] : p.offset;
        found = input.days.emplace(day, s).first;
    }
    found->second.last = p.offset;
    if (p.damagedTime) {
        Drop(p.offset, "damaged time tag", p.length);
        drops.back().haveTime = true;
        drops.back().tai93 = JulianDayToTAI93(p.time);
    } else {
        DayStretch& d = found->second;
        const double tai93 = JulianDayToTAI93(p.time);
        if (!d.packets || tai93 < d.firstTai93) d.firstTai93 = tai93;
        if (!d.packets || tai93 > d.lastTai93) d.lastTai93 = tai93;
        ++d.packets;
    }
    before[seen % 2] = p.offset;
    ++seen;
    return true;
}

void DumpSurvey::Piece(const walk::Piece& p)
{
    switch (p.kind) {
    case walk::Piece::other:
        head.Load(p.bytes);
        ++others[static_cast<unsigned>(head.pkt.APID())];
        break;
    case walk::Piece::splice: Drop(p.offset, "splice", p.length); break;
    case walk::Piece::badHeader: Drop(p.offset, "bad header"); break;
    case walk::Piece::badLength: Drop(p.offset, "bad length", p.length); break;
    case walk::Piece::cutTail: Drop(p.offset, "cut", p.length); break;
    case walk::Piece::notPackets:
        if (p.length) Drop(p.offset, "not packets", p.length);
        break;
    default: break;
    }
}

// What the first pass found in one input.
struct Surveyed {
    MergeInput input;
    std::vector<MergeDrop> drops;
    std::map<unsigned, uint64_t> others;
};

// One walk of an input within a time range; with `hash` its content hash
// too. The reason in `why` when it cannot be read.
bool Walk(const MergeReport& report, Surveyed& s, double lo, double hi, bool hash, WalkSummary& summary,
          std::string& why)
{
    MergeInput& in = s.input;
    const int fd = hash ? OpenInput(in.name, in.identity, why) : ReopenInput(in, why);
    if (fd < 0) return false;
    DumpSurvey survey(in);
    const bool read = WalkDump(fd, in.identity.size, report.layout, lo, hi, 0, survey, why, &summary, hash);
    close(fd);
    s.drops = survey.drops;
    s.others = survey.others;
    return read;
}

// The first pass of one input: hashed while it is walked. Its
// resynchronisation range is learnt from that walk, and it is walked again
// within it only when the range mattered (it lost step or found a splice).
void SurveyOne(const MergeReport& report, Surveyed& s)
{
    MergeInput& in = s.input;
    const double inf = std::numeric_limits<double>::infinity();
    WalkSummary summary;
    std::string why;
    if (!Walk(report, s, -inf, inf, true, summary, why)) {
        in.refused = why;
        return;
    }
    in.sha256 = summary.sha256;
    in.bytes = summary.bytes;
    in.minTime = summary.haveStepped ? summary.steppedMin - walk::kRangeSlackDays : -inf;
    in.maxTime = summary.haveStepped ? summary.steppedMax + walk::kRangeSlackDays : inf;
    if ((summary.losses || summary.splices) && !Walk(report, s, in.minTime, in.maxTime, false, summary, why))
        in.refused = why;
}

// An input with no packet of a day left is refused whole.
void RefuseUnusable(const MergeReport& report, MergeInput& in)
{
    bool usable = false;
    for (const auto& d : in.days) usable = usable || d.second.packets > 0;
    if (usable) return;
    in.refused = in.packets ? "none of its " + std::to_string(in.packets) + " telemetry packets has a time tag "
                              "its neighbours agree with"
                            : "holds no telemetry packets of APID " + std::to_string(report.layout.apid) + " (" +
                                  std::to_string(report.layout.size) + "-byte packets)";
}

// Surveys every input, two at a time where a second core is to be had:
// each input's survey is its own, and the results are put in order after.
void SurveyAll(const MergeReport& report, std::vector<Surveyed>& all)
{
    std::atomic<size_t> next{0};
    auto work = [&](std::exception_ptr& failed) {
        try {
            for (size_t k; (k = next++) < all.size();) SurveyOne(report, all[k]);
        } catch (...) {
            failed = std::current_exception();
            next = all.size();
        }
    };
    std::exception_ptr failed[2];
    std::thread second;
    if (all.size() > 1 && std::thread::hardware_concurrency() > 1) {
        try {
            second = std::thread(work, std::ref(failed[1]));
        } catch (const std::system_error&) {
            // no thread to be had: one at a time
        }
    }
    work(failed[0]);
    if (second.joinable()) second.join();
    for (const std::exception_ptr& e : failed)
        if (e) std::rethrow_exception(e);
}

} // namespace

void SurveyInputs(const std::vector<std::string>& names, MergeReport& report)
{
    const std::set<std::string> unique(names.begin(), names.end());
    std::vector<Surveyed> all(unique.size());
    size_t k = 0;
    for (const std::string& name : unique) all[k++].input.name = name;
    SurveyAll(report, all);
    // Report order: by content hash, then name; the first of a content is
    // the one read, the others its duplicates.
    std::sort(all.begin(), all.end(), [](const Surveyed& a, const Surveyed& b) {
        return a.input.sha256 != b.input.sha256 ? a.input.sha256 < b.input.sha256 : a.input.name < b.input.name;
    });
    for (uint32_t i = 0; i < all.size(); ++i) {
        MergeInput& in = all[i].input;
        const MergeInput* prev = i ? &report.inputs.back() : nullptr;
        if (prev && in.refused.empty() && !in.sha256.empty() && in.sha256 == prev->sha256) {
            in.duplicateOf = prev->duplicateOf.empty() ? prev->name : prev->duplicateOf;
            in.refused = prev->refused;
            in.days.clear();
        } else if (in.refused.empty()) {
            RefuseUnusable(report, in);
        }
        if (in.Usable()) {
            for (MergeDrop& d : all[i].drops) {
                d.input = i;
                if (d.reason == "damaged time tag") in.damagedTimes.push_back(d.offset);
            }
            report.dropped.insert(report.dropped.end(), all[i].drops.begin(), all[i].drops.end());
            for (const auto& a : all[i].others) report.otherApids[a.first] += a.second;
        } else {
            in.days.clear();
        }
        report.inputs.push_back(in);
    }
}

std::vector<MergeDay> MergeDays(const MergeReport& report)
{
    std::set<MergeDay> days;
    for (const MergeInput& in : report.inputs)
        if (in.Usable())
            for (const auto& d : in.days)
                if (d.second.packets) days.insert(d.first);
    return std::vector<MergeDay>(days.begin(), days.end());
}

size_t MergeReport::Refused() const
{
    size_t n = 0;
    for (const MergeInput& in : inputs) n += !in.refused.empty() && in.duplicateOf.empty();
    return n;
}

size_t MergeReport::Duplicates() const
{
    size_t n = 0;
    for (const MergeInput& in : inputs) n += !in.duplicateOf.empty();
    return n;
}

} // namespace toolkit
