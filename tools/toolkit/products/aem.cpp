#include "toolkit/products/aem.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "toolkit/time/isotime.h"
#include "toolkit/cli/text.h"

namespace toolkit {

namespace {

// Residual beyond which a solution is not taken for the stored elements.
const double kResidualLimit = 1e-12;

// R3(yaw) R1(roll) R2(pitch), frame rotations (rows of R3: (c, s, 0),
// (-s, c, 0), (0, 0, 1)).
void AttitudeMatrix(double yaw, double roll, double pitch, double m[3][3])
{
    const double cy = std::cos(yaw), sy = std::sin(yaw);
    const double cr = std::cos(roll), sr = std::sin(roll);
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    m[0][0] = cy * cp + sy * sr * sp;
    m[0][1] = sy * cr;
    m[0][2] = -cy * sp + sy * sr * cp;
    m[1][0] = -sy * cp + cy * sr * sp;
    m[1][1] = cy * cr;
    m[1][2] = sy * sp + cy * sr * cp;
    m[2][0] = cr * sp;
    m[2][1] = -sr;
    m[2][2] = cr * cp;
}

std::string Sci(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3e", v);
    return buf;
}

double Norm(const double a[3]) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

void Cross(const double u[3], const double v[3], double w[3])
{
    w[0] = u[1] * v[2] - u[2] * v[1];
    w[1] = u[2] * v[0] - u[0] * v[2];
    w[2] = u[0] * v[1] - u[1] * v[0];
}

void Product3(const double a[3][3], const double b[3][3], double c[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0.0;
            for (int k = 0; k < 3; ++k) s += a[i][k] * b[k][j];
            c[i][j] = s;
        }
}

// The attitude quaternion of a record: inertial (or, with `orbitalOnly`,
// orbital) to body. Either way the record's state must define an orbital
// frame.
bool RecordQuaternion(const ProductRecord& e, const ProductRecord& a, bool orbitalOnly, Quat& q,
                      std::string& why)
{
    double m[3][3], angles[3];
    if (!RecoverOrbitalAttitude(a.v, m, angles, why)) return false;
    double o[3][3];
    if (!OrbitalFrame(e.v, e.v + 3, o)) {
        why = "its position and velocity define no orbital frame";
        return false;
    }
    if (orbitalOnly) {
        q = QuatFromMatrix(m);
        return true;
    }
    double b[3][3];
    Product3(m, o, b);
    q = QuatFromMatrix(b);
    return true;
}

std::string Deg(double rad) { return FixedText(rad * 57.29577951308232, 3); }

// Where the sign of the computed g(roll) of RecoverOrbitalAttitude (the
// (2,3) element for elements a and c, minus b) is known on [-rollMax,
// rollMax] without evaluating it: below `below` negative, above `above`
// not negative (each left as it is when that cannot be shown).
//
// g grows strictly with roll. Where the computed g is within E of the true
// one on a stretch, a point p of it with computed g(p) < -2E has true
// g(p) < -E, so the true g is below -E, and the computed one negative, at
// every point of the stretch left of p; likewise, to the right of a point
// with computed g > 2E. The bound E comes from the sizes of g's terms: the
// computed terms a c / cos^2 and sin(roll) sqrt(f1 f2) (f1 = 1 - a^2 /
// cos^2, f2 = 1 - c^2 / cos^2) and the subtractions are off by a few units
// in the last place of the terms' sizes; the square root more, by the
// error of f1 f2 over twice its root, worst at the ends of the interval.
// E is taken four times that analysis, and at least 1e-300 for underflow.
//
// The points are put either side of the root, which Newton's method
// finds: first 1e-9 away, with E for the whole interval, then closer, with
// E for the 1e-9 around the root.
template <class G>
void KnownSigns(const G& g, double a, double c, double b, double rollMax, double& below,
                double& above)
{
    const double u = 1.1102230246251565e-16;   // 2^-53
    const double crMax = std::cos(rollMax), crMax2 = crMax * crMax;
    const double least = (1.0 - a * a / crMax2) * (1.0 - c * c / crMax2);
    if (!(least >= 1e-6)) return;
    const double rootError = 7.0 / std::sqrt(least) + 5.0;
    auto bound = [&](double cos2, double sinAbs) {
        return 4.0 * u * (7.0 * std::fabs(a * c) / cos2 + sinAbs * rootError + std::fabs(b)) + 1e-300;
    };

    // Newton's method from the small-roll solution: near roll 0, g is about
    // a c - b + sin(roll) sqrt((1 - a^2) (1 - c^2)).
    const double slope0 = std::sqrt((1.0 - a * a) * (1.0 - c * c));
    double x = std::asin(std::max(-0.5, std::min(0.5, (b - a * c) / slope0)));
    double slope = slope0;
    for (int i = 0; i < 8; ++i) {
        const double cr = std::cos(x), sr = std::sin(x), w = 1.0 / (cr * cr);
        const double f1 = 1.0 - a * a * w, f2 = 1.0 - c * c * w;
        const double root = std::sqrt(f1 * f2);
        const double dw = 2.0 * sr * w / cr;   // d(1 / cos^2)/d roll
        const double droot = -(a * a * f2 + c * c * f1) * dw / (2.0 * root);
        const double f = a * c * w + sr * root - b;
        slope = a * c * dw + cr * root + sr * droot;
        const double next = x - f / slope;
        if (!(next > -rollMax && next < rollMax) || !(slope > 0.0)) return;
        // Convergence is quadratic: after a step this small x is exact to
        // about its square.
        const bool done = std::fabs(next - x) < 1e-12;
        x = next;
        if (done) break;
    }

    // Far from the root.
    const double near = 1e-9;
    const double whole = bound(crMax2, std::sin(rollMax));
    const double p = x - near, q = x + near;
    const bool leftKnown = p <= -rollMax || g(p) < -2.0 * whole;
    const bool rightKnown = q >= rollMax || g(q) > 2.0 * whole;
    if (!leftKnown || !rightKnown) return;
    below = std::max(below, p);
    above = std::min(above, q);
    // Near it.
    const double cosNear = std::cos(std::fabs(x) + near);
    const double local = bound(cosNear * cosNear, std::fabs(std::sin(x)) + near);
    for (double step = 4.0 * local / slope; step < near; step *= 16.0) {
        const double pn = x - step, qn = x + step;
        if (g(pn) < -2.0 * local && g(qn) > 2.0 * local) {
            below = pn;
            above = qn;
            return;
        }
    }
}

} // namespace

bool RecoverOrbitalAttitude(const double e[3], double m[3][3], double yrp[3], std::string& why)
{
    const double a = e[0], b = e[1], c = e[2];   // sy cr, sy sp + cy sr cp, cr sp
    if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c)) {
        why = "its attitude elements are not all finite numbers";
        return false;
    }
    // Within the supported cube, yaw = asin(a / cos roll) and pitch =
    // asin(c / cos roll), so cos roll is at least max(|a|, |c|) / sin L; on
    // that interval of roll the (2,3) element grows strictly with roll (the
    // Jacobian is positive), so it holds at most one solution, found by
    // bisection.
    const double limit = kMaxRecoverableAngle + 1e-9;
    static const double sinLimit = std::sin(limit);
    const double k = std::max(std::fabs(a), std::fabs(c)) / sinLimit;
    auto outOfRange = [&]() {
        return "its elements (" + Sci(a) + ", " + Sci(b) + ", " + Sci(c) +
               ") fit no attitude with all three angles within " + Deg(kMaxRecoverableAngle) +
               " deg, and beyond that they do not determine it uniquely";
    };
    if (k > 1.0) {
        why = outOfRange();
        return false;
    }
    const double rollMax = std::min(limit, std::acos(k));
    auto g = [&](double roll) {
        const double cr = std::cos(roll), cr2 = cr * cr;
        const double root = std::sqrt(std::max(0.0, (1.0 - a * a / cr2) * (1.0 - c * c / cr2)));
        return a * c / cr2 + std::sin(roll) * root - b;
    };
    // The bisection's path depends only on the sign of g at each midpoint.
    // Below `below` and above `above` that sign is known, so only the
    // midpoints between them, near the root, cost an evaluation: the path,
    // and so the result, is the same as with every midpoint evaluated.
    double lo = -rollMax, hi = rollMax;
    double below = lo, above = hi;
    KnownSigns(g, a, c, b, rollMax, below, above);
    // g at lo and hi where evaluated (NaN: not evaluated). With both signs
    // known g is negative at -rollMax and positive at rollMax, so the
    // elements fit an attitude in range.
    double atLo = NAN, atHi = NAN;
    if (below == lo || above == hi) {
        atLo = g(lo);
        atHi = g(hi);
        if (atLo > kResidualLimit || atHi < -kResidualLimit) {
            why = outOfRange();
            return false;
        }
    }
    for (int i = 0; i < 200 && hi - lo > 0.0; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        const double at = mid < below || mid > above ? NAN : g(mid);
        if (mid < below || (mid <= above && at < 0.0)) {
            lo = mid;
            atLo = at;
        } else {
            hi = mid;
            atHi = at;
        }
    }
    if (std::isnan(atLo)) atLo = g(lo);
    if (std::isnan(atHi)) atHi = g(hi);
    const double roll = std::fabs(atLo) < std::fabs(atHi) ? lo : hi;
    const double cr = std::cos(roll);
    const double yaw = std::asin(std::max(-1.0, std::min(1.0, a / cr)));
    const double pitch = std::asin(std::max(-1.0, std::min(1.0, c / cr)));
    AttitudeMatrix(yaw, roll, pitch, m);
    const double residual = std::max(std::fabs(m[0][1] - a),
                                     std::max(std::fabs(m[1][2] - b), std::fabs(m[2][0] - c)));
    if (!(residual <= kResidualLimit)) {
        why = "the attitude recovered from its elements (" + Sci(a) + ", " + Sci(b) + ", " +
              Sci(c) + ") misses them by " + Sci(residual);
        return false;
    }
    yrp[0] = yaw;
    yrp[1] = roll;
    yrp[2] = pitch;
    return true;
}

