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

// The members of a JSON object as they are written, the commas between
// them; the values through the toolkit's JSON text and numbers.
class Members
{
public:
    explicit Members(std::string& out) : s(out) { s += '{'; }
    ~Members() { s += '}'; }
    Members& Text(const char* key, const std::string& v)
    {
        Key(key);
        s += JsonString(v);
        return *this;
    }
    Members& Number(const char* key, double v)
    {
        Key(key);
        AppendJsonNumber(s, v);
        return *this;
    }
    Members& Count(const char* key, uint64_t v)
    {
        Key(key);
        s += std::to_string(v);
        return *this;
    }
    // The key of a member whose value the caller writes next.
    std::string& Key(const char* key)
    {
        if (n++) s += ',';
        s += '"';
        s += key;
        s += "\":";
        return s;
    }

private:
    std::string& s;
    size_t n = 0;
};

// A JSON array of the items, each written by `each`.
template <class T, class Each>
void Array(std::string& s, const std::vector<T>& items, Each each)
{
    s += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) s += ',';
        each(items[i]);
    }
    s += ']';
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

void Input(std::string& s, const MergeInput& in)
{
    Members m(s);
    m.Text("name", in.name);
    m.Key("sha256") += in.sha256.empty() ? "null" : JsonString(in.sha256);
    m.Count("bytes", in.bytes).Count("packets", in.packets).Count("used", in.used);
    if (!in.duplicateOf.empty()) m.Text("duplicate_of", in.duplicateOf);
    if (!in.refused.empty()) m.Text("refused", in.refused);
}

void Copy(std::string& s, const MergeReport& r, const MergeCopy& c)
{
    Members m(s);
    Array(m.Key("inputs"), c.sources, [&](const MergeSource& p) {
        Members(s).Text("input", r.inputs[p.input].name).Count("offset", p.offset);
    });
    m.Count("more_places", c.moreSources).Count("votes", c.votes).Number("time_tai93", c.tai93);
    if (!c.rule.empty()) m.Text("breaks_rule", c.rule);
    if (c.fitted) {
        m.Key("fit");
        Members(s)
            .Number("position_off_m", c.positionOff)
            .Number("velocity_off_m_s", c.velocityOff)
            .Number("attitude_turn_over_allowed", c.attitudeTurn)
            .Number("rate_off_rad_s", c.rateOff)
            .Number("quaternion_norm_off", c.normOff)
            .Number("misfit", c.misfit);
    }
}

void Conflict(std::string& s, const MergeReport& r, const MergeConflict& c)
{
    Members m(s);
    m.Number("time_tai93", c.tai93);
    Array(m.Key("copies"), c.copies, [&](const MergeCopy& copy) { Copy(s, r, copy); });
    m.Count("chosen", c.chosen).Text("reason", c.reason);
}

void Drop(std::string& s, const MergeReport& r, const MergeDrop& d)
{
    Members m(s);
    m.Text("input", r.inputs[d.input].name).Count("offset", d.offset).Text("reason", d.reason).Count("bytes", d.bytes);
    if (d.haveTime) m.Number("time_tai93", d.tai93);
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
    std::string s;
    {
        Members m(s);
        m.Text("satellite", r.satellite).Count("apid", r.layout.apid).Count("packet_size", r.layout.size);
        Array(m.Key("inputs"), r.inputs, [&](const MergeInput& in) { Input(s, in); });
        m.Count("packets", r.packets).Number("first_tai93", r.firstTai93).Number("last_tai93", r.lastTai93);
        Array(m.Key("days"), r.days, [&](const std::pair<MergeDay, uint64_t>& d) {
            Members(s).Text("day", DayText(d.first)).Count("packets", d.second);
        });
        Array(m.Key("conflicts"), r.conflicts, [&](const MergeConflict& c) { Conflict(s, r, c); });
        Array(m.Key("dropped"), SortedDrops(r), [&](const MergeDrop& d) { Drop(s, r, d); });
        Array(m.Key("gaps"), r.gaps, [&](const MergeGap& g) {
            Members(s).Number("start_tai93", g.startTai93).Number("end_tai93", g.endTai93).Number(
                "seconds", g.endTai93 - g.startTai93);
        });
        m.Key("other_apids");
        {
            Members others(s);
            for (const auto& a : r.otherApids) others.Count(std::to_string(a.first).c_str(), a.second);
        }
        m.Count("repeats", r.repeats);
    }
    return s + "\n";
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
