#ifndef TOOLKIT_ORBITSIM_H
#define TOOLKIT_ORBITSIM_H

#include "toolkit/products/quaternion.h"

namespace toolkit {

// Gravitational parameter of the two-body model, m^3/s^2 (the value the
// product run uses for its orbit elements).
constexpr double kSimMu = 3.9860064e14;

// Classical elements at the simulation epoch: metres and radians.
struct KeplerOrbit {
    double a = 7078137.0;              // 700 km above the equatorial radius
    double e = 0.0012;
    double i = 1.7139133254584316;     // 98.2 degrees: sun-synchronous at 700 km
    double raan = 2.0943951023931953;  // 120 degrees
    double argp = 1.5707963267948966;  // 90 degrees
    double meanAnomaly = 0.0;
};

// A slow sinusoidal wobble of the body about the nadir-pointing frame:
// yaw (axis 3), roll (axis 1), pitch (axis 2), in that order, radians and
// seconds.
struct AttitudeWobble {
    double amplitude[3] = {0.0043633, 0.0026180, 0.0034907};  // 0.25, 0.15, 0.2 deg
    double period[3] = {1700.0, 2300.0, 3100.0};
    double phase[3] = {0.0, 1.0, 2.0};
};

// How the orbit moves. TwoBody: a fixed Kepler ellipse. SecularJ2: the
// ellipse of the mean elements, whose node, perigee and mean anomaly drift
// at the first-order secular rates of the Earth's oblateness (J2), the
// motion a sun-synchronous spacecraft's element sets show from day to day.
enum class OrbitModel { TwoBody, SecularJ2 };

// Oblateness constants of the WGS-72 model, the ones SGP4 uses, so that
// element sets of the simulated orbit propagate alike in SGP4 tools.
constexpr double kSimJ2 = 0.001082616;
constexpr double kSimJ2Radius = 6378135.0;   // m

// What the spacecraft reports at one instant.
struct NavigationState {
    double pos[3];     // inertial, metres
    double vel[3];     // inertial, metres per second
    Quat quat;         // inertial-to-body attitude, scalar last
    double rates[3];   // body angular velocity in body axes, rad/s
    double yawRollPitch[3];  // wobble angles applied, radians
};

// An orbit with a nadir-pointing attitude. The body frame is the orbital
// frame (z towards the Earth's centre, y opposite the orbit normal, x
// completing the triad) turned by the wobble: inertial-to-body =
// R3(yaw) R1(roll) R2(pitch) * inertial-to-orbital. The quaternion is
// continuous in time (no sign flips), so it can be interpolated.
//
// SecularJ2: position from the mean elements of the moment; velocity its
// exact time derivative (the Kepler velocity scaled to the drifting mean
// anomaly, plus the turning of the node and of the perigee), so positions
// and velocities agree with each other; the orbital frame is taken from
// that position and velocity, as trokproc takes it.
class OrbitSimulator
{
public:
    OrbitSimulator(const KeplerOrbit& orbit, const AttitudeWobble& wobble,
                   OrbitModel model = OrbitModel::TwoBody);

    // State `dt` seconds after the epoch (dt may be negative).
    NavigationState At(double dt) const;

    double MeanMotion() const { return n; }   // Kepler's, sqrt(mu / a^3), rad/s
    const KeplerOrbit& Orbit() const { return orbit; }
    OrbitModel Model() const { return model; }

    // Secular rates of the node, the perigee and the mean anomaly, rad/s
    // (0, 0 and the mean motion for a two-body orbit).
    double NodeRate() const { return nodeRate; }
    double PerigeeRate() const { return perigeeRate; }
    double MeanAnomalyRate() const { return meanAnomalyRate; }

    // Mean elements `dt` seconds after the epoch; node, perigee and mean
    // anomaly not folded.
    KeplerOrbit ElementsAt(double dt) const;

    // Argument of latitude (omega + true anomaly), not folded: it grows by
    // 2 pi per revolution.
    double ArgumentOfLatitude(double dt) const;

private:
    Quat AttitudeAt(double dt, double yrp[3]) const;
    Quat OrbitalFrameAt(double dt) const;
    void PositionVelocity(double dt, double pos[3], double vel[3]) const;

    KeplerOrbit orbit;
    AttitudeWobble wobble;
    OrbitModel model;
    double n;
    double nodeRate = 0, perigeeRate = 0, meanAnomalyRate = 0;
    Quat planeQuat;   // inertial to the orbit-plane frame (node line, ..., normal)
    Quat axesQuat;    // (radial, along-track, normal) to orbital (x, y, z)
};

// SGP4's mean motion (the Kozai mean motion of a two-line element set) of an
// orbit whose Brouwer mean motion is `brouwer` (rad/min), for eccentricity
// `e` and inclination `i` (rad): the inverse of the recovery SGP4 makes when
// it starts, with its WGS-72 constants.
double KozaiMeanMotion(double brouwer, double e, double i);

// Eccentric anomaly from the mean anomaly (radians, any value).
double SolveKepler(double meanAnomaly, double e);

} // namespace toolkit

#endif
