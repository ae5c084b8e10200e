// Packet files: the scan, every packet read, then the repaired stream through
// the packet processor with the attitude angles and records of every point,
// and the pass model on every orbit of the list. The steps that end the
// program with a message (time order, open orbit) are checked beforehand so
// that only inputs the program would carry through are driven through them.
#include <cmath>
#include <vector>

#include "fuzz_common.h"
#include "orbitlib_class_noradelements.h"
#include "vn_class_attituderecord.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_class_packetfile.h"
#include "vn_class_satpasses.h"
#include "vn_class_trokpacket.h"
#include "vn_class_trokpktprocessor.h"
#include "vn_proc_EulerAnglesInOrbitalFrame.h"

namespace {

const unsigned windowSize = 7;

// Times as the repair window sees them: packets are read in turn into seven
// reused slots, and reading stops after the first failed read.
bool TimesIncrease(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    if (file.fail()) return true;
    std::vector<trokpacket> slots(windowSize);
    double last = 0;
    for (size_t k = 0; k < file.NoPackets(); ++k) {
        trokpacket& slot = slots[k % windowSize];
        file.ReadPacket(slot, k);
        if (k > 0 && !(last < slot.TimeTag())) return false;
        last = slot.TimeTag();
        if (file.fail()) break;
    }
    return true;
}

bool ClosedOrbit(const trokpacket& pkt)
{
    const array r = pkt.Position();
    const array v = pkt.Velocity();
    for (double x : pkt.ItemList())
        if (!std::isfinite(x)) return false;
    const double rr = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const double v2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    const double inverseA = 2.0 / rr - v2 / 3.9860064e14;
    return rr > 0 && std::isfinite(inverseA) && inverseA > 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    PickPacketLayout(data[0]);
    const std::string& path = WriteScratch("pktfile", data + 1, size - 1);

    {   // Random access and sequential reads over the whole index.
        packetfile file(path, trokpacket::apid);
        trokpacket pkt;
        NullStream() << file;
        for (size_t k = 0; k <= file.NoPackets(); ++k) file.ReadPacket(pkt);
        file.ReadPacket(pkt, file.EndPacket());
        file.ReadPacket(pkt, 0);
        NullStream() << pkt;
    }
    if (!TimesIncrease(path)) return 0;

    packetfile file(path, trokpacket::apid);
    if (file.fail()) return 0;
    trokpktprocessor processor(file);
    ephemerisrecord eph;
    attituderecord att;
    size_t points = 0;
    while (const trokpacket* pkt = processor.ReadPkt()) {
        ++points;
        eph.time(pkt->TimeTag()).Position(pkt->Position()).Velocity(pkt->Velocity());
        att.Time(pkt->TimeTag())
            .EulerAngles(EulerAnglesInOrbitalFrame(*pkt))
            .AngleVelocities(pkt->AngleRates());
    }
    if (points != processor.RecordCount()) __builtin_trap();

    const std::vector<orbitstuff>& orbits = processor.GetOrbitList();
    for (const orbitstuff& orbit : orbits)
        if (!ClosedOrbit(orbit.beginpkt)) return 0;
    // A typical low-orbit element set.
    static const noradelements elements(
        "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
        "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537");
    satpasses pass(elements);
    for (const orbitstuff& orbit : orbits) {
        pass.SetOrbit(orbit);
        NullStream() << pass;
        pass.print_state(NullStream());
    }
    return 0;
}
