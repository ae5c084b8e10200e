#ifndef TOOLKIT_PACKETBUILDER_H
#define TOOLKIT_PACKETBUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace toolkit {

// One navigation telemetry sample as the spacecraft sends it.
struct TelemetrySample {
    uint32_t coarse = 0;     // whole seconds since 1958-01-01 (TAI)
    uint16_t fine = 0;       // counts of 1.52e-5 s
    double pos[3] = {};      // metres
    double vel[3] = {};      // metres per second
    double quat[4] = {};     // vector part first, scalar last
    double rates[3] = {};
};

// Primary header deviations for deliberately faulty packets.
struct HeaderOverrides {
    int version = 0;          // 0..7
    long lengthField = -1;    // raw 16-bit length field; -1: whole size - 7
};

// Writes a six-byte primary header at out: version, APID, sequence count
// (sequence flags "unsegmented", secondary header flag set) and the raw
// length field.
void EncodePrimaryHeader(char* out, int version, unsigned apid, unsigned sequence,
                         unsigned lengthField);

// Builds a packet file as a byte string, packet by packet.
class PacketFileBuilder
{
public:
    // Telemetry packets of `pktsize` bytes (126 or 214) with `apid`.
    explicit PacketFileBuilder(size_t pktsize = 126, unsigned apid = 957);

    // Appends a telemetry packet with the next sequence count (one more than
    // that of the last telemetry packet, modulo 16384; 0 at first).
    PacketFileBuilder& AddTelemetry(const TelemetrySample& s);
    // Appends a telemetry packet with the given sequence count and header.
    PacketFileBuilder& AddTelemetry(const TelemetrySample& s, unsigned sequence,
                                    const HeaderOverrides& header = HeaderOverrides());
    // Appends a packet of another APID, `size` bytes in all (at least 7),
    // data bytes 0x5A.
    PacketFileBuilder& AddOther(unsigned otherApid, size_t size, unsigned sequence = 0);
    // Appends the last packet again, byte for byte.
    PacketFileBuilder& AddRepeat();
    // Appends bytes as they are.
    PacketFileBuilder& AddRaw(const std::string& bytes);
    // Drops the last n bytes (a file cut short).
    PacketFileBuilder& CutShort(size_t n);

    const std::string& Bytes() const { return bytes; }
    size_t PacketSize() const { return pktsize; }
    // Writes the bytes to path (a new file that takes the name once whole);
    // false when that fails.
    bool WriteTo(const std::string& path) const;

private:
    size_t pktsize;
    unsigned apid;
    unsigned nextSequence = 0;
    std::string bytes;
    std::string lastPacket;
};

// One telemetry packet of `pktsize` bytes (at least 86).
std::string TelemetryPacket(const TelemetrySample& s, size_t pktsize, unsigned apid,
                            unsigned sequence, const HeaderOverrides& header = HeaderOverrides());

} // namespace toolkit

#endif
