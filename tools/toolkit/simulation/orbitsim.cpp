#include "toolkit/simulation/orbitsim.h"

#include <cmath>

namespace toolkit {

namespace {
const double kTwoPi = 6.283185307179586;

void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

void Normalise(double v[3])
{
    const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int j = 0; j < 3; ++j) v[j] /= len;
}

// Inertial to orbital, from position and velocity as trokproc builds it:
// z = -r/|r|, y = -(r x v)/|r x v|, x = y x z. Its sign follows the frame of
// the mean orbit plane, which is continuous in time.
Quat FrameFromState(const double pos[3], const double vel[3], const Quat& near)
{
    double m[3][3], h[3];
    Cross(pos, vel, h);
    for (int j = 0; j < 3; ++j) {
        m[2][j] = -pos[j];
        m[1][j] = -h[j];
    }
    Normalise(m[2]);
    Normalise(m[1]);
    Cross(m[1], m[2], m[0]);
    Quat q = QuatFromMatrix(m);
    double dot = 0;
    for (int j = 0; j < 4; ++j) dot += q.q[j] * near.q[j];
    if (dot < 0)
        for (double& c : q.q) c = -c;
    return q;
}

} // namespace

double SolveKepler(double M, double e)
{
    double E = e < 0.8 ? M : 3.141592653589793;
    for (int k = 0; k < 50; ++k) {
        const double f = E - e * std::sin(E) - M;
        const double d = f / (1.0 - e * std::cos(E));
        E -= d;
        if (std::fabs(d) < 1e-15) break;
    }
    return E;
}

OrbitSimulator::OrbitSimulator(const KeplerOrbit& o, const AttitudeWobble& w, OrbitModel m)
    : orbit(o), wobble(w), model(m), n(std::sqrt(kSimMu / (o.a * o.a * o.a)))
{
    meanAnomalyRate = n;
    if (model == OrbitModel::SecularJ2) {
        // First-order secular rates: with p the semi-latus rectum and
        // k = 3/2 J2 (R/p)^2 n, the node turns at -k cos i, the perigee at
        // k/2 (5 cos^2 i - 1) and the mean anomaly at
        // n + k/2 sqrt(1 - e^2) (3 cos^2 i - 1).
        const double p = o.a * (1.0 - o.e * o.e);
        const double ratio = kSimJ2Radius / p;
        const double k = 1.5 * kSimJ2 * ratio * ratio * n;
        const double c = std::cos(o.i);
        nodeRate = -k * c;
        perigeeRate = 0.5 * k * (5.0 * c * c - 1.0);
        meanAnomalyRate = n + 0.5 * k * std::sqrt(1.0 - o.e * o.e) * (3.0 * c * c - 1.0);
    }
    // Orbit-plane frame rows: node line, its perpendicular in the plane,
    // orbit normal; = R1(i) R3(raan).
    planeQuat = QuatProduct(AxisQuat(1, o.i), AxisQuat(3, o.raan));
    // (r, t, h) -> (x, y, z) = (t, -h, -r).
    const double c[3][3] = {{0, 1, 0}, {0, 0, -1}, {-1, 0, 0}};
    axesQuat = QuatFromMatrix(c);
}

KeplerOrbit OrbitSimulator::ElementsAt(double dt) const
{
    KeplerOrbit k = orbit;
    if (model == OrbitModel::TwoBody) {
        k.meanAnomaly = orbit.meanAnomaly + n * dt;
        return k;
    }
    k.raan = orbit.raan + nodeRate * dt;
    k.argp = orbit.argp + perigeeRate * dt;
    k.meanAnomaly = orbit.meanAnomaly + meanAnomalyRate * dt;
    return k;
}

double OrbitSimulator::ArgumentOfLatitude(double dt) const
{
    const KeplerOrbit k = ElementsAt(dt);
    const double M = k.meanAnomaly;
    const double turns = std::floor(M / kTwoPi);
    const double E = SolveKepler(M - turns * kTwoPi, orbit.e);
    const double nu = 2.0 * std::atan2(std::sqrt(1.0 + orbit.e) * std::sin(0.5 * E),
                                       std::sqrt(1.0 - orbit.e) * std::cos(0.5 * E));
    // E and nu lie in [0, 2 pi) together with the folded mean anomaly.
    const double nuFolded = nu < 0 ? nu + kTwoPi : nu;
    return k.argp + nuFolded + turns * kTwoPi;
}

