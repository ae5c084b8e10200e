#ifndef VN_CLASS_TROKPKTPROCESSOR_H
#define VN_CLASS_TROKPKTPROCESSOR_H

#include <cstddef>
#include <vector>

#include "vn_class_buildorbitlist.h"
#include "vn_class_orbitstuff.h"
#include "vn_class_packetfile.h"
#include "vn_class_quality_flags.h"
#include "vn_class_repairpktstream.h"
#include "vn_class_trokpacket.h"

// The source of output records: the repaired packet stream of a packet file,
// counting every point handed out (packets and interpolated points), keeping
// its quality flags and building the orbit list. The packet file must stay
// open for the life of the processor, and trokpacket::pktsize must be final
// before the processor is made.
class trokpktprocessor
{
public:
    explicit trokpktprocessor(packetfile& pktfile);

    // The next point, or null at the end; valid until the next call.
    trokpacket* ReadPkt();

    size_t RecordCount() const { return recordcnt; }
    // Flags of the point returned last by ReadPkt().
    quality_flags QualityFlags() const { return qflags; }
    // The orbits so far; complete once ReadPkt() has returned null.
    const std::vector<orbitstuff>& GetOrbitList() const { return orbitList.getorbitlist(); }
    packetfile& PacketFile() { return pfile; }
    const trokpacket* getLastPktRead() const { return repairstream.getLastPktRead(); }

private:
    repairpktstream repairstream;
    buildorbitlist orbitList;
    size_t recordcnt;
    quality_flags qflags;
    packetfile& pfile;
};

#endif
