#ifndef VN_PROC_GETENDPACKETS_H
#define VN_PROC_GETENDPACKETS_H

#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"

// Reads the first and the last packet of the file. Returns only when the
// file holds at least two packets of the APID and both reads succeeded;
// otherwise writes "\nPacket File Empty" or "\nPacket File Read Error" with
// both packets to standard error and ends the process with status 255.
void GetEndPackets(packetfile& pFile, trokpacket& begPkt, trokpacket& endPkt);

#endif
