#ifndef TROKGEN_STREAM_H
#define TROKGEN_STREAM_H

#include <cstddef>
#include <string>
#include <vector>

#include "toolkit/simulation/orbitsim.h"
#include "trokgen_options.h"
#include "trokgen_random.h"
#include "trokgen_schedule.h"

namespace trokgen {

// A packet of the other application (APID kOtherApid), `size` bytes.
std::string OtherPacket(unsigned sequence, size_t size);

// Flips the bit of weight 2^weight metres in the mantissa of the largest
// position component of an encoded telemetry packet (MIL-STD-1750A extended
// precision: 24 mantissa bits, the exponent byte, 16 more mantissa bits).
void FlipPositionBit(std::string& pkt, int weight);

// The simulated spacecraft of the options.
toolkit::OrbitSimulator MakeSimulator(const Options& o);

// Encodes the samples of a span one after the other; the state it keeps
// (the last time sent, the packets of the other application) carries from
// one call to the next, so a span can be written in pieces.
class PacketStream
{
public:
    PacketStream(const Options& options, const toolkit::OrbitSimulator& simulator, const Schedule& schedule,
                 Random& random);

    // Appends the packets of nominal samples [from, to) to `out`; the offset
    // in `out` of each telemetry packet goes to `starts` when given, and its
    // sample's number to `samples`.
    void Append(long from, long to, std::string& out, std::vector<size_t>* starts = nullptr,
                std::vector<long>* samples = nullptr);

    size_t PacketSize() const { return pktsize; }
    unsigned Apid() const { return apid; }
    long written = 0, telemetry = 0, otherCount = 0;

private:
    // The telemetry packet of sample k.
    std::string Telemetry(long k);

    const Options& o;
    const toolkit::OrbitSimulator& sim;
    const Schedule& sched;
    Random& rng;
    const size_t pktsize;
    const unsigned apid;
    std::vector<long> others;
    size_t nextOther = 0;
    unsigned otherSequence = 0;
    double lastTime = -1e300;   // seconds after the start of the last sample sent
};

} // namespace trokgen

#endif
