#ifndef VN_CLASS_TROKPACKET_H
#define VN_CLASS_TROKPACKET_H

#include <cstddef>
#include <istream>
#include <ostream>

#include "vn_class_packet.h"
#include "vn_types.h"

// One attitude/ephemeris telemetry packet, decoded when it is read into
// thirteen values (position, velocity, attitude quaternion with the scalar
// last, attitude rates) and a time tag (Julian day, spacecraft TAI scale).
class trokpacket : public packet
{
public:
    // Buffer size of every trokpacket (whole packet) and the APID to index.
    // Set them before the first trokpacket is made; each packet's buffer
    // size is fixed at construction.
    static size_t pktsize;
    static size_t apid;

    trokpacket();
    trokpacket(const trokpacket&) = default;
    trokpacket& operator=(const trokpacket&) = default;
    ~trokpacket() override;

    // Reads DataSize() bytes and decodes them whether or not the read
    // succeeded; the stream state tells the caller.
    std::istream& ReadPkt(std::istream& is) override;

    double TimeTag() const { return time; }
    trokpacket& TimeTag(double t)  // the bytes are left as they are
    {
        time = t;
        return *this;
    }

    size_t CoarseTime() const;  // bytes 8-11 of the buffer
    size_t FineTime() const;    // bytes 12-13 of the buffer

    array Position() const;     // 3 values, metres
    array Velocity() const;     // 3 values, metres per second
    array Attitude() const;     // 4 values, q1 q2 q3 then the scalar q4
    array AngleRates() const;   // 3 values

    array& ItemList() { return p; }
    const array& ItemList() const { return p; }

private:
    void Decode();

    array p;
    double time;
};

// The header form of packet, then (fixed, precision 8, left in force)
// "\ntrok_timetag   = ", "  TAI seconds = ", "\ntrok_position  = ",
// "\ntrok_velocity  = ", "\ntrok_attitude  = ", "\ntrok_att_rates = ".
std::ostream& operator<<(std::ostream& os, const trokpacket& pkt);

#endif
