// Telemetry packet decoding on arbitrary bytes, in both packet layouts: the
// read, the header fields, the decoded values, the dump and the printed form.
#include <sstream>

#include "fuzz_common.h"
#include "vn_class_trokpacket.h"

namespace {

void Exercise(const std::string& bytes)
{
    std::istringstream in(bytes);
    trokpacket pkt;
    pkt.ReadPkt(in);
    std::ostream& os = NullStream();
    os << pkt;
    pkt.Dump(os, 0, 0);
    pkt.Dump(os, 0, pkt.DataSize());
    if (pkt.Position().size() != 3 || pkt.Velocity().size() != 3 ||
        pkt.Attitude().size() != 4 || pkt.AngleRates().size() != 3)
        __builtin_trap();
    // A clock of 32-bit seconds since 1958 stays within these Julian days.
    const double t = pkt.TimeTag();
    if (!(t >= 2436204.5 && t < 2436204.5 + 49711.0)) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    PickPacketLayout(data[0]);
    Exercise(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    return 0;
}
