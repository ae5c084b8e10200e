#ifndef VN_CLASS_REPAIRPKTSTREAM_H
#define VN_CLASS_REPAIRPKTSTREAM_H

#include <cstddef>

#include "vn_class_centeredwindowbuffer.h"
#include "vn_class_exttrokpacket.h"
#include "vn_class_packetfile.h"
#include "vn_class_quality_flags.h"
#include "vn_class_trokinterpolator.h"
#include "vn_class_trokpacket.h"

// The indexed packets of a packet file, in order, through a centred window of
// seven packets, with every gap flagged: steps over 1.1 s mark both sides as a
// small gap, and the gap is filled with points one second apart interpolated
// over the window; steps over 60 s are marked as a large gap and left open.
// Time tags that do not increase end the program (message on standard error,
// exit status 255). The packet file must outlive the stream, and
// trokpacket::pktsize must be final before the stream is made.
class repairpktstream
{
public:
    explicit repairpktstream(packetfile& pfile);
    repairpktstream(const repairpktstream&) = delete;
    repairpktstream& operator=(const repairpktstream&) = delete;

    // The next point (a packet or an interpolated point), or null once the
    // stream is exhausted. It stays valid and unchanged until the next call.
    // The end of the index sets eofbit on the packet file; a read error stops
    // the reading and the packets already read are still handed out.
    trokpacket* getfixedpkt();

    // The flags of the point returned last.
    quality_flags getQualityFlags() const { return qFlags; }

    // The window element that the packet file was read into last (null before
    // the first read).
    const trokpacket* getLastPktRead() const { return lastPktRead; }

private:
    // Moves the flags of `pkt` into qFlags and hands the packet out.
    trokpacket& clearPkt(exttrokpacket& pkt);

    bool smallGapFlag;
    double thisTime;
    double nextTime;
    quality_flags qFlags;
    exttrokpacket* thisPkt;
    trokpacket* lastPktRead;
    trokinterpolator trokInterpolator;
    packetfile& pktfile;
    size_t pktno;
    centeredwindowbuffer<exttrokpacket> wbuffer;
};

#endif
