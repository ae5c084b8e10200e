#include "vn_class_repairpktstream.h"

#include <cstdlib>
#include <iostream>

#include "vn_proc_PacketRules.h"

namespace {

const unsigned windowSize = 7;

} // namespace

repairpktstream::repairpktstream(packetfile& pfile)
    : smallGapFlag(false), thisTime(0.0), nextTime(0.0), thisPkt(nullptr), lastPktRead(nullptr),
      pktfile(pfile), pktno(0), wbuffer(windowSize)
{
}

trokpacket& repairpktstream::clearPkt(exttrokpacket& pkt)
{
    qFlags = pkt;
    pkt.clear();
    return pkt;
}

trokpacket* repairpktstream::getfixedpkt()
{
    if (smallGapFlag)
    {
        // Next interpolated point of the gap after the packet in thisPkt.
        thisTime = NextFillTime(thisTime);
        if (LastFillPoint(thisTime, nextTime))
            smallGapFlag = false;
        thisPkt->ItemList() = trokInterpolator.interpolate(thisTime);
        thisPkt->TimeTag(thisTime);
        thisPkt->setGapRepaired();
        return &clearPkt(*thisPkt);
    }

    while (!pktfile.fail())
    {
        if (pktno >= pktfile.NoPackets())
        {
            pktfile.setstate(std::ios::eofbit);
            break;
        }
        if (!wbuffer.addflag())
            break;
        exttrokpacket* slot = wbuffer.add();
        slot->clear(); // a reused slot starts without flags
        lastPktRead = slot;
        pktfile.ReadPacket(*slot, pktno);
        ++pktno;
    }

    thisPkt = wbuffer.get();
    exttrokpacket* next = wbuffer.next();
    if (thisPkt == nullptr)
        return nullptr;
    if (next == nullptr)
        return &clearPkt(*thisPkt);

    thisTime = thisPkt->TimeTag();
    nextTime = next->TimeTag();
    if (!TimesInOrder(thisTime, nextTime))
    {
        std::cerr << "\npacket Time order error:\n\n" << *thisPkt << "\n\n" << *next << "\n" << std::endl;
        std::exit(-1);
    }

    const PacketGap gap = ClassifyGap(thisTime, nextTime);
    if (gap == PacketGap::large)
    {
        thisPkt->setLargeGapFollows();
        next->setLargeGapBefore();
        return &clearPkt(*thisPkt);
    }
    smallGapFlag = gap == PacketGap::small;
    if (smallGapFlag)
    {
        thisPkt->setSmallGapFollows();
        next->setSmallGapBefore();
        trokInterpolator.load(wbuffer);
    }
    return &clearPkt(*thisPkt);
}
