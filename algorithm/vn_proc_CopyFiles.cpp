#include "vn_proc_CopyFiles.h"

#include <cstdlib>
#include <iostream>

#include "vn_class_attituderecord.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_proc_EulerAnglesInOrbitalFrame.h"

void CopyFiles(trokpktprocessor& processPkt, ephemerisfile& efile, attitudefile& afile,
               const cfg_list& /*configList*/)
{
    // One record of each kind, overwritten field by field for every point.
    ephemerisrecord ephRcd;
    attituderecord attRcd;
    // Value buffers reused for every point: no allocation per record.
    array position(3), velocity(3), angles(3), rates(3);

    while (const trokpacket* pkt = processPkt.ReadPkt()) {
        const unsigned flags =
            static_cast<unsigned>(processPkt.QualityFlags().getqualityflags().to_ulong());
        // Item list: position 0-2, velocity 3-5, quaternion 6-9, rates 10-12.
        const array& items = pkt->ItemList();
        position.assign(items.begin(), items.begin() + 3);
        velocity.assign(items.begin() + 3, items.begin() + 6);
        rates.assign(items.begin() + 10, items.begin() + 13);
        EulerAnglesInOrbitalFrame(*pkt, angles);
        ephRcd.time(pkt->TimeTag())
            .Position(position)
            .Velocity(velocity)
            .QaFlag(flags);
        attRcd.Time(pkt->TimeTag())
            .EulerAngles(angles)
            .AngleVelocities(rates)
            .QaFlag(flags);
        efile.write(ephRcd);
        afile.write(attRcd);
    }

    // The repair stream marks the normal end of the input with end-of-file
    // alone; anything else (a failed or short read) is a read error.
    const packetfile& pfile = processPkt.PacketFile();
    if (!pfile.eof() || pfile.fail()) {
        std::cerr << "\nPacket File read error" << std::endl << '\n';
        if (const trokpacket* last = processPkt.getLastPktRead()) std::cerr << *last;
        std::cerr << std::endl;
        std::exit(-1);
    }
}
