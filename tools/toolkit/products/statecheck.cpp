#include "toolkit/products/statecheck.h"

#include <cmath>
#include <string>

#include "toolkit/cli/text.h"

namespace toolkit {

namespace {

// Gravitational parameter of the product run's orbit elements, m^3/s^2.
const double kMu = 3.9860064e14;
// Findings of one kind listed one by one before the rest are only counted.
const size_t kListed = 5;

enum class Pair { NotCompared, Fits, Fails };

struct PairResult {
    Pair state = Pair::NotCompared;
    double positionOff = 0;   // m
    double velocityOff = 0;   // m/s
};

bool Finite(const ProductRecord& r)
{
    if (!std::isfinite(r.tai93)) return false;
    for (double v : r.v)
        if (!std::isfinite(v)) return false;
    return true;
}

double Radius(const ProductRecord& r)
{
    return std::sqrt(r.v[0] * r.v[0] + r.v[1] * r.v[1] + r.v[2] * r.v[2]);
}

void Gravity(const ProductRecord& r, double g[3])
{
    const double radius = Radius(r);
    const double k = -kMu / (radius * radius * radius);
    for (int j = 0; j < 3; ++j) g[j] = k * r.v[j];
}

PairResult Compare(const ProductRecord& a, const ProductRecord& b)
{
    PairResult p;
    if (!StateMisfit(a, b, p.positionOff, p.velocityOff)) return p;
    p.state = p.positionOff > kPositionTolerance || p.velocityOff > kVelocityTolerance ? Pair::Fails
                                                                                        : Pair::Fits;
    return p;
}

std::string Offsets(const PairResult& p)
{
    return FixedText(p.positionOff / 1000.0, 3) + " km and " + FixedText(p.velocityOff, 3) +
           " m/s off";
}

} // namespace

bool StateMisfit(const ProductRecord& a, const ProductRecord& b, double& positionOff, double& velocityOff)
{
    const double dt = b.tai93 - a.tai93;
    if (!(dt > 0 && dt <= kStatePairSeconds)) return false;
    double ga[3], gb[3];
    Gravity(a, ga);
    Gravity(b, gb);
    double dp = 0, dv = 0;
    for (int j = 0; j < 3; ++j) {
        const double pos = b.v[j] - a.v[j] - dt * 0.5 * (a.v[3 + j] + b.v[3 + j]);
        const double vel = b.v[3 + j] - a.v[3 + j] - dt * 0.5 * (ga[j] + gb[j]);
        dp += pos * pos;
        dv += vel * vel;
    }
    positionOff = std::sqrt(dp);
    velocityOff = std::sqrt(dv);
    return true;
}

void NameMisfits(const std::vector<PairVerdict>& pairs, const std::function<void(size_t, size_t)>& one,
                 const std::function<void(size_t)>& both)
{
    const size_t n = pairs.empty() ? 0 : pairs.size() + 1;
    std::vector<char> named(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const PairVerdict* before = i > 0 ? &pairs[i - 1] : nullptr;
        const PairVerdict* after = i + 1 < n ? &pairs[i] : nullptr;
        const bool fails = (before && before->fails) || (after && after->fails);
        const bool fits = (before && before->compared && !before->fails) ||
                          (after && after->compared && !after->fails);
        if (!fails || fits) continue;
        named[i] = 1;
        // The worse of its comparisons.
        size_t worst = before && before->fails ? i - 1 : i;
        if (after && after->fails && after->badness > pairs[worst].badness) worst = i;
        one(i, worst);
    }
    // A failed comparison whose two records both fit their other neighbours.
    for (size_t i = 0; i + 1 < n; ++i)
        if (pairs[i].fails && !named[i] && !named[i + 1]) both(i);
}

void CheckStates(const Product& eph, std::vector<CheckFinding>& out, std::vector<char>* faulty)
{
    const std::vector<ProductRecord>& r = eph.records;
    const size_t n = r.size();
    if (faulty) faulty->assign(n, 0);
    std::vector<char> usable(n, 0);
    size_t outside = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!Finite(r[i])) continue;   // the non-finite test names it
        const double radius = Radius(r[i]);
        if (radius >= kLeastOrbitRadius && radius <= kGreatestOrbitRadius) {
            usable[i] = 1;
            continue;
        }
        if (faulty) (*faulty)[i] = 1;
        if (++outside <= kListed)
            out.push_back(MakeFinding("radius", static_cast<long long>(i),
                                  "ephemeris record " + std::to_string(i) + " lies " +
                                      FixedText(radius / 1000.0, 3) +
                                      " km from the Earth's centre, outside the " +
                                      FixedText(kLeastOrbitRadius / 1000.0, 0) + " to " +
                                      FixedText(kGreatestOrbitRadius / 1000.0, 0) +
                                      " km of an Earth orbit",
                                  {{"radius_m", radius}}));
    }
    if (outside > kListed)
        out.push_back(MakeFinding("radius", -1,
                              std::to_string(outside) + " ephemeris records in all lie outside "
                                                        "the radii of an Earth orbit",
                              {{"records", static_cast<double>(outside)}}));

    // pairs[i] compares records i and i + 1.
    std::vector<PairResult> results(n > 0 ? n - 1 : 0);
    std::vector<PairVerdict> pairs(results.size());
    for (size_t i = 0; i + 1 < n; ++i) {
        if (usable[i] && usable[i + 1]) results[i] = Compare(r[i], r[i + 1]);
        pairs[i].compared = results[i].state != Pair::NotCompared;
        pairs[i].fails = results[i].state == Pair::Fails;
        pairs[i].badness = results[i].positionOff;
    }
    size_t count = 0;
    auto add = [&](CheckFinding f) {
        if (++count <= kListed) out.push_back(std::move(f));
    };
    auto one = [&](size_t i, size_t worst) {
        if (faulty) (*faulty)[i] = 1;
        add(MakeFinding("kinematic", static_cast<long long>(i),
                    "ephemeris record " + std::to_string(i) +
                        " does not fit its neighbours' positions and velocities: " +
                        Offsets(results[worst]),
                    {{"position_off_m", results[worst].positionOff},
                     {"velocity_off_m_s", results[worst].velocityOff}}));
    };
    auto both = [&](size_t i) {
        if (faulty) (*faulty)[i] = (*faulty)[i + 1] = 1;
        add(MakeFinding("kinematic", static_cast<long long>(i),
                    "ephemeris records " + std::to_string(i) + " and " + std::to_string(i + 1) +
                        " do not fit each other's positions and velocities: " +
                        Offsets(results[i]),
                    {{"position_off_m", results[i].positionOff},
                     {"velocity_off_m_s", results[i].velocityOff}}));
    };
    NameMisfits(pairs, one, both);
    if (count > kListed)
        out.push_back(MakeFinding("kinematic", -1,
                              std::to_string(count) + " ephemeris records in all do not fit "
                                                      "their neighbours",
                              {{"records", static_cast<double>(count)}}));
}

} // namespace toolkit
