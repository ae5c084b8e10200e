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

    while (const trokpacket* pkt = processPkt.ReadPkt()) {
        const unsigned flags =
            static_cast<unsigned>(processPkt.QualityFlags().getqualityflags().to_ulong());
        ephRcd.time(pkt->TimeTag())
            .Position(pkt->Position())
            .Velocity(pkt->Velocity())
            .QaFlag(flags);
        attRcd.Time(pkt->TimeTag())
            .EulerAngles(EulerAnglesInOrbitalFrame(*pkt))
            .AngleVelocities(pkt->AngleRates())
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
