#ifndef VN_CLASS_PACKETFILE_H
#define VN_CLASS_PACKETFILE_H

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "vn_class_basefile.h"
#include "vn_class_packet.h"
#include "vn_class_streambuffer.h"

// A file of space packets laid end to end, indexed once at construction: the
// byte offset of every packet of the required APID is kept, except a packet
// whose sequence count repeats that of the previous packet of the APID.
// A version other than 0 or a length field of 0x7FFF or more stops the scan
// with badbit set (packets before it stay indexed). A file that fails to open
// leaves the stream failed and the index empty. Every outcome is reported
// through the stream state only; reads never clear it.
//
// The read position of the stream belongs to this class: callers must not
// move it themselves.
class packetfile : private streambuffer, public std::ifstream, public basefile
{
public:
    packetfile(const std::string& fileName, size_t apid);
    ~packetfile() override;

    size_t BegPacket() const;      // always 0
    size_t EndPacket() const;      // NoPackets() - 1, or 0 when empty
    size_t NoPackets() const;
    long long CurPacket() const;   // number of the packet read last, -1 before any
    size_t ReqApid() const;

    // Reads packet number n into pkt (decoded by its ReadPkt). n beyond the
    // index sets eofbit and failbit and leaves pkt untouched; a short read
    // sets eofbit and failbit; a length field that does not match pkt's
    // buffer size (PktSize() + 6 != DataSize()) sets badbit after the read.
    packetfile& ReadPacket(packet& pkt, size_t n);
    // Reads the packet after the one read last (packet 0 on the first call).
    packetfile& ReadPacket(packet& pkt);

private:
    void Scan();
    void MoveTo(uint64_t offset);

    size_t pktAPID;
    long long index;
    std::vector<uint64_t> pktList;
    // Where the stream's read position is known to be, or noPos.
    uint64_t filePos;
};

// "\nfileValid ", "\nreq APID= ", "\nbeg pkt = ", "\nend pkt = ",
// "\ncur pkt = " and an end of line.
std::ostream& operator<<(std::ostream& os, packetfile& file);

#endif
