#include "vn_proc_PacketRules.h"

#include <cmath>

#include "vn_class_trokpacket.h"
#include "vn_proc_FormatConvert.h"

namespace {

// Julian day of 1958-01-01 00:00:00, where the spacecraft clock counts from.
const long double clockEpoch = 2436204.5L;
// One count of the fine time, in seconds.
constexpr long double fineStep = 1.52e-5L;
const size_t coarseOffset = 8;
const size_t fineOffset = 12;

// Thresholds as fractions of a day, in extended precision.
const long double largeGap = 60.0L / 86400.0L;
const long double smallGap = 1.1L / 86400.0L;
const long double oneSecond = 1.0L / 86400.0L;

// fineStep as the sum of two doubles: its upper 27 significant bits, and
// the rest (31 significant bits).
constexpr double fineStepHigh = 0x1.fe07014p-17;
constexpr double fineStepLow = 0x1.e00812f4p-44;
static_assert(fineStepHigh + static_cast<long double>(fineStepLow) == fineStep,
              "the two parts make up the fine-time step");

// The largest double not above v: for any double g, g > v exactly when
// g > DoubleBelow(v).
double DoubleBelow(long double v)
{
    double d = static_cast<double>(v);
    if (static_cast<long double>(d) > v) d = std::nextafter(d, -HUGE_VAL);
    return d;
}
const double largeGapBelow = DoubleBelow(largeGap);
const double smallGapBelow = DoubleBelow(smallGap);

} // namespace

void SelectPacketLayout(const std::string& noradSatName)
{
    if (noradSatName == "PELK") {
        trokpacket::pktsize = pelkPacketSize;
        trokpacket::apid = pelkApid;
    }
}

double PacketTimeTag(const char* bytes)
{
    // The fine time in seconds is the count times fineStep, rounded once to
    // extended precision. The count has 16 bits and the two parts of
    // fineStep 27 and 31, so both partial products are exact in double
    // precision, and their sum, rounded once to extended precision, is that
    // product: the same value as the extended multiplication, which costs
    // far more here than two double ones.
    const double count = FormatConvert_ushort2(bytes + fineOffset);
    const long double fine = static_cast<long double>(count * fineStepHigh) + count * fineStepLow;
    const long double seconds = static_cast<long double>(FormatConvert_ulong4(bytes + coarseOffset)) + fine;
    return static_cast<double>(seconds / 86400.0L + clockEpoch);
}

PacketGap ClassifyGap(double thisTime, double nextTime)
{
    // Differences are worked out in extended precision. Two time tags of a
    // run are positive and within a factor of two of each other, and then
    // their difference is exact in double precision already (Sterbenz's
    // lemma), so it is the extended difference too; it is compared with the
    // largest doubles not above the thresholds, which gives the same answers
    // as the extended comparison, without the extended arithmetic.
    if (thisTime >= 1.0 && nextTime >= thisTime * 0.5 && nextTime <= thisTime * 2.0) {
        const double gap = nextTime - thisTime;
        if (gap > largeGapBelow) return PacketGap::large;
        if (gap > smallGapBelow) return PacketGap::small;
        return PacketGap::none;
    }
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
