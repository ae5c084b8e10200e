#include "vn_proc_GetEndPackets.h"

#include <cstdlib>
#include <iostream>

void GetEndPackets(packetfile& pFile, trokpacket& begPkt, trokpacket& endPkt)
{
    pFile.ReadPacket(begPkt, pFile.BegPacket());
    pFile.ReadPacket(endPkt, pFile.EndPacket());
    if (pFile.BegPacket() == pFile.EndPacket()) {
        std::cerr << "\nPacket File Empty" << std::endl;
        std::exit(-1);
    }
    if (pFile.fail()) {
        std::cerr << "\nPacket File Read Error" << std::endl;
        std::cerr << "\nBegin Packet is:\n" << begPkt << std::endl;
        std::cerr << "\nEnd   Packet is:\n" << endPkt << std::endl;
        std::exit(-1);
    }
}
