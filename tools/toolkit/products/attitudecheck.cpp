#include "toolkit/products/attitudecheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "toolkit/cli/text.h"
#include "toolkit/products/statecheck.h"

namespace toolkit {

namespace {

// Findings of one kind listed one by one before the rest are only counted.
const size_t kListed = 5;

struct Step {
    double jump = 0;      // largest change of a stored element, rad
    double allowed = 0;   // what the rates allow, rad
};

bool Finite(const ProductRecord& r)
{
    if (!std::isfinite(r.tai93)) return false;
    for (double v : r.v)
        if (!std::isfinite(v)) return false;
    return true;
}

double Rate(const ProductRecord& r) { return std::sqrt(r.v[3] * r.v[3] + r.v[4] * r.v[4] + r.v[5] * r.v[5]); }

std::string Sci(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

// Compares neighbouring records: false when they are not compared.
bool Compare(const ProductRecord& a, const ProductRecord& b, Step& s)
{
    const double dt = b.tai93 - a.tai93;
    if (!(dt > 0 && dt <= kStatePairSeconds)) return false;
    for (int k = 0; k < 3; ++k) s.jump = std::max(s.jump, std::fabs(b.v[k] - a.v[k]));
    s.allowed = AttitudeTurnAllowed(dt, Rate(a), Rate(b), kMaxOrbitalFrameRate);
    return true;
}

std::string Offsets(const Step& s)
{
    return "its angles change by " + FixedText(s.jump, 3) + " rad where the rates allow " +
           FixedText(s.allowed, 3) + " rad";
}

// Marks the records whose rates no spacecraft has; true for the others.
std::vector<char> RateFaults(const std::vector<ProductRecord>& r, const std::vector<char>* skip,
                             std::vector<CheckFinding>& out)
{
    std::vector<char> usable(r.size(), 0);
    size_t count = 0;
    for (size_t i = 0; i < r.size(); ++i) {
        if (!Finite(r[i]) || (skip && i < skip->size() && (*skip)[i])) continue;
        const double rate = Rate(r[i]);
        if (rate <= kMaxAttitudeRate) {
            usable[i] = 1;
            continue;
        }
        if (++count <= kListed)
            out.push_back(MakeFinding("attitude-rate", static_cast<long long>(i),
                                      "attitude record " + std::to_string(i) + " turns at " + Sci(rate) +
                                          " rad/s, faster than the " + FixedText(kMaxAttitudeRate, 1) +
                                          " rad/s a spacecraft turns at",
                                      {{"rate_rad_s", rate}}));
    }
    if (count > kListed)
        out.push_back(MakeFinding("attitude-rate", -1,
                                  std::to_string(count) + " attitude records in all turn faster than a spacecraft",
                                  {{"records", static_cast<double>(count)}}));
    return usable;
}

} // namespace

double AttitudeTurnAllowed(double dt, double rateA, double rateB, double frameRate)
{
    return dt * (kAttitudeRateSlack * std::max(rateA, rateB) + frameRate) + kAttitudeTolerance;
}

void CheckAttitudes(const Product& att, std::vector<CheckFinding>& out, const std::vector<char>* skip)
{
    const std::vector<ProductRecord>& r = att.records;
    const size_t n = r.size();
    const std::vector<char> usable = RateFaults(r, skip, out);
    std::vector<Step> steps(n > 0 ? n - 1 : 0);
    std::vector<PairVerdict> pairs(steps.size());
    for (size_t i = 0; i + 1 < n; ++i) {
        if (!usable[i] || !usable[i + 1]) continue;
        pairs[i].compared = Compare(r[i], r[i + 1], steps[i]);
        pairs[i].fails = pairs[i].compared && steps[i].jump > steps[i].allowed;
        pairs[i].badness = steps[i].jump - steps[i].allowed;
    }
    size_t count = 0;
    auto add = [&](CheckFinding f) {
        if (++count <= kListed) out.push_back(std::move(f));
    };
    auto values = [&](const Step& s) {
        return std::vector<std::pair<std::string, double>>{{"angle_change_rad", s.jump}, {"allowed_rad", s.allowed}};
    };
    NameMisfits(
        pairs,
        [&](size_t i, size_t worst) {
            add(MakeFinding("attitude-kinematic", static_cast<long long>(i),
                            "attitude record " + std::to_string(i) +
                                " does not fit its neighbours' attitudes and rates: " + Offsets(steps[worst]),
                            values(steps[worst])));
        },
        [&](size_t i) {
            add(MakeFinding("attitude-kinematic", static_cast<long long>(i),
                            "attitude records " + std::to_string(i) + " and " + std::to_string(i + 1) +
                                " do not fit each other's attitudes and rates: " + Offsets(steps[i]).substr(4),
                            values(steps[i])));
        });
    if (count > kListed)
        out.push_back(MakeFinding("attitude-kinematic", -1,
                                  std::to_string(count) + " attitude records in all do not fit their neighbours",
                                  {{"records", static_cast<double>(count)}}));
}

} // namespace toolkit
