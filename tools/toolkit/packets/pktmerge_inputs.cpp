// The merge's first pass: every input opened, hashed, put in report order,
// its duplicates marked, and the rest walked for the days they touch.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "timelib_proc_TAI93.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/packets/pktmerge_dump.h"
#include "toolkit/time/utcday.h"

namespace toolkit {

using namespace merge;

namespace {

const size_t kHashBuffer = 1 << 20;

// The content hash of the file open on fd; false with the reason when it
// cannot be read.
bool HashFile(int fd, std::string& hex, uint64_t& size, std::string& error)
{
    Sha256 sha;
    static std::unique_ptr<char[]> buf(new char[kHashBuffer]);
    size = 0;
    for (;;) {
        const ssize_t r = pread(fd, buf.get(), kHashBuffer, static_cast<off_t>(size));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (r == 0) break;
        sha.Update(buf.get(), static_cast<size_t>(r));
        size += static_cast<uint64_t>(r);
    }
    hex = sha.HexDigest();
    return true;
}

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
    DumpSurvey(MergeInput& in, uint32_t index) : input(in), self(index)
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
        d.input = self;
        d.offset = offset;
        d.reason = reason;
        d.bytes = bytes;
        drops.push_back(d);
    }

    MergeInput& input;
    uint32_t self;
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
        ++found->second.packets;
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

// Opens and hashes every input named, each name once.
void HashInputs(const std::vector<std::string>& names, MergeReport& report)
{
    const std::set<std::string> unique(names.begin(), names.end());
    for (const std::string& name : unique) {
        MergeInput in;
        in.name = name;
        const int fd = OpenInput(name, in.identity, in.refused);
        if (fd >= 0) {
            std::string why;
            if (!HashFile(fd, in.sha256, in.bytes, why)) in.refused = why;
            close(fd);
        }
        report.inputs.push_back(in);
    }
    std::sort(report.inputs.begin(), report.inputs.end(), [](const MergeInput& a, const MergeInput& b) {
        return a.sha256 != b.sha256 ? a.sha256 < b.sha256 : a.name < b.name;
    });
    for (size_t i = 1; i < report.inputs.size(); ++i) {
        MergeInput& in = report.inputs[i];
        const MergeInput& prev = report.inputs[i - 1];
        if (in.refused.empty() && !in.sha256.empty() && in.sha256 == prev.sha256)
            in.duplicateOf = prev.duplicateOf.empty() ? prev.name : prev.duplicateOf;
    }
}

// One walk of an input within a time range.
bool Walk(const MergeReport& report, const MergeInput& in, double lo, double hi, DumpSurvey& survey,
          WalkSummary& summary, std::string& error)
{
    const int fd = ReopenInput(in, error);
    const bool read = fd >= 0 && WalkDump(fd, in.identity.size, report.layout, lo, hi, 0, survey, error, &summary);
    if (fd >= 0) close(fd);
    if (!read) error = in.name + ": " + error;
    return read;
}

// The walk of one usable input. Its resynchronisation range is learnt
// from the walk itself, which is walked again within it only when the
// range mattered (it lost step or found a splice).
bool WalkInput(MergeReport& report, uint32_t index, std::string& error)
{
    MergeInput& in = report.inputs[index];
    const double inf = std::numeric_limits<double>::infinity();
    WalkSummary summary;
    std::unique_ptr<DumpSurvey> survey(new DumpSurvey(in, index));
    if (!Walk(report, in, -inf, inf, *survey, summary, error)) return false;
    in.minTime = summary.haveStepped ? summary.steppedMin - walk::kRangeSlackDays : -inf;
    in.maxTime = summary.haveStepped ? summary.steppedMax + walk::kRangeSlackDays : inf;
    if (summary.losses || summary.splices) {
        survey.reset(new DumpSurvey(in, index));
        if (!Walk(report, in, in.minTime, in.maxTime, *survey, summary, error)) return false;
    }
    bool usable = false;
    for (const auto& d : in.days) usable = usable || d.second.packets > 0;
    if (!usable) {
        in.refused = in.packets ? "none of its " + std::to_string(in.packets) + " telemetry packets has a time tag "
                                  "its neighbours agree with"
                                : "holds no telemetry packets of APID " + std::to_string(report.layout.apid) +
                                      " (" + std::to_string(report.layout.size) + "-byte packets)";
        in.days.clear();
        return true;
    }
    report.dropped.insert(report.dropped.end(), survey->drops.begin(), survey->drops.end());
    for (const auto& a : survey->others) report.otherApids[a.first] += a.second;
    return true;
}

} // namespace

bool SurveyInputs(const std::vector<std::string>& names, MergeReport& report, std::string& error)
{
    HashInputs(names, report);
    for (uint32_t i = 0; i < report.inputs.size(); ++i)
        if (report.inputs[i].Usable() && !WalkInput(report, i, error)) return false;
    // A duplicate holds what its original holds.
    for (MergeInput& in : report.inputs)
        if (!in.duplicateOf.empty())
            for (const MergeInput& original : report.inputs)
                if (original.name == in.duplicateOf) {
                    in.packets = original.packets;
                    in.refused = original.refused;
                }
    return true;
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
