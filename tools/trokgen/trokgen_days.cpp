// Days of an archive and the clock counts that place a sample in one.
#include "trokgen_days.h"

#include <cmath>

#include "toolkit/time/utcday.h"

namespace trokgen {

ClockCounts ClockAt(double start, double offset)
{
    const double startWhole = std::floor(start);
    const double t = (start - startWhole) + offset;
    const double whole = std::floor(t);
    double fine = std::round((t - whole) / kFineStep);
    if (fine > 65535.0) fine = 65535.0;
    return {static_cast<uint32_t>(startWhole + whole), static_cast<uint16_t>(fine)};
}

double ClockOffset(double start, ClockCounts counts)
{
    const double startWhole = std::floor(start);
    const double whole = static_cast<double>(counts.coarse) - startWhole;
    return whole + counts.fine * kFineStep - (start - startWhole);
}

namespace {

// TAI93 seconds of the sample sent on its whole second k.
double SampleTai93(const Options& o, long k)
{
    const ClockCounts c = ClockAt(o.start, static_cast<double>(k));
    return static_cast<double>(c.coarse) + c.fine * kFineStep - kTai93From1958;
}

} // namespace

std::vector<long> ArchiveDayStarts(const Options& o)
{
    const double start93 = o.start - kTai93From1958;
    const long first = toolkit::UtcDayOfTai93(start93);
    const double timeOfDay = start93 - toolkit::DayStartTai93(first);
    std::vector<long> starts{0};
    for (long d = 1; d <= o.days; ++d) {
        // The boundary, then the first whole-second sample on or after it
        // as the clock counts place it.
        const double boundary = toolkit::DayStartTai93(first + d) + timeOfDay;
        long k = static_cast<long>(std::ceil(boundary - start93));
        while (k > starts.back() + 1 && SampleTai93(o, k - 1) >= boundary) --k;
        while (SampleTai93(o, k) < boundary) ++k;
        starts.push_back(k);
    }
    return starts;
}

} // namespace trokgen
