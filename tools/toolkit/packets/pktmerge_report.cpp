// The merge's report: one JSON object, and a few lines for people.
#include <algorithm>
#include <map>
#include <string>

#include "toolkit/cli/text.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/time/isotime.h"
#include "toolkit/time/utcday.h"

namespace toolkit {

namespace {

void Key(std::string& s, const char* key)
{
    s += '"';
    s += key;
    s += "\":";
}

void Number(std::string& s, const char* key, double v)
{
    Key(s, key);
    AppendJsonNumber(s, v);
}

void Count(std::string& s, const char* key, uint64_t v)
{
    Key(s, key);
    s += std::to_string(v);
}

void Text(std::string& s, const char* key, const std::string& v)
{
    Key(s, key);
    s += JsonString(v);
}

// The drops in report order: by input, then by place in it.
std::vector<MergeDrop> SortedDrops(const MergeReport& r)
{
    std::vector<MergeDrop> d = r.dropped;
    std::stable_sort(d.begin(), d.end(), [](const MergeDrop& a, const MergeDrop& b) {
        return a.input != b.input ? a.input < b.input : a.offset < b.offset;
    });
    return d;
}

void Inputs(std::string& s, const MergeReport& r)
{
    Key(s, "inputs");
    s += '[';
    for (size_t i = 0; i < r.inputs.size(); ++i) {
        const MergeInput& in = r.inputs[i];
        s += i ? ",{" : "{";
        Text(s, "name", in.name);
        s += ',';
        Key(s, "sha256");
        s += in.sha256.empty() ? "null" : JsonString(in.sha256);
        s += ',';
        Count(s, "bytes", in.bytes);
        s += ',';
        Count(s, "packets", in.packets);
        s += ',';
        Count(s, "used", in.used);
        if (!in.duplicateOf.empty()) s += ",", Text(s, "duplicate_of", in.duplicateOf);
        if (!in.refused.empty()) s += ",", Text(s, "refused", in.refused);
        s += '}';
    }
    s += ']';
}

void Copy(std::string& s, const MergeReport& r, const MergeCopy& c)
{
    s += '{';
    Key(s, "inputs");
    s += '[';
    for (size_t i = 0; i < c.sources.size(); ++i) {
        s += i ? ",{" : "{";
        Text(s, "input", r.inputs[c.sources[i].input].name);
        s += ',';
        Count(s, "offset", c.sources[i].offset);
        s += '}';
    }
    s += "],";
    Count(s, "more_places", c.moreSources);
    s += ',';
    Count(s, "votes", c.votes);
    s += ',';
    Number(s, "time_tai93", c.tai93);
    if (!c.rule.empty()) s += ",", Text(s, "breaks_rule", c.rule);
    if (c.fitted) {
        s += ",\"fit\":{";
        Number(s, "position_off_m", c.positionOff);
        s += ',';
        Number(s, "velocity_off_m_s", c.velocityOff);
        s += ',';
        Number(s, "attitude_turn_over_allowed", c.attitudeTurn);
        s += ',';
        Number(s, "rate_off_rad_s", c.rateOff);
        s += ',';
        Number(s, "quaternion_norm_off", c.normOff);
        s += ',';
        Number(s, "misfit", c.misfit);
        s += '}';
    }
    s += '}';
}

void Conflicts(std::string& s, const MergeReport& r)
{
    Key(s, "conflicts");
    s += '[';
    for (size_t i = 0; i < r.conflicts.size(); ++i) {
        const MergeConflict& c = r.conflicts[i];
        s += i ? ",{" : "{";
        Number(s, "time_tai93", c.tai93);
        s += ",\"copies\":[";
        for (size_t k = 0; k < c.copies.size(); ++k) {
            if (k) s += ',';
            Copy(s, r, c.copies[k]);
        }
        s += "],";
        Count(s, "chosen", c.chosen);
        s += ',';
        Text(s, "reason", c.reason);
        s += '}';
    }
    s += ']';
}

void Dropped(std::string& s, const MergeReport& r)
{
    Key(s, "dropped");
    s += '[';
    const std::vector<MergeDrop> drops = SortedDrops(r);
    for (size_t i = 0; i < drops.size(); ++i) {
        const MergeDrop& d = drops[i];
        s += i ? ",{" : "{";
        Text(s, "input", r.inputs[d.input].name);
        s += ',';
        Count(s, "offset", d.offset);
        s += ',';
        Text(s, "reason", d.reason);
        s += ',';
        Count(s, "bytes", d.bytes);
        if (d.haveTime) s += ",", Number(s, "time_tai93", d.tai93);
        s += '}';
    }
    s += ']';
}

void Gaps(std::string& s, const MergeReport& r)
{
    Key(s, "gaps");
    s += '[';
    for (size_t i = 0; i < r.gaps.size(); ++i) {
        const MergeGap& g = r.gaps[i];
        s += i ? ",{" : "{";
        Number(s, "start_tai93", g.startTai93);
        s += ',';
        Number(s, "end_tai93", g.endTai93);
        s += ',';
        Number(s, "seconds", g.endTai93 - g.startTai93);
        s += '}';
    }
    s += ']';
}

std::string Plural(uint64_t n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Times as UTC of the products' own model, the one the days are cut by.
std::string Utc(double tai93) { return IsoUtcFromTai93(tai93, 3); }

} // namespace

std::string MergeJson(const MergeReport& r)
{
    std::string s = "{";
    Text(s, "satellite", r.satellite);
    s += ',';
    Count(s, "apid", r.layout.apid);
    s += ',';
    Count(s, "packet_size", r.layout.size);
    s += ',';
    Inputs(s, r);
    s += ',';
    Count(s, "packets", r.packets);
    s += ',';
    Number(s, "first_tai93", r.firstTai93);
    s += ',';
    Number(s, "last_tai93", r.lastTai93);
    s += ",\"days\":[";
    for (size_t i = 0; i < r.days.size(); ++i) {
        s += i ? ",{" : "{";
        Text(s, "day", DayText(r.days[i].first));
        s += ',';
        Count(s, "packets", r.days[i].second);
        s += '}';
    }
    s += "],";
    Conflicts(s, r);
    s += ',';
    Dropped(s, r);
    s += ',';
    Gaps(s, r);
    s += ",\"other_apids\":{";
    bool first = true;
    for (const auto& a : r.otherApids) {
        s += first ? "" : ",";
        first = false;
        s += "\"" + std::to_string(a.first) + "\":" + std::to_string(a.second);
    }
    s += "},";
    Count(s, "repeats", r.repeats);
    s += "}\n";
    return s;
}

std::string MergeSummary(const MergeReport& r)
{
    std::string s = Plural(r.inputs.size(), "input", "inputs") + " (" + std::to_string(r.Duplicates()) +
                    " with the content of another, " + std::to_string(r.Refused()) + " refused): " +
                    Plural(r.packets, "packet", "packets") + " of APID " + std::to_string(r.layout.apid) +
                    " from " + Utc(r.firstTai93) + " to " + Utc(r.lastTai93) +
                    " UTC (the products' model) on " + Plural(r.days.size(), "day", "days") + "\n";
    std::map<std::string, uint64_t> reasons, drops;
    for (const MergeConflict& c : r.conflicts) ++reasons[c.reason];
    for (const MergeDrop& d : r.dropped) ++drops[d.reason];
    s += Plural(r.conflicts.size(), "conflict", "conflicts") + " resolved";
    std::string sep = " (";
    for (const auto& c : reasons) s += sep + std::to_string(c.second) + " " + c.first, sep = ", ";
    s += r.conflicts.empty() ? "" : ")";
    s += "; dropped: ";
    sep = "";
    for (const auto& d : drops) s += sep + std::to_string(d.second) + " " + d.first, sep = ", ";
    uint64_t others = 0;
    for (const auto& a : r.otherApids) others += a.second;
    s += (drops.empty() ? "nothing" : "") + std::string("; not carried: ") +
         Plural(r.repeats, "repeat", "repeats") + ", " + Plural(others, "packet", "packets") + " of other APIDs\n";
    double seconds = 0;
    for (const MergeGap& g : r.gaps) seconds += g.endTai93 - g.startTai93;
    s += Plural(r.gaps.size(), "gap", "gaps") + " over 1.1 s left";
    if (!r.gaps.empty()) s += " (" + FixedText(seconds, 1) + " s in all)";
    return s + "\n";
}

} // namespace toolkit
