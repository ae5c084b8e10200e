#include "vn_proc_PacketRules.h"

#include "vn_class_trokpacket.h"
#include "vn_proc_FormatConvert.h"

namespace {

// Julian day of 1958-01-01 00:00:00, where the spacecraft clock counts from.
const long double clockEpoch = 2436204.5L;
// One count of the fine time, in seconds.
const long double fineStep = 1.52e-5L;
const size_t coarseOffset = 8;
const size_t fineOffset = 12;

// Thresholds as fractions of a day, in extended precision.
const long double largeGap = 60.0L / 86400.0L;
const long double smallGap = 1.1L / 86400.0L;
const long double oneSecond = 1.0L / 86400.0L;

} // namespace

void SelectPacketLayout(const std::string& noradSatName)
{
    if (noradSatName == "PELK") {
        trokpacket::pktsize = pelkPacketSize;
        trokpacket::apid = pelkApid;
    }
}

bool HeaderStopsScan(const packet& header)
{
    return header.Version() != 0 || header.PktSize() < 1;
}

bool RepeatsSequence(const packet& header, long lastSequence)
{
    return header.Sequence() == lastSequence;
}

bool LengthFitsBuffer(const packet& pkt, size_t bufferSize)
{
    return static_cast<long long>(pkt.PktSize()) + 6 == static_cast<long long>(bufferSize);
}

double PacketTimeTag(const char* bytes)
{
    const long double seconds = static_cast<long double>(FormatConvert_ulong4(bytes + coarseOffset)) +
                                FormatConvert_ushort2(bytes + fineOffset) * fineStep;
    return static_cast<double>(seconds / 86400.0L + clockEpoch);
}

bool TimesInOrder(double thisTime, double nextTime)
{
    return thisTime < nextTime;
}

PacketGap ClassifyGap(double thisTime, double nextTime)
{
    // Differences are worked out in extended precision.
    const long double gap = static_cast<long double>(nextTime) - thisTime;
    if (gap > largeGap) return PacketGap::large;
    if (gap > smallGap) return PacketGap::small;
    return PacketGap::none;
}

double NextFillTime(double time)
{
    return static_cast<double>(time + oneSecond);
}

bool LastFillPoint(double fillTime, double nextTime)
{
    return !(fillTime < nextTime - smallGap);
}

size_t FillPointCount(double thisTime, double nextTime)
{
    if (ClassifyGap(thisTime, nextTime) != PacketGap::small) return 0;
    size_t points = 0;
    double t = thisTime;
    do {
        t = NextFillTime(t);
        ++points;
    } while (!LastFillPoint(t, nextTime));
    return points;
}
