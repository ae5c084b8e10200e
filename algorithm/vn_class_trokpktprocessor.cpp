#include "vn_class_trokpktprocessor.h"

trokpktprocessor::trokpktprocessor(packetfile& pktfile)
    : repairstream(pktfile), recordcnt(0), pfile(pktfile)
{
}

trokpacket* trokpktprocessor::ReadPkt()
{
    trokpacket* pkt = repairstream.getfixedpkt();
    if (pkt == nullptr)
        return nullptr;
    qflags = repairstream.getQualityFlags();
    orbitList.checkpacket(*pkt);
    ++recordcnt;
    return pkt;
}
