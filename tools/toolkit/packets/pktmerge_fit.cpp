// How well a copy of a packet fits its neighbours in the merged stream.
#include "toolkit/packets/pktmerge_fit.h"

#include <algorithm>
#include <cmath>

#include "timelib_proc_TAI93.h"
#include "toolkit/products/attitudecheck.h"
#include "toolkit/products/statecheck.h"
#include "vn_proc_FormatConvert.h"
#include "vn_proc_PacketRules.h"

namespace toolkit {

namespace merge {

namespace {

// Rates and quaternion norms are weighed against the attitude tolerance a
// second.
const double kRateTolerance = kAttitudeTolerance;   // rad/s

double Norm(const double* v, int n)
{
    double s = 0;
    for (int i = 0; i < n; ++i) s += v[i] * v[i];
    return std::sqrt(s);
}

// The angle of the rotation from one attitude quaternion to the other
// (either sign of a quaternion is the same rotation), from the chord
// between them, which stays accurate for small angles.
double TurnBetween(const double a[4], const double b[4])
{
    const double na = Norm(a, 4), nb = Norm(b, 4);
    if (!(na > 0 && nb > 0)) return M_PI;
    double minus = 0, plus = 0;
    for (int i = 0; i < 4; ++i) {
        const double d = a[i] / na - b[i] / nb, s = a[i] / na + b[i] / nb;
        minus += d * d;
        plus += s * s;
    }
    const double chord = std::sqrt(std::min(minus, plus));
    return 4.0 * std::asin(std::min(1.0, chord / 2.0));
}

ProductRecord Record(const PacketState& s)
{
    ProductRecord r;
    r.tai93 = s.tai93;
    for (int j = 0; j < 3; ++j) {
        r.v[j] = s.pos[j];
        r.v[3 + j] = s.vel[j];
    }
    return r;
}

// A number that is no number weighs as a great misfit.
double Weight(double v) { return std::isfinite(v) ? v : 1e300; }

} // namespace

PacketState DecodeState(const char* bytes)
{
    PacketState s;
    s.tai93 = JulianDayToTAI93(PacketTimeTag(bytes));
    for (int j = 0; j < 3; ++j) {
        s.pos[j] = MiL1750_EPFP(bytes + 14 + 6 * j);
        s.vel[j] = MiL1750_EPFP(bytes + 32 + 6 * j);
        s.rates[j] = MiL1750_FP(bytes + 74 + 4 * j);
    }
    for (int j = 0; j < 4; ++j) s.quat[j] = MiL1750_EPFP(bytes + 50 + 6 * j);
    return s;
}

bool FitNeighbour(const PacketState& copy, const PacketState& neighbour, MergeCopy& fit)
{
    const bool later = neighbour.tai93 > copy.tai93;
    double positionOff = 0, velocityOff = 0;
    if (!StateMisfit(Record(later ? copy : neighbour), Record(later ? neighbour : copy), positionOff, velocityOff))
        return false;
    const double dt = std::fabs(neighbour.tai93 - copy.tai93);
    const double rate = Norm(neighbour.rates, 3);
    const double turn = TurnBetween(copy.quat, neighbour.quat) / AttitudeTurnAllowed(dt, rate, rate, 0.0);
    double d[3];
    for (int j = 0; j < 3; ++j) d[j] = copy.rates[j] - neighbour.rates[j];
    const double rateOff = Norm(d, 3);
    fit.fitted = true;
    fit.positionOff = std::max(fit.positionOff, positionOff);
    fit.velocityOff = std::max(fit.velocityOff, velocityOff);
    fit.attitudeTurn = std::max(fit.attitudeTurn, turn);
    fit.rateOff = std::max(fit.rateOff, rateOff);
    fit.misfit += Weight(positionOff / kPositionTolerance) + Weight(velocityOff / kVelocityTolerance) +
                  Weight(turn) + Weight(rateOff / kRateTolerance);
    return true;
}

void FitNorm(const PacketState& copy, MergeCopy& fit)
{
    fit.normOff = std::fabs(Norm(copy.quat, 4) - 1.0);
    fit.misfit += Weight(fit.normOff / kAttitudeTolerance);
}

} // namespace merge

} // namespace toolkit
