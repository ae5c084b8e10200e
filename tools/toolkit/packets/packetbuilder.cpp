#include "toolkit/packets/packetbuilder.h"

#include <cassert>

#include "toolkit/packets/mil1750.h"
#include "vn_class_outputfile.h"
#include "vn_proc_FormatConvert.h"

namespace toolkit {

void EncodePrimaryHeader(char* out, int version, unsigned apid, unsigned sequence,
                         unsigned lengthField)
{
    out[0] = static_cast<char>(((version & 0x07) << 5) | 0x08 | ((apid >> 8) & 0x07));
    out[1] = static_cast<char>(apid & 0xFF);
    out[2] = static_cast<char>(0xC0 | ((sequence >> 8) & 0x3F));
    out[3] = static_cast<char>(sequence & 0xFF);
    out[4] = static_cast<char>((lengthField >> 8) & 0xFF);
    out[5] = static_cast<char>(lengthField & 0xFF);
}

std::string TelemetryPacket(const TelemetrySample& s, size_t pktsize, unsigned apid,
                            unsigned sequence, const HeaderOverrides& header)
{
    assert(pktsize >= 86);
    std::string pkt(pktsize, '\0');
    char* b = &pkt[0];
    const unsigned length = header.lengthField >= 0 ? static_cast<unsigned>(header.lengthField)
                                                    : static_cast<unsigned>(pktsize - 7);
    EncodePrimaryHeader(b, header.version, apid, sequence, length);
    FormatConvert_long4(s.coarse, b + 8);
    b[12] = static_cast<char>(s.fine >> 8);
    b[13] = static_cast<char>(s.fine & 0xFF);
    const double* extended[10] = {&s.pos[0],  &s.pos[1],  &s.pos[2],  &s.vel[0],  &s.vel[1],
                                  &s.vel[2],  &s.quat[0], &s.quat[1], &s.quat[2], &s.quat[3]};
    for (size_t i = 0; i < 10; ++i) Mil1750EncodeEP(*extended[i], b + 14 + 6 * i);
    for (size_t i = 0; i < 3; ++i) Mil1750EncodeFP(s.rates[i], b + 74 + 4 * i);
    return pkt;
}

PacketFileBuilder::PacketFileBuilder(size_t size, unsigned telemetryApid)
    : pktsize(size), apid(telemetryApid)
{
}

PacketFileBuilder& PacketFileBuilder::AddTelemetry(const TelemetrySample& s)
{
    return AddTelemetry(s, nextSequence);
}

PacketFileBuilder& PacketFileBuilder::AddTelemetry(const TelemetrySample& s, unsigned sequence,
                                                   const HeaderOverrides& header)
{
    lastPacket = TelemetryPacket(s, pktsize, apid, sequence, header);
    bytes += lastPacket;
    nextSequence = (sequence + 1) & 0x3FFF;
    return *this;
}

PacketFileBuilder& PacketFileBuilder::AddOther(unsigned otherApid, size_t size, unsigned sequence)
{
    assert(size >= 7);
    lastPacket.assign(size, '\x5A');
    EncodePrimaryHeader(&lastPacket[0], 0, otherApid, sequence, static_cast<unsigned>(size - 7));
    bytes += lastPacket;
    return *this;
}

PacketFileBuilder& PacketFileBuilder::AddRepeat()
{
    bytes += lastPacket;
    return *this;
}

PacketFileBuilder& PacketFileBuilder::AddRaw(const std::string& raw)
{
    bytes += raw;
    return *this;
}

PacketFileBuilder& PacketFileBuilder::CutShort(size_t n)
{
    bytes.resize(n < bytes.size() ? bytes.size() - n : 0);
    return *this;
}

bool PacketFileBuilder::WriteTo(const std::string& path) const
{
    outputstream out(path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.Commit();
}

} // namespace toolkit
