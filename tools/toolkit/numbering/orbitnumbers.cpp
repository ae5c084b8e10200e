#include "toolkit/numbering/orbitnumbers.h"

#include <cmath>
#include <fstream>

#include "orbitlib_class_noradelements.h"
#include "toolkit/cli/text.h"
#include "vn_class_satpasses.h"

namespace toolkit {

namespace {

// The epoch a run without element set writes into the ephemeris subheader.
const double kNoElementsEpoch = -999.999999;
const double kTwoPi = 6.283185307179586;
const size_t kListed = 5;

CheckFinding Warning(long long record, const std::string& message,
                     std::vector<std::pair<std::string, double>> values)
{
    return MakeFinding("numbering", record, message, std::move(values), true);
}

} // namespace

std::vector<NodeOffset> NodeOffsets(const Product& eph)
{
    std::vector<NodeOffset> out;
    if (eph.eph.epochTai93 == kNoElementsEpoch || eph.orbits.size() < 2) return out;
    // Where the product run starts its orbits: the first record, then each
    // record with z >= 0 after one with z < 0.
    std::vector<size_t> starts{0};
    for (size_t i = 1; i < eph.records.size(); ++i)
        if (eph.records[i].v[2] >= 0 && eph.records[i - 1].v[2] < 0) starts.push_back(i);
    if (starts.size() != eph.orbits.size()) return out;
    for (size_t k = 1; k < starts.size(); ++k) {
        const OrbitRecord& o = eph.orbits[k];
        const double period = 2.0 * (o.descendingTai93 - o.ascendingTai93);
        const double raw = eph.records[starts[k]].tai93 - o.ascendingTai93;
        if (!(o.ascendingTai93 >= 0) || !(period > 0) || !std::isfinite(raw)) continue;
        NodeOffset n;
        n.orbit = k;
        n.number = o.orbitNo;
        n.record = starts[k];
        n.crossingTai93 = eph.records[starts[k]].tai93;
        const double turns = std::round(raw / period);
        n.offset = raw - turns * period;
        n.numbering = -static_cast<int>(turns);
        out.push_back(n);
    }
    return out;
}

bool FirstOrbitNumbering(const Product& eph, const std::vector<NodeOffset>& offsets, int& numbering)
{
    if (offsets.empty() || offsets[0].orbit != 1) return false;
    const long long right = static_cast<long long>(offsets[0].number) - offsets[0].numbering - 1;
    const long long first = eph.orbits[0].orbitNo;
    numbering = first > right ? 1 : first < right ? -1 : 0;
    return true;
}

double SetNumbering::ArgpPlusMeanDeg() const { return argpPlusMeanRad * 360.0 / kTwoPi; }

bool SetNumbering::CountsHigh() const { return argpPlusMeanRad >= kTwoPi; }

SetNumbering NumberingOfSet(const std::vector<double>& elements, double epochTai93)
{
    SetNumbering n;
    n.countNodeTai93 = epochTai93;
    if (elements.size() < 6) return n;
    n.argpPlusMeanRad = elements[4] + elements[5];
    const double radPerSecond = elements[0] / 60.0;
    if (radPerSecond > 0) {
        n.periodSeconds = kTwoPi / radPerSecond;
        n.countNodeTai93 = epochTai93 - n.argpPlusMeanRad / radPerSecond;
    }
    return n;
}

void CheckOrbitNumbers(const Product& eph, const CheckOptions& options,
                       std::vector<CheckFinding>& out)
{
    size_t count = 0;
    const std::vector<NodeOffset> offsets = NodeOffsets(eph);
    int firstNumbering = 0;
    if (FirstOrbitNumbering(eph, offsets, firstNumbering) && firstNumbering != 0) {
        const long long first = eph.orbits[0].orbitNo;
        ++count;
        out.push_back(Warning(0,
                              "orbit " + std::to_string(first) +
                                  " (record 0): the first orbit, under way when the data "
                                  "begin, carries the " +
                                  (firstNumbering > 0 ? "next" : "previous") + " revolution's number",
                              {{"orbit", static_cast<double>(first)}, {"record", 0}}));
    }
    for (const NodeOffset& n : offsets) {
        if (n.numbering == 0) continue;
        if (++count > kListed) continue;
        const std::string which = n.numbering < 0 ? "previous" : "next";
        const std::string how =
            n.numbering < 0
                ? "the ascending crossing comes " + FixedText(-n.offset, 3) +
                      " s before the node predicted for it"
                : "the ascending crossing comes " + FixedText(n.offset, 3) +
                      " s after its predicted node, before the element set's epoch";
        out.push_back(Warning(static_cast<long long>(n.orbit),
                              "orbit " + std::to_string(n.number) + " (record " +
                                  std::to_string(n.record) + "): " + how +
                                  ", so the orbit carries the " + which + " revolution's number",
                              {{"orbit", n.number},
                               {"record", static_cast<double>(n.record)},
                               {"crossing_minus_node_s", n.offset}}));
    }
    if (count > kListed)
        out.push_back(Warning(-1,
                              std::to_string(count) +
                                  " orbits in all carry another revolution's number",
                              {{"orbits", static_cast<double>(count)}}));

    if (options.elements.size() == 13) {
        const SetNumbering set = NumberingOfSet(options.elements, eph.eph.epochTai93);
        if (set.CountsHigh())
            out.push_back(Warning(
                -1,
                "the element set's argument of perigee plus mean anomaly is " +
                    FixedText(set.ArgpPlusMeanDeg(), 4) +
                    " deg, 360 or more: its node is taken a revolution early and every orbit "
                    "number is one higher than SGP4 tools count",
                {{"argp_plus_mean_anomaly_deg", set.ArgpPlusMeanDeg()}}));
    }
}

bool ElementSetOfEpoch(const std::string& path, double epochTai93, std::vector<double>& elements,
                       std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read \"" + path + "\"";
        return false;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (in.bad()) {
        error = "cannot read \"" + path + "\"";
        return false;
    }
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].compare(0, 2, "1 ") != 0 || lines[i + 1].compare(0, 2, "2 ") != 0) continue;
        const noradelements set(lines[i], lines[i + 1]);
        if (std::fabs(satpasses(set).EpochTimeTAI93() - epochTai93) < 1e-6) {
            elements = set.Get();
            return true;
        }
    }
    error = "no element set in \"" + path + "\" has the product's epoch " +
            FixedText(epochTai93, 6) + " s TAI93";
    return false;
}

} // namespace toolkit
