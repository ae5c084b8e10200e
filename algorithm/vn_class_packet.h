#ifndef VN_CLASS_PACKET_H
#define VN_CLASS_PACKET_H

#include <cstddef>
#include <istream>
#include <ostream>

#include "vn_class_storebase.h"
#include "vn_proc_FormatConvert.h"

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
    // left in the state of `is` (its gcount() is not kept).
    virtual std::istream& ReadPkt(std::istream& is);

    // (Defined here: the scan asks them of every header in the file.)
    // byte 0, bits 7-5
    short int Version() const
    {
        return static_cast<short int>(static_cast<unsigned char>(DataPtr()[0]) >> 5);
    }
    // 11 bits
    short int APID() const
    {
        const char* b = DataPtr();
        return FormatConvert_short2(static_cast<char>(b[0] & 0x07), b[1]);
    }
    // 14-bit sequence count
    short int Sequence() const
    {
        const char* b = DataPtr();
        return FormatConvert_short2(static_cast<char>(b[2] & 0x3F), b[3]);
    }
    // Packet data length field plus 1, formed in 16 signed bits: the whole
    // packet is PktSize() + 6 bytes; a length field of 0x7FFF or more gives
    // a value below 1 (0x7FFF gives -32768 and 0xFFFF gives 0).
    short int PktSize() const
    {
        return static_cast<short int>(FormatConvert_ushort2(DataPtr() + 4) + 1);
    }

    // Hex dump of bytes [first, last); last 0 means PktSize(). Bytes beyond
    // the buffer are not shown. Leaves `os` in hex mode with fill '0'.
    void Dump(std::ostream& os, size_t first, size_t last) const;
};

// "\npacket_ver. = ", "\npacket_APID = ", "\npacket_seq. = ",
// "\npacket_size = " in decimal, then a flush.
std::ostream& operator<<(std::ostream& os, const packet& pkt);

#endif
