#ifndef VN_PROC_PACKETRULES_H
#define VN_PROC_PACKETRULES_H

#include <cstddef>
#include <string>

#include "vn_class_packet.h"

// The rules by which a packet file is indexed, read and repaired, in one
// place: the packet file, the telemetry packet and the repair stream use
// them, and so do the tools that judge a packet file the way a run will.
// Those asked of every packet are defined here, to be inlined.

// Packet layout of the PELK spacecraft (every other one uses the default
// size and APID of trokpacket).
const size_t pelkPacketSize = 214;
const size_t pelkApid = 967;

// Sets trokpacket::pktsize and trokpacket::apid for a spacecraft name:
// "PELK" selects its layout, any other name leaves the defaults as they are.
// Must run before any trokpacket is made.
void SelectPacketLayout(const std::string& noradSatName);

// A header that ends the scan of a packet file: a version other than 0, or a
// length field of 0x7FFF or more (no usable packet size).
inline bool HeaderStopsScan(const packet& header)
{
    return header.Version() != 0 || header.PktSize() < 1;
}

// A packet of the required APID that the index leaves out: its sequence count
// repeats that of the previous packet of the APID (lastSequence, -1 before
// the first one).
inline bool RepeatsSequence(const packet& header, long lastSequence)
{
    return header.Sequence() == lastSequence;
}

// A packet that reads whole into a buffer of `bufferSize` bytes: its length
// field gives exactly that size.
inline bool LengthFitsBuffer(const packet& pkt, size_t bufferSize)
{
    return static_cast<long long>(pkt.PktSize()) + 6 == static_cast<long long>(bufferSize);
}

// Time tag (Julian day, TAI) of a telemetry packet from its coarse (bytes 8-11)
// and fine (bytes 12-13) clock counts; `bytes` holds at least 14 bytes.
double PacketTimeTag(const char* bytes);

// Gaps between neighbouring packets of the repaired stream.
enum class PacketGap { none, small, large };

// Whether a packet at nextTime may follow one at thisTime (Julian days):
// the time must strictly increase.
inline bool TimesInOrder(double thisTime, double nextTime) { return thisTime < nextTime; }
// Steps of up to 1.1 s are no gap; up to 60 s a small gap, filled with
// interpolated points; beyond that a large gap, left open.
PacketGap ClassifyGap(double thisTime, double nextTime);
// The interpolated point one second after `time`.
double NextFillTime(double time);
// Whether the interpolated point at fillTime is the last one of the gap
// before the packet at nextTime.
bool LastFillPoint(double fillTime, double nextTime);
// The number of interpolated points that fill a small gap from thisTime to
// nextTime (0 for steps that are no small gap).
size_t FillPointCount(double thisTime, double nextTime);

#endif
