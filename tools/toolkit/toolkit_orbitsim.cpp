#include "toolkit_orbitsim.h"

#include <cmath>

namespace toolkit {

namespace {
const double kTwoPi = 6.283185307179586;
}

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

OrbitSimulator::OrbitSimulator(const KeplerOrbit& o, const AttitudeWobble& w)
    : orbit(o), wobble(w), n(std::sqrt(kSimMu / (o.a * o.a * o.a)))
{
    // Orbit-plane frame rows: node line, its perpendicular in the plane,
    // orbit normal; = R1(i) R3(raan).
    planeQuat = QuatProduct(AxisQuat(1, o.i), AxisQuat(3, o.raan));
    // (r, t, h) -> (x, y, z) = (t, -h, -r).
    const double c[3][3] = {{0, 1, 0}, {0, 0, -1}, {-1, 0, 0}};
    axesQuat = QuatFromMatrix(c);
}

double OrbitSimulator::ArgumentOfLatitude(double dt) const
{
    const double M = orbit.meanAnomaly + n * dt;
    const double turns = std::floor(M / kTwoPi);
    const double E = SolveKepler(M - turns * kTwoPi, orbit.e);
    const double nu = 2.0 * std::atan2(std::sqrt(1.0 + orbit.e) * std::sin(0.5 * E),
                                       std::sqrt(1.0 - orbit.e) * std::cos(0.5 * E));
    // E and nu lie in [0, 2 pi) together with the folded mean anomaly.
    const double nuFolded = nu < 0 ? nu + kTwoPi : nu;
    return orbit.argp + nuFolded + turns * kTwoPi;
}

void OrbitSimulator::PositionVelocity(double dt, double pos[3], double vel[3]) const
{
    const double e = orbit.e, a = orbit.a;
    const double E = SolveKepler(orbit.meanAnomaly + n * dt, e);
    const double cE = std::cos(E), sE = std::sin(E);
    const double b = std::sqrt(1.0 - e * e);
    const double r = a * (1.0 - e * cE);
    const double xp = a * (cE - e), yp = a * b * sE;
    const double k = std::sqrt(kSimMu * a) / r;
    const double vxp = -k * sE, vyp = k * b * cE;

    const double cO = std::cos(orbit.raan), sO = std::sin(orbit.raan);
    const double cw = std::cos(orbit.argp), sw = std::sin(orbit.argp);
    const double ci = std::cos(orbit.i), si = std::sin(orbit.i);
    const double P[3] = {cO * cw - sO * sw * ci, sO * cw + cO * sw * ci, sw * si};
    const double Q[3] = {-cO * sw - sO * cw * ci, -sO * sw + cO * cw * ci, cw * si};
    for (int j = 0; j < 3; ++j) {
        pos[j] = xp * P[j] + yp * Q[j];
        vel[j] = vxp * P[j] + vyp * Q[j];
    }
}

Quat OrbitSimulator::AttitudeAt(double dt, double yrp[3]) const
{
    for (int j = 0; j < 3; ++j)
        yrp[j] = wobble.amplitude[j] *
                 std::sin(kTwoPi * dt / wobble.period[j] + wobble.phase[j]);
    const Quat w = QuatProduct(AxisQuat(3, yrp[0]),
                               QuatProduct(AxisQuat(1, yrp[1]), AxisQuat(2, yrp[2])));
    const Quat orbital =
        QuatProduct(axesQuat, QuatProduct(AxisQuat(3, ArgumentOfLatitude(dt)), planeQuat));
    return QuatProduct(w, orbital);
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

} // namespace toolkit
