// The telemetry of the simulated spacecraft, packet by packet.
#include "trokgen_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "toolkit/cli/cli.h"
#include "toolkit/packets/packetbuilder.h"
#include "trokgen_days.h"

using namespace toolkit;

namespace trokgen {

std::string OtherPacket(unsigned sequence, size_t size)
{
    std::string p(size, static_cast<char>(0x5A));
    EncodePrimaryHeader(&p[0], 0, kOtherApid, sequence & 0x3FFF, static_cast<unsigned>(size - 7));
    return p;
}

void FlipPositionBit(std::string& pkt, int weight)
{
    size_t best = 0;
    int bestExp = -1000;
    for (size_t c = 0; c < 3; ++c) {
        const int exponent = static_cast<signed char>(pkt[14 + 6 * c + 3]);
        if (exponent > bestExp) {
            bestExp = exponent;
            best = c;
        }
    }
    const int j = bestExp - weight;   // mantissa bit after the sign bit
    if (j < 1 || j > 39) Fail("a position too small for a flipped bit of 2^" + std::to_string(weight) + " m");
    const size_t byte = j < 24 ? static_cast<size_t>(j / 8) : static_cast<size_t>(4 + (j - 24) / 8);
    const int bit = 7 - (j < 24 ? j % 8 : (j - 24) % 8);
    pkt[14 + 6 * best + byte] = static_cast<char>(pkt[14 + 6 * best + byte] ^ (1 << bit));
}

OrbitSimulator MakeSimulator(const Options& o)
{
    KeplerOrbit orbit;
    orbit.a = kEquatorialRadius + o.altitudeKm * 1e3;
    orbit.e = o.ecc;
    orbit.i = o.inclDeg * kDeg;
    orbit.raan = o.raanDeg * kDeg;
    orbit.argp = o.argpDeg * kDeg;
    orbit.meanAnomaly = o.meanAnomalyDeg * kDeg;
    AttitudeWobble wobble;
    for (int j = 0; j < 3; ++j) {
        if (o.wobbleDeg[j] >= 0.0) wobble.amplitude[j] = o.wobbleDeg[j] * kDeg;
        wobble.amplitude[j] *= o.wobble;
    }
    return OrbitSimulator(orbit, wobble, o.twoBody ? OrbitModel::TwoBody : OrbitModel::SecularJ2);
}

PacketStream::PacketStream(const Options& options, const OrbitSimulator& simulator, const Schedule& schedule,
                           Random& random)
    : o(options), sim(simulator), sched(schedule), rng(random), pktsize(options.pelk ? 214 : 126),
      apid(options.pelk ? 967 : 957),
      others(schedule.othersAfter)
{
    std::sort(others.begin(), others.end());
}

std::string PacketStream::Telemetry(long k)
{
    TelemetrySample sample;
    double offset = static_cast<double>(k) + (2.0 * rng.Uniform() - 1.0) * o.jitterMs * 1e-3;
    if (sched.timeFaults.count(k)) offset = lastTime - 0.5;
    if (k == 0) offset = 0.0;
    // Each file of an archive starts on its second, and the sample before
    // it stays on the day before.
    if (!o.archive.empty() && !sched.timeFaults.count(k) &&
        (std::binary_search(o.dayStarts.begin(), o.dayStarts.end(), k) ||
         std::binary_search(o.dayStarts.begin(), o.dayStarts.end(), k + 1)))
        offset = static_cast<double>(k);
    const ClockCounts counts = ClockAt(o.start, offset);
    sample.coarse = counts.coarse;
    sample.fine = counts.fine;
    const double dt = ClockOffset(o.start, counts);
    const NavigationState s = sim.At(dt);
    for (int j = 0; j < 3; ++j) {
        sample.pos[j] = s.pos[j];
        sample.vel[j] = s.vel[j];
        sample.rates[j] = s.rates[j];
    }
    for (int j = 0; j < 4; ++j) sample.quat[j] = s.quat.q[j];
    std::string pkt = TelemetryPacket(sample, pktsize, apid, static_cast<unsigned>(k) & 0x3FFF);
    const auto flip = sched.flipped.find(k);
    if (flip != sched.flipped.end()) FlipPositionBit(pkt, flip->second);
    lastTime = dt;
    return pkt;
}

void PacketStream::Append(long from, long to, std::string& out, std::vector<size_t>* starts,
                          std::vector<long>* samples)
{
    for (long k = from; k < to; ++k) {
        if (!sched.dropped[static_cast<size_t>(k)]) {
            const std::string pkt = Telemetry(k);
            if (starts) starts->push_back(out.size());
            if (samples) samples->push_back(k);
            out += pkt;
            ++telemetry;
            ++written;
            if (sched.repeated.count(k)) {
                out += pkt;
                ++written;
            }
        }
        for (; nextOther < others.size() && others[nextOther] == k; ++nextOther) {
            out += OtherPacket(otherSequence, 40 + (otherSequence % 5) * 8);
            ++otherSequence;
            ++written;
            ++otherCount;
        }
    }
}

} // namespace trokgen
