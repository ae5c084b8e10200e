#ifndef TESTS_FIXTURES_H
#define TESTS_FIXTURES_H

// The sample packets and products the tests share.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/packets/packetbuilder.h"

// 2024-01-02 00:00:00 TAI in packet seconds: 24107 days after 1958.
constexpr uint32_t kCoarse0 = 2082844800u;

// A navigation sample at packet time `coarse` + `fine`: the spacecraft on
// the -z axis moving along +x on a circular orbit, its attitude the
// identity.
inline toolkit::TelemetrySample Sample(uint32_t coarse, uint16_t fine = 0)
{
    toolkit::TelemetrySample s;
    s.coarse = coarse;
    s.fine = fine;
    s.pos[2] = -7000000.0;
    s.vel[0] = 7546.0;
    s.quat[3] = 1.0;
    return s;
}

// n packets of Sample at the whole seconds kCoarse0 + first, + first + 1, ...
inline toolkit::PacketFileBuilder Steady(uint32_t first, uint32_t n, size_t size = 126,
                                         unsigned apid = 957)
{
    toolkit::PacketFileBuilder b(size, apid);
    for (uint32_t k = first; k < first + n; ++k) b.AddTelemetry(Sample(kCoarse0 + k));
    return b;
}

// A configfile for the packet file in.pkt without an element file, the
// products out.eph and out.att.
constexpr char kNoElementsConfig[] =
    "-packetfile in.pkt\n-noradfile noTLE\n-ephemerisfile out.eph\n-attitudefile out.att\n";

// A simulated span through trokgen (with `trokgenOptions`) and trokproc in
// `dir`: name.pkt, name.tle, name.cfg and the products name.eph and
// name.att. "" when both ran well, else what went wrong.
std::string MakeProducts(const std::string& dir, const std::string& name,
                         const std::vector<std::string>& trokgenOptions);

#endif
