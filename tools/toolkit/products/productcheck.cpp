#include "toolkit/products/productcheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "toolkit/numbering/orbitnumbers.h"
#include "toolkit/products/attitudecheck.h"
#include "toolkit/products/statecheck.h"
#include "toolkit/cli/text.h"
#include "vn_class_quality_flags.h"

namespace toolkit {

namespace {

// The epoch a run without element set writes into the ephemeris subheader.
const double kNoElementsEpoch = -999.999999;
// Findings of one kind listed one by one before the rest are only counted.
const size_t kPerKind = 5;

std::string Num(double v, int decimals = 6) { return FixedText(v, decimals); }

std::string Idx(size_t i) { return std::to_string(i); }

CheckFinding Fault(const std::string& kind, long long record, const std::string& message,
                   std::vector<std::pair<std::string, double>> values = {})
{
    return MakeFinding(kind, record, message, std::move(values));
}

bool RunHadElements(const Product& eph) { return eph.eph.epochTai93 != kNoElementsEpoch; }

void NonFinite(const Product& p, std::vector<CheckFinding>& out)
{
    const std::string what = KindName(p.kind);
    const CommonHeader& h = p.header;
    std::vector<std::pair<std::string, double>> header = {
        {"StartTime", h.startTai93}, {"StopTime", h.stopTai93}, {"Interval", h.interval}};
    if (p.kind == ProductKind::Ephemeris) {
        static const char* const kepler[6] = {"Kepler a", "Kepler e", "Kepler i",
                                              "Kepler node", "Kepler perigee", "Kepler M"};
        for (int i = 0; i < 6; ++i) header.emplace_back(kepler[i], p.eph.kepler[i]);
        header.emplace_back("EpochTimeTAI", p.eph.epochTai93);
    }
    for (const auto& field : header)
        if (!std::isfinite(field.second))
            out.push_back(Fault("non-finite", -1,
                                what + " file: header field " + field.first + " is " +
                                    Num(field.second),
                                {field}));

    static const char* const ephNames[7] = {"time", "x", "y", "z", "vx", "vy", "vz"};
    static const char* const attNames[7] = {"time", "angle1", "angle2", "angle3",
                                            "rate1", "rate2", "rate3"};
    const char* const* names = p.kind == ProductKind::Ephemeris ? ephNames : attNames;
    size_t count = 0;
    for (size_t i = 0; i < p.records.size(); ++i) {
        const ProductRecord& r = p.records[i];
        const double v[7] = {r.tai93, r.v[0], r.v[1], r.v[2], r.v[3], r.v[4], r.v[5]};
        std::string bad;
        std::vector<std::pair<std::string, double>> values;
        for (int j = 0; j < 7; ++j)
            if (!std::isfinite(v[j])) {
                bad += std::string(bad.empty() ? "" : ", ") + names[j] + " = " + Num(v[j]);
                values.emplace_back(names[j], v[j]);
            }
        if (bad.empty()) continue;
        if (++count <= kPerKind)
            out.push_back(Fault("non-finite", static_cast<long long>(i),
                                what + " record " + Idx(i) + " holds a non-finite value (" + bad +
                                    ")",
                                values));
    }
    if (count > kPerKind)
        out.push_back(Fault("non-finite", -1,
                            what + " file: " + std::to_string(count) +
                                " records in all hold non-finite values",
                            {{"records", static_cast<double>(count)}}));
}

void OrbitMetadata(const Product& eph, std::vector<CheckFinding>& out)
{
    if (!RunHadElements(eph)) {
        CheckFinding w = Fault("no-elements", -1,
                               "the run had no element set: orbit numbers, node times and "
                               "Kepler elements are fill values");
        w.warning = true;
        out.push_back(w);
        return;
    }
    if (eph.eph.orbitCount == 0) return;   // headers never completed: a structure fault
    const std::string hint = ": the satellite was probably not found in the element file";
    if (eph.eph.firstOrbit == 0 || eph.eph.lastOrbit == 0)
        out.push_back(Fault("orbit-metadata", -1,
                            "ephemeris header: orbits first " + std::to_string(eph.eph.firstOrbit) +
                                ", last " + std::to_string(eph.eph.lastOrbit) + hint,
                            {{"first", eph.eph.firstOrbit}, {"last", eph.eph.lastOrbit}}));
    size_t count = 0, first = 0;
    for (size_t k = 0; k < eph.orbits.size(); ++k) {
        const OrbitRecord& o = eph.orbits[k];
        if (o.orbitNo != 0 && std::isfinite(o.ascendingTai93) &&
            std::isfinite(o.descendingTai93) && std::isfinite(o.descendingLongitude))
            continue;
        if (count++ == 0) first = k;
    }
    if (count == 0) return;
    const OrbitRecord& o = eph.orbits[first];
    out.push_back(Fault("orbit-metadata", static_cast<long long>(first),
                        "orbit record " + Idx(first) + " has orbit number " +
                            std::to_string(o.orbitNo) + ", ascending node " +
                            Num(o.ascendingTai93) + " s, descending node " +
                            Num(o.descendingTai93) + " s (" + std::to_string(count) + " of " +
                            std::to_string(eph.orbits.size()) + " orbit records like it)" + hint,
                        {{"orbit", o.orbitNo},
                         {"ascending", o.ascendingTai93},
                         {"descending", o.descendingTai93},
                         {"longitude", o.descendingLongitude},
                         {"records", static_cast<double>(count)}}));
}

// A repaired stream flags a small gap as: a packet with small-gap-follows,
// one or more interpolated points (repaired, nothing else), a packet with
// small-gap-before; and a large gap as a packet with large-gap-follows
// directly followed by one with large-gap-before.
void FlagSequence(const Product& eph, std::vector<CheckFinding>& out)
{
    const auto& r = eph.records;
    size_t count = 0;
    auto add = [&](size_t i, const std::string& why) {
        if (++count <= kPerKind)
            out.push_back(Fault("flag-sequence", static_cast<long long>(i),
                                "ephemeris record " + Idx(i) + " (flags " +
                                    FlagNames(r[i].flags) + "): " + why,
                                {{"flags", r[i].flags}}));
    };
    bool inGap = false;   // inside a small gap, after its first repaired point
    bool opened = false;  // the record before opened a small gap
    for (size_t i = 0; i < r.size(); ++i) {
        const uint32_t f = r[i].flags;
        const uint32_t before = i > 0 ? r[i - 1].flags : 0;
        if (f & quality_flags::rep) {
            if (f != quality_flags::rep) add(i, "a repaired point carries other flags");
            else if (!inGap && !opened) add(i, "a repaired point outside a small gap");
            inGap = true;
            opened = false;
            continue;
        }
        if (opened) add(i, "a small gap with no repaired point in it");
        else if (inGap && !(f & quality_flags::sgb)) add(i, "a small gap not closed by a small-gap-before packet");
        else if (!inGap && (f & quality_flags::sgb)) add(i, "small-gap-before without a small gap before it");
        if ((f & quality_flags::lgb) && !(before & quality_flags::lgf))
            add(i, "large-gap-before without large-gap-follows on the record before it");
        if (i > 0 && (before & quality_flags::lgf) && !(f & quality_flags::lgb))
            add(i, "the record before has large-gap-follows but this one lacks large-gap-before");
        if ((f & quality_flags::sgf) && (f & quality_flags::lgf)) add(i, "a small and a large gap follow at once");
        if ((f & quality_flags::sgb) && (f & quality_flags::lgb)) add(i, "a small and a large gap precede at once");
        inGap = false;
        opened = (f & quality_flags::sgf) != 0;
    }
    if (!r.empty() && (opened || inGap)) add(r.size() - 1, "the records end inside a small gap");
    if (!r.empty() && (r.back().flags & quality_flags::lgf))
        add(r.size() - 1, "the last record has large-gap-follows");
    if (count > kPerKind)
        out.push_back(Fault("flag-sequence", -1,
                            std::to_string(count) + " flag-sequence faults in all",
                            {{"faults", static_cast<double>(count)}}));
}

void ElementAge(const Product& eph, const CheckOptions& options, std::vector<CheckFinding>& out)
{
    if (options.maxElementAgeDays <= 0 || !RunHadElements(eph)) return;
    const double epoch = eph.eph.epochTai93;
    const double start = eph.header.startTai93, stop = eph.header.stopTai93;
    if (!std::isfinite(epoch) || !std::isfinite(start) || !std::isfinite(stop)) return;
    double days = 0;
    if (epoch < start) days = (start - epoch) / 86400.0;
    else if (epoch > stop) days = (epoch - stop) / 86400.0;
    if (days <= options.maxElementAgeDays) return;
    out.push_back(Fault("element-age", -1,
                        "the element-set epoch lies " + Num(days, 2) +
                            " days from the data span, more than " +
                            Num(options.maxElementAgeDays, 2) +
                            " (a stale element file, or another satellite's?)",
                        {{"epoch", epoch}, {"start", start}, {"stop", stop}, {"days", days}}));
}

} // namespace

std::vector<std::string> StructureProblems(const Product& p, bool orbitHeader)
{
    std::vector<std::string> why = p.problems;
    if (p.header.noRecords == 0)
        why.push_back("NoRecords is 0: the headers were never completed (a run that did not "
                      "finish?)");
    if (p.kind != ProductKind::Ephemeris || !orbitHeader) return why;
    const EphemerisSubheader& e = p.eph;
    if (e.orbitCount == 0) {
        why.push_back("the header's orbit count is 0: the headers were never completed");
        return why;
    }
    const uint32_t span = e.lastOrbit - e.firstOrbit;
    if (e.orbitCount != (span < 1 ? 1u : span))
        why.push_back("the header's orbit count " + std::to_string(e.orbitCount) +
                      " does not fit its orbits " + std::to_string(e.firstOrbit) + " to " +
                      std::to_string(e.lastOrbit));
    if (p.problems.empty() && !p.records.empty()) {
        if (p.orbits.empty())
            why.push_back("there is no orbit record after the " + std::to_string(p.records.size()) +
                          " data records");
        else if (p.orbits.size() > p.records.size())
            why.push_back(std::to_string(p.orbits.size()) + " orbit records for " +
                          std::to_string(p.records.size()) +
                          " data records: an orbit holds at least one record");
    }
    return why;
}

std::vector<CheckFinding> CheckProducts(const Product& eph, const Product& att,
                                        const CheckOptions& options)
{
    std::vector<CheckFinding> out;
    for (const Product* p : {&eph, &att})
        for (const std::string& s : StructureProblems(*p))
            // Faults the pair check names itself are left to it.
            if (std::find(p->problems.begin(), p->problems.end(), s) == p->problems.end() &&
                s.rfind("there is no orbit record", 0) != 0)
                out.push_back(Fault("structure", -1, std::string(KindName(p->kind)) + " file: " + s));
    for (const std::string& s : CheckProductPair(eph, att))
        out.push_back(Fault("pair", -1, s));
    if (eph.kind != ProductKind::Ephemeris || att.kind != ProductKind::Attitude) return out;
    NonFinite(eph, out);
    NonFinite(att, out);
    OrbitMetadata(eph, out);
    FlagSequence(eph, out);
    ElementAge(eph, options, out);
    std::vector<char> faultyStates;
    CheckStates(eph, out, &faultyStates);
    CheckAttitudes(att, out, &faultyStates);
    CheckOrbitNumbers(eph, options, out);
    return out;
}

CheckFinding MakeFinding(const std::string& kind, long long record, const std::string& message,
                         std::vector<std::pair<std::string, double>> values, bool warning)
{
    CheckFinding f;
    f.kind = kind;
    f.record = record;
    f.message = message;
    f.warning = warning;
    f.values = std::move(values);
    return f;
}

bool HasFault(const std::vector<CheckFinding>& findings)
{
    for (const CheckFinding& f : findings)
        if (!f.warning) return true;
    return false;
}

std::string CheckJson(const Product& eph, const Product& att, const CheckOptions& options,
                      const std::vector<CheckFinding>& findings)
{
    std::string s = "{\"ephemeris\": ";
    s += JsonString(eph.path);
    s += ", \"attitude\": ";
    s += JsonString(att.path);
    s += std::string(", \"passed\": ") + (HasFault(findings) ? "false" : "true");
    s += ", \"records\": " + std::to_string(eph.records.size());
    s += ", \"orbits\": " + std::to_string(eph.orbits.size());
    s += ", \"max_element_age_days\": ";
    AppendJsonNumber(s, options.maxElementAgeDays);
    for (bool warnings : {false, true}) {
        s += warnings ? ", \"warnings\": [" : ", \"faults\": [";
        bool first = true;
        for (const CheckFinding& f : findings) {
            if (f.warning != warnings) continue;
            s += first ? "" : ", ";
            first = false;
            s += "{\"kind\": ";
            s += JsonString(f.kind);
            s += ", \"record\": " + (f.record < 0 ? std::string("null") : std::to_string(f.record));
            s += ", \"message\": ";
            s += JsonString(f.message);
            s += ", \"values\": {";
            for (size_t i = 0; i < f.values.size(); ++i) {
                s += i ? ", " : "";
                s += JsonString(f.values[i].first);
                s += ": ";
                AppendJsonNumber(s, f.values[i].second);
            }
            s += "}}";
        }
        s += "]";
    }
    s += ", \"node_offsets\": [";
    const std::vector<NodeOffset> offsets = NodeOffsets(eph);
    for (const NodeOffset& n : offsets) {
        s += &n == &offsets.front() ? "" : ", ";
        s += "{\"orbit\": " + std::to_string(n.number) + ", \"record\": " +
             std::to_string(n.record) + ", \"crossing_minus_node_s\": ";
        AppendJsonNumber(s, n.offset);
        s += ", \"numbering\": " + std::to_string(n.numbering) + ", \"crossing_tai93\": ";
        AppendJsonNumber(s, n.crossingTai93);
        s += "}";
    }
    int firstNumbering = 0;
    s += "], \"first_orbit_numbering\": " +
         (FirstOrbitNumbering(eph, offsets, firstNumbering) ? std::to_string(firstNumbering) : "null") + "}\n";
    return s;
}

} // namespace toolkit