bool OrbitalFrame(const double r[3], const double v[3], double m[3][3])
{
    double h[3];
    Cross(r, v, h);
    const double nr = Norm(r), nh = Norm(h);
    if (!(nr > 0.0) || !(nh > 0.0) || !std::isfinite(nr) || !std::isfinite(nh)) return false;
    for (int k = 0; k < 3; ++k) {
        m[2][k] = -r[k] / nr;
        m[1][k] = -h[k] / nh;
    }
    Cross(m[1], m[2], m[0]);
    const double nx = Norm(m[0]);
    for (int k = 0; k < 3; ++k) m[0][k] /= nx;
    return true;
}

namespace {

// The quaternions of records [from, to); the first record that has none
// stops the part, with its index and the reason.
struct QuaternionPart {
    size_t from = 0, to = 0;
    size_t failed = SIZE_MAX;
    std::string why;
};

void QuaternionsOf(const Product& eph, const Product& att, bool orbitalFrame,
                   std::vector<Quat>& quaternions, QuaternionPart& part)
{
    for (size_t i = part.from; i < part.to; ++i) {
        const ProductRecord& e = eph.records[i];
        const ProductRecord& a = att.records[i];
        if (a.tai93 != e.tai93) {
            part.failed = i;
            part.why = "record " + std::to_string(i) + " has different times in the two files";
            return;
        }
        std::string reason;
        if (!RecordQuaternion(e, a, orbitalFrame, quaternions[i], reason)) {
            part.failed = i;
            part.why = "attitude record " + std::to_string(i) + " (" + IsoTaiFromTai93(a.tai93, 3) +
                       " TAI): " + reason;
            return;
        }
    }
}

} // namespace

