#ifndef VN_CLASS_PACKET_H
#define VN_CLASS_PACKET_H

#include <cstddef>
#include <istream>
#include <ostream>

#include "vn_class_storebase.h"

// The raw bytes of one CCSDS space packet, with the fields of its six-byte
// primary header. The buffer size is fixed at construction (at least 6).
class packet : public storebase
{
public:
    explicit packet(size_t n);
    packet(const packet&) = default;
    packet& operator=(const packet&) = default;
    ~packet() override;

    // Reads exactly DataSize() bytes with one unformatted read; success is
    // left in the state of `is`.
    virtual std::istream& ReadPkt(std::istream& is);

    short int Version() const;   // byte 0, bits 7-5
    short int APID() const;      // 11 bits
    short int Sequence() const;  // 14-bit sequence count
    // Packet data length field plus 1, formed in 16 signed bits: the whole
    // packet is PktSize() + 6 bytes; a length field of 0x7FFF or more gives
    // a value below 1.
    short int PktSize() const;

    // Hex dump of bytes [first, last); last 0 means PktSize(). Bytes beyond
    // the buffer are not shown. Leaves `os` in hex mode with fill '0'.
    void Dump(std::ostream& os, size_t first, size_t last) const;
};

// "\npacket_ver. = ", "\npacket_APID = ", "\npacket_seq. = ",
// "\npacket_size = " in decimal, then a flush.
std::ostream& operator<<(std::ostream& os, const packet& pkt);

#endif