namespace {

// Position and velocity on the ellipse of `k` at its mean anomaly, the
// velocity for a mean anomaly running at `rate` (rad/s); Kepler's own rate is
// n = sqrt(mu / a^3).
void EllipseState(const KeplerOrbit& k, double n, double rate, double pos[3], double vel[3])
{
    const double e = k.e, a = k.a;
    const double E = SolveKepler(k.meanAnomaly, e);
    const double cE = std::cos(E), sE = std::sin(E);
    const double b = std::sqrt(1.0 - e * e);
    const double r = a * (1.0 - e * cE);
    const double xp = a * (cE - e), yp = a * b * sE;
    const double speed = std::sqrt(kSimMu * a) / r * (rate / n);
    const double vxp = -speed * sE, vyp = speed * b * cE;

    const double cO = std::cos(k.raan), sO = std::sin(k.raan);
    const double cw = std::cos(k.argp), sw = std::sin(k.argp);
    const double ci = std::cos(k.i), si = std::sin(k.i);
    const double P[3] = {cO * cw - sO * sw * ci, sO * cw + cO * sw * ci, sw * si};
    const double Q[3] = {-cO * sw - sO * cw * ci, -sO * sw + cO * cw * ci, cw * si};
    for (int j = 0; j < 3; ++j) {
        pos[j] = xp * P[j] + yp * Q[j];
        vel[j] = vxp * P[j] + vyp * Q[j];
    }
}

} // namespace

void OrbitSimulator::PositionVelocity(double dt, double pos[3], double vel[3]) const
{
    const KeplerOrbit k = ElementsAt(dt);
    EllipseState(k, n, meanAnomalyRate, pos, vel);
    if (model == OrbitModel::TwoBody) return;
    // The node turns about the z axis, the perigee about the orbit normal.
    const double normal[3] = {std::sin(k.raan) * std::sin(k.i), -std::cos(k.raan) * std::sin(k.i),
                              std::cos(k.i)};
    const double z[3] = {0.0, 0.0, 1.0};
    double turnNode[3], turnPerigee[3];
    Cross(z, pos, turnNode);
    Cross(normal, pos, turnPerigee);
    for (int j = 0; j < 3; ++j) vel[j] += nodeRate * turnNode[j] + perigeeRate * turnPerigee[j];
}

Quat OrbitSimulator::OrbitalFrameAt(double dt) const
{
    if (model == OrbitModel::TwoBody)
        return QuatProduct(axesQuat, QuatProduct(AxisQuat(3, ArgumentOfLatitude(dt)), planeQuat));
    const KeplerOrbit k = ElementsAt(dt);
    const Quat plane = QuatProduct(AxisQuat(1, k.i), AxisQuat(3, k.raan));
    const Quat mean = QuatProduct(axesQuat, QuatProduct(AxisQuat(3, ArgumentOfLatitude(dt)), plane));
    double pos[3], vel[3];
    PositionVelocity(dt, pos, vel);
    return FrameFromState(pos, vel, mean);
}

Quat OrbitSimulator::AttitudeAt(double dt, double yrp[3]) const
{
    for (int j = 0; j < 3; ++j)
        yrp[j] = wobble.amplitude[j] *
                 std::sin(kTwoPi * dt / wobble.period[j] + wobble.phase[j]);
    const Quat w = QuatProduct(AxisQuat(3, yrp[0]),
                               QuatProduct(AxisQuat(1, yrp[1]), AxisQuat(2, yrp[2])));
    return QuatProduct(w, OrbitalFrameAt(dt));
}

NavigationState OrbitSimulator::At(double dt) const
{
    NavigationState s;
    PositionVelocity(dt, s.pos, s.vel);
    s.quat = AttitudeAt(dt, s.yawRollPitch);

    // Body rates from dA/dt = -[w x] A by a central difference over +-h.
    const double h = 0.01;
    double ignored[3], ap[3][3], am[3][3], a0[3][3];
    QuatToMatrix(AttitudeAt(dt + h, ignored), ap);
    QuatToMatrix(AttitudeAt(dt - h, ignored), am);
    QuatToMatrix(s.quat, a0);
    double W[3][3];   // [w x] = -(dA/dt) A^T
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += (ap[r][k] - am[r][k]) * a0[c][k];
            W[r][c] = -sum / (2.0 * h);
        }
    s.rates[0] = 0.5 * (W[2][1] - W[1][2]);
    s.rates[1] = 0.5 * (W[0][2] - W[2][0]);
    s.rates[2] = 0.5 * (W[1][0] - W[0][1]);
    return s;
}

double KozaiMeanMotion(double brouwer, double e, double i)
{
    // SGP4 recovers n'' = nK / (1 + d) with d from a two-step estimate of the
    // semi-major axis (earth radii, xke = 60 / sqrt(R^3 / mu) per minute);
    // nK = n'' (1 + d(nK)) converges in a few steps.
    const double radiusKm = 6378.135, muKm = 398600.8;
    const double xke = 60.0 / std::sqrt(radiusKm * radiusKm * radiusKm / muKm);
    const double c = std::cos(i);
    const double omeosq = 1.0 - e * e;
    const double d1 = 0.75 * kSimJ2 * (3.0 * c * c - 1.0) / (std::sqrt(omeosq) * omeosq);
    double kozai = brouwer;
    for (int step = 0; step < 30; ++step) {
        const double ak = std::pow(xke / kozai, 2.0 / 3.0);
        double del = d1 / (ak * ak);
        const double adel =
            ak * (1.0 - del * del - del * (1.0 / 3.0 + 134.0 * del * del / 81.0));
        del = d1 / (adel * adel);
        const double next = brouwer * (1.0 + del);
        if (next == kozai) break;
        kozai = next;
    }
    return kozai;
}

} // namespace toolkit
