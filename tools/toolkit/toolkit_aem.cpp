#include "toolkit_aem.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "toolkit_isotime.h"

namespace toolkit {

namespace {

const uint32_t kRepaired = 0x20;

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

// The attitude quaternion of record i: inertial (or orbital) to body.
bool RecordQuaternion(const ProductRecord& e, const ProductRecord& a, bool orbitalOnly, Quat& q,
                      std::string& why)
{
    double m[3][3], angles[3];
    if (!RecoverOrbitalAttitude(a.v, m, angles, why)) return false;
    if (orbitalOnly) {
        q = QuatFromMatrix(m);
        return true;
    }
    double o[3][3];
    if (!OrbitalFrame(e.v, e.v + 3, o)) {
        why = "its position and velocity define no orbital frame";
        return false;
    }
    double b[3][3];
    Product3(m, o, b);
    q = QuatFromMatrix(b);
    return true;
}

std::string Deg(double rad)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", rad * 57.29577951308232);
    return buf;
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
    const double k = std::max(std::fabs(a), std::fabs(c)) / std::sin(limit);
    const std::string range = "its elements (" + Sci(a) + ", " + Sci(b) + ", " + Sci(c) +
                              ") fit no attitude with all three angles within " +
                              Deg(kMaxRecoverableAngle) +
                              " deg, and beyond that they do not determine it uniquely";
    if (k > 1.0) {
        why = range;
        return false;
    }
    const double rollMax = std::min(limit, std::acos(k));
    auto g = [&](double roll) {
        const double cr = std::cos(roll), cr2 = cr * cr;
        const double root = std::sqrt(std::max(0.0, (1.0 - a * a / cr2) * (1.0 - c * c / cr2)));
        return a * c / cr2 + std::sin(roll) * root - b;
    };
    double lo = -rollMax, hi = rollMax;
    const double glo = g(lo), ghi = g(hi);
    if (glo > kResidualLimit || ghi < -kResidualLimit) {
        why = range;
        return false;
    }
    for (int i = 0; i < 200 && hi - lo > 0.0; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi) break;
        if (g(mid) < 0.0) lo = mid;
        else hi = mid;
    }
    const double roll = std::fabs(g(lo)) < std::fabs(g(hi)) ? lo : hi;
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

std::string AemProblem(const Product& eph, const Product& att)
{
    std::string why = UnusableRecord(eph.records, 6, "ephemeris");
    if (!why.empty()) return why;
    if (att.records.size() != eph.records.size())
        return "the ephemeris file holds " + std::to_string(eph.records.size()) +
               " records, the attitude file " + std::to_string(att.records.size());
    for (size_t i = 0; i < eph.records.size(); ++i) {
        const ProductRecord& e = eph.records[i];
        const ProductRecord& a = att.records[i];
        if (a.tai93 != e.tai93)
            return "record " + std::to_string(i) + " has different times in the two files";
        Quat q;
        std::string reason;
        if (!RecordQuaternion(e, a, false, q, reason))
            return "attitude record " + std::to_string(i) + " (" + IsoTaiFromTai93(a.tai93, 3) +
                   " TAI): " + reason;
    }
    return "";
}

void WriteAem(std::ostream& os, const Product& eph, const Product& att, const AemOptions& o)
{
    const std::vector<Segment> segments = SegmentsAtLargeGaps(eph.records);
    size_t repaired = 0;
    for (const ProductRecord& r : eph.records) repaired += (r.flags & kRepaired) != 0;
    const char* frameA = o.orbitalFrame ? "LVLH_ROTATING" : "EME2000";
    os << "CCSDS_AEM_VERS = 2.0\n";
    for (const std::string& c : o.comments) os << "COMMENT " << c << "\n";
    os << "COMMENT " << eph.records.size() << " attitudes in " << segments.size()
       << (segments.size() == 1 ? " segment, " : " segments, ") << repaired
       << " of them interpolated across short telemetry gaps\n";
    os << "COMMENT Quaternion Q1 Q2 Q3 QC, scalar last, of the rotation from REF_FRAME_A "
          "to REF_FRAME_B: it turns "
       << frameA << " coordinates into body coordinates\n";
    if (o.orbitalFrame)
        os << "COMMENT LVLH_ROTATING: z towards the Earth's centre, y against the orbit "
              "normal, x = y cross z, from each state of the ephemeris product\n";
    os << "CREATION_DATE = " << o.creationDate << "\n";
    os << "ORIGINATOR = " << o.originator << "\n";
    if (!o.messageId.empty()) os << "MESSAGE_ID = " << o.messageId << "\n";

    char line[256];
    std::string ignored;
    for (size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        os << "\nMETA_START\n";
        os << "COMMENT Segment " << k + 1 << " of " << segments.size() << ": records "
           << s.first << " to " << s.last << "\n";
        os << "OBJECT_NAME = " << o.objectName << "\n";
        os << "OBJECT_ID = " << o.objectId << "\n";
        os << "CENTER_NAME = EARTH\n";
        os << "REF_FRAME_A = " << frameA << "\n";
        os << "REF_FRAME_B = SC_BODY_1\n";
        os << "TIME_SYSTEM = TAI\n";
        os << "START_TIME = " << IsoTaiFromTai93(eph.records[s.first].tai93, 6) << "\n";
        os << "STOP_TIME = " << IsoTaiFromTai93(eph.records[s.last].tai93, 6) << "\n";
        os << "ATTITUDE_TYPE = QUATERNION\n";
        os << "INTERPOLATION_METHOD = LAGRANGE\n";
        os << "INTERPOLATION_DEGREE = " << SegmentDegree(s, o.degree) << "\n";
        os << "META_STOP\n\nDATA_START\n";
        Quat previous;
        for (size_t i = s.first; i <= s.last; ++i) {
            Quat q;
            RecordQuaternion(eph.records[i], att.records[i], o.orbitalFrame, q, ignored);
            // q and -q are the same attitude: the first of a segment has a
            // non-negative scalar, the others follow it without sign jumps,
            // so that the components can be interpolated.
            double dot = 0.0;
            for (int j = 0; j < 4; ++j) dot += q.q[j] * previous.q[j];
            if (i == s.first ? q.q[3] < 0.0 : dot < 0.0)
                for (double& c : q.q) c = -c;
            previous = q;
            std::snprintf(line, sizeof line, "%s %.12f %.12f %.12f %.12f\n",
                          IsoTaiFromTai93(eph.records[i].tai93, 6).c_str(), q.q[0], q.q[1],
                          q.q[2], q.q[3]);
            os << line;
        }
        os << "DATA_STOP\n";
    }
}

} // namespace toolkit