std::string AemQuaternions(const Product& eph, const Product& att, bool orbitalFrame,
                           std::vector<Quat>& quaternions)
{
    quaternions.clear();
    std::string why = UnusableRecord(eph.records, 6, "ephemeris");
    if (!why.empty()) return why;
    if (att.records.size() != eph.records.size())
        return "the ephemeris file holds " + std::to_string(eph.records.size()) +
               " records, the attitude file " + std::to_string(att.records.size());
    const size_t n = eph.records.size();
    quaternions.resize(n);
    // The recovery of each record's attitude is most of an export's work:
    // on a machine with a second core the second half of a long product is
    // done there at the same time. Each record's quaternion is the same
    // either way; the first record without one is reported, as in one pass.
    QuaternionPart parts[2];
    parts[0].to = n;
    std::thread second;
    std::exception_ptr secondFailed;
    if (n >= 20000 && std::thread::hardware_concurrency() > 1) {
        parts[0].to = parts[1].from = n / 2;
        parts[1].to = n;
        try {
            second = std::thread([&] {
                try {
                    QuaternionsOf(eph, att, orbitalFrame, quaternions, parts[1]);
                } catch (...) {
                    secondFailed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            parts[0].to = n;   // no thread to be had: one pass
            parts[1] = QuaternionPart();
        }
    }
    try {
        QuaternionsOf(eph, att, orbitalFrame, quaternions, parts[0]);
    } catch (...) {
        if (second.joinable()) second.join();
        throw;
    }
    if (second.joinable()) second.join();
    if (secondFailed) std::rethrow_exception(secondFailed);
    for (const QuaternionPart& part : parts) {
        if (part.failed != SIZE_MAX) {
            quaternions.clear();
            return part.why;
        }
    }
    return "";
}

void WriteAem(std::ostream& os, const Product& eph, const std::vector<Quat>& quaternions,
              const AemOptions& o)
{
    const std::vector<Segment> segments = SegmentsAtLargeGaps(eph.records);
    const char* frameA = o.orbitalFrame ? "LVLH_ROTATING" : "EME2000";
    WriteMessageStart(os, "CCSDS_AEM_VERS = 2.0", o, "attitudes", eph.records, segments.size());
    os << "COMMENT Quaternion Q1 Q2 Q3 QC, scalar last, of the rotation from REF_FRAME_A "
          "to REF_FRAME_B: it turns "
       << frameA << " coordinates into body coordinates\n";
    if (o.orbitalFrame)
        os << "COMMENT LVLH_ROTATING: z towards the Earth's centre, y against the orbit "
              "normal, x = y cross z, from each state of the ephemeris product\n";
    WriteHeaderNames(os, o);

    DataLines lines(os);
    for (size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        WriteSegmentStart(os, o, k, segments.size(), s);
        os << "REF_FRAME_A = " << frameA << "\n";
        os << "REF_FRAME_B = SC_BODY_1\n";
        WriteSegmentSpan(os, eph.records[s.first].tai93, eph.records[s.last].tai93);
        os << "ATTITUDE_TYPE = QUATERNION\n";
        os << "INTERPOLATION_METHOD = LAGRANGE\n";
        os << "INTERPOLATION_DEGREE = " << SegmentDegree(s, o.degree) << "\n";
        os << "META_STOP\n\nDATA_START\n";
        Quat previous;
        for (size_t i = s.first; i <= s.last; ++i) {
            Quat q = quaternions[i];
            // q and -q are the same attitude: the first of a segment has a
            // non-negative scalar, the others follow it without sign jumps,
            // so that the components can be interpolated.
            double dot = 0.0;
            for (int j = 0; j < 4; ++j) dot += q.q[j] * previous.q[j];
            if (i == s.first ? q.q[3] < 0.0 : dot < 0.0)
                for (double& c : q.q) c = -c;
            previous = q;
            lines.Begin(eph.records[i].tai93);
            for (int j = 0; j < 4; ++j) lines.Value(q.q[j], 12);
            lines.End();
        }
        lines.Flush();
        os << "DATA_STOP\n";
    }
}

} // namespace toolkit
