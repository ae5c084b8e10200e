// The data of qlrplot's plots: the series over time, the flagged records,
// the ground track and the close-ups of the largest repaired gaps, as the
// text files gnuplot reads.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "timelib_proc_TAI93.h"
#include "timelib_proc_TAItoUTC.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/isotime.h"
#include "toolkit/quicklook/quicklook.h"
#include "vn_class_quality_flags.h"

namespace toolkit {

namespace quicklook {

namespace {

// Close-ups of at most this many repaired gaps, the largest first.
const size_t kCloseUps = 3;

// TAI93 zero is 1993-01-01 00:00:00 UTC, when TAI - UTC was 27 s.
const double kUnixAtTai93Zero = 725846400.0;

// One plotted quantity: a time (UTC, Unix seconds) and a value per record;
// NaN where the record gives none.
struct Series {
    std::vector<double> t, v;
};

// Writes `s` as a gnuplot data block ending in two blank lines: the line
// breaks (a blank line) wherever records are more than 1.5 spacings apart.
// Long series are thinned to the first, lowest, highest and last value in
// each of about 2500 time bins, so every excursion stays visible.
void WriteEnvelope(std::ostream& os, const Series& s, double spacing)
{
    // A first line keeps the block present for gnuplot's index even when
    // it holds no values.
    os << "NaN NaN\n";
    if (s.t.empty()) {
        os << "\n\n";
        return;
    }
    const double span = s.t.back() - s.t.front();
    const double bin = std::max(span / 2500.0, spacing * 0.5);
    char buf[96];
    auto put = [&](size_t i) {
        std::snprintf(buf, sizeof buf, "%.3f %.9g\n", s.t[i], s.v[i]);
        os << buf;
    };
    size_t i = 0;
    double lastT = s.t.front();
    while (i < s.t.size()) {
        // One bin: records from i up to the bin's end or the next break.
        const double binStart = s.t[i];
        size_t first = s.t.size(), lo = 0, hi = 0, last = 0;
        size_t j = i;
        for (; j < s.t.size(); ++j) {
            if (j > i && (s.t[j] - binStart >= bin || s.t[j] - s.t[j - 1] > 1.5 * spacing)) break;
            if (!std::isfinite(s.v[j])) continue;
            if (first == s.t.size()) first = lo = hi = j;
            if (s.v[j] < s.v[lo]) lo = j;
            if (s.v[j] > s.v[hi]) hi = j;
            last = j;
        }
        if (i > 0 && s.t[i] - lastT > 1.5 * spacing) os << "\n";
        if (first != s.t.size()) {
            size_t keep[4] = {first, lo, hi, last};
            std::sort(keep, keep + 4);
            for (int k = 0; k < 4; ++k)
                if (k == 0 || keep[k] != keep[k - 1]) put(keep[k]);
        }
        lastT = s.t[j - 1];
        i = j;
    }
    os << "\n\n";
}

// marks.dat: every flagged record of either product. Columns: time, flags,
// angles 1-3, rates 1-3, height (km), longitude, latitude (degrees).
std::string Marks(const Product& eph, const Product& att, const std::vector<Geodetic>& geo)
{
    std::ostringstream marks;
    char buf[320];
    marks << "NaN 0 NaN NaN NaN NaN NaN NaN NaN NaN NaN\n";
    for (const ProductRecord& r : att.records)
        if ((r.flags & (quality_flags::rep | kGapSide)) && Plottable(r.tai93)) {
            std::snprintf(buf, sizeof buf, "%.3f %u %.9g %.9g %.9g %.9g %.9g %.9g NaN NaN NaN\n",
                          UnixUtc(r.tai93), r.flags, r.v[0] * kDeg, r.v[1] * kDeg, r.v[2] * kDeg,
                          r.v[3] * kDeg, r.v[4] * kDeg, r.v[5] * kDeg);
            marks << buf;
        }
    for (size_t i = 0; i < eph.records.size(); ++i) {
        const ProductRecord& r = eph.records[i];
        if ((r.flags & (quality_flags::rep | kGapSide)) && Plottable(r.tai93)) {
            std::snprintf(buf, sizeof buf, "%.3f %u NaN NaN NaN NaN NaN NaN %.6f %.6f %.6f\n",
                          UnixUtc(r.tai93), r.flags, geo[i].height / 1000.0,
                          geo[i].longitude * kDeg, geo[i].latitude * kDeg);
            marks << buf;
        }
    }
    return marks.str();
}

// track.dat: longitude and latitude, at most about 20000 points, broken
// where the longitude wraps or the records stop.
std::string Track(const Product& eph, const std::vector<Geodetic>& geo)
{
    std::ostringstream track;
    char buf[320];
    const size_t n = eph.records.size();
    const size_t stride = std::max<size_t>(1, n / 20000);
    double lastLon = 0, lastT = 0;
    bool have = false;
    track << "NaN NaN\n";
    for (size_t i = 0; i < n; ++i) {
        const ProductRecord& r = eph.records[i];
        const bool keep = i % stride == 0 || i + 1 == n || (r.flags & (quality_flags::rep | kGapSide));
        if (!keep || !Plottable(r.tai93) || !std::isfinite(geo[i].latitude)) continue;
        const double lon = geo[i].longitude * kDeg, lat = geo[i].latitude * kDeg;
        if (have && (std::fabs(lon - lastLon) > 180 || (r.flags & quality_flags::lgb) ||
                     r.tai93 - lastT > (stride + 1.5) * Spacing(eph)))
            track << "\n";
        std::snprintf(buf, sizeof buf, "%.6f %.6f\n", lon, lat);
        track << buf;
        lastLon = lon;
        lastT = r.tai93;
        have = true;
    }
    return track.str();
}

// The close-ups of the largest repaired gaps, from the ephemeris flags (the
// attitude file carries the same ones in a sound pair), in time order, and
// their data files. Columns: seconds from the first repaired point, flags,
// angles 1-3 (deg, from the attitude record at the same time), height (km).
void CloseUps(const Product& eph, const Product& att, PlotData& data)
{
    std::vector<Gap> repaired;
    for (const Gap& g : data.ephGaps)
        if (g.kind == 'r') repaired.push_back(g);
    std::stable_sort(repaired.begin(), repaired.end(),
                     [](const Gap& x, const Gap& y) { return x.points > y.points; });
    if (repaired.size() > kCloseUps) repaired.resize(kCloseUps);
    std::sort(repaired.begin(), repaired.end(), [](const Gap& x, const Gap& y) { return x.t0 < y.t0; });
    char buf[320];
    for (size_t k = 0; k < repaired.size(); ++k) {
        CloseUp c;
        c.gap = repaired[k];
        const Gap& g = c.gap;
        const double pad = std::max(10 * Spacing(eph), 0.5 * (g.t1 - g.t0) + 5 * Spacing(eph));
        c.from = g.t0 - pad;
        c.to = g.t1 + pad;
        std::ostringstream f;
        size_t j = 0;
        f << "NaN 0 NaN NaN NaN NaN\n";
        for (size_t i = 0; i < eph.records.size(); ++i) {
            const ProductRecord& r = eph.records[i];
            if (!(r.tai93 >= c.from && r.tai93 <= c.to)) continue;
            while (j < att.records.size() && att.records[j].tai93 < r.tai93) ++j;
            const bool hasAtt = j < att.records.size() && att.records[j].tai93 == r.tai93;
            const double* v = hasAtt ? att.records[j].v : nullptr;
            for (int n = 0; n < 3; ++n) c.hasData[n] = c.hasData[n] || (v && std::isfinite(v[n]));
            c.hasData[3] = c.hasData[3] || std::isfinite(data.geo[i].height);
            std::snprintf(buf, sizeof buf, "%.6f %u %.9g %.9g %.9g %.6f\n", r.tai93 - g.t0, r.flags,
                          v ? v[0] * kDeg : NAN, v ? v[1] * kDeg : NAN, v ? v[2] * kDeg : NAN,
                          data.geo[i].height / 1000.0);
            f << buf;
        }
        data.files.emplace_back("closeup" + std::to_string(k + 1) + ".dat", f.str());
        data.closeUps.push_back(c);
    }
}

} // namespace

double UnixUtc(double tai93)
{
    int offset = 0;
    if (TaiMinusUtcAtTai93(SystemLeapSeconds(), tai93, offset))
        return kUnixAtTai93Zero + tai93 - (offset - 27);
    return (TAItoUTC(TAI93ToJulianDay(tai93)) - 2440587.5) * 86400.0;
}

bool Plottable(double tai93) { return tai93 > -1.1e9 && tai93 < 3.35e9; }

double Spacing(const Product& p)
{
    const double dt = p.header.interval;
    return std::isfinite(dt) && dt > 0 && dt < 86400 ? dt : 1.0;
}

std::vector<Gap> FindGaps(const std::vector<ProductRecord>& r)
{
    std::vector<Gap> gaps;
    for (size_t i = 0; i < r.size(); ++i) {
        if ((r[i].flags & quality_flags::rep) && (i == 0 || !(r[i - 1].flags & quality_flags::rep))) {
            Gap g;
            g.first = i;
            while (i + 1 < r.size() && (r[i + 1].flags & quality_flags::rep)) ++i;
            g.last = i;
            g.points = g.last - g.first + 1;
            g.t0 = r[g.first].tai93;
            g.t1 = r[g.last].tai93;
            if (Plottable(g.t0) && Plottable(g.t1) && g.t1 >= g.t0 && g.t1 - g.t0 < 86400)
                gaps.push_back(g);
        }
    }
    for (size_t i = 1; i < r.size(); ++i)
        if (r[i].flags & quality_flags::lgb) {
            Gap g;
            g.kind = 'l';
            g.first = i - 1;
            g.last = i;
            g.t0 = r[i - 1].tai93;
            g.t1 = r[i].tai93;
            if (Plottable(g.t0) && Plottable(g.t1) && g.t1 >= g.t0) gaps.push_back(g);
        }
    std::sort(gaps.begin(), gaps.end(), [](const Gap& a, const Gap& b) { return a.t0 < b.t0; });
    return gaps;
}

bool PreparePlotData(const Product& eph, const Product& att, PlotData& data)
{
    data = PlotData();
    data.ephGaps = FindGaps(eph.records);
    data.attGaps = FindGaps(att.records);

    // The span covers both products' records.
    bool any = false;
    for (const Product* p : {&eph, &att})
        for (const ProductRecord& r : p->records)
            if (Plottable(r.tai93)) {
                const double t = UnixUtc(r.tai93);
                if (!any || t < data.t0) data.t0 = t;
                if (!any || t > data.t1) data.t1 = t;
                any = true;
            }
    if (!any) return false;
    if (data.t1 - data.t0 < 1) data.t1 = data.t0 + 1;

    // series.dat: indexes 0-2 attitude angles (degrees), 3-5 rates (deg/s),
    // 6 height (km).
    std::vector<Series> series(7);
    for (const ProductRecord& r : att.records) {
        if (!Plottable(r.tai93)) continue;
        const double t = UnixUtc(r.tai93);
        for (int k = 0; k < 6; ++k) {
            series[k].t.push_back(t);
            series[k].v.push_back(r.v[k] * kDeg);
        }
    }
    data.geo.assign(eph.records.size(), Geodetic());
    for (size_t i = 0; i < eph.records.size(); ++i) {
        const ProductRecord& r = eph.records[i];
        if (!Plottable(r.tai93)) continue;
        data.geo[i] = GeodeticFromInertial(r.v, r.tai93);
        series[6].t.push_back(UnixUtc(r.tai93));
        series[6].v.push_back(data.geo[i].height / 1000.0);
    }
    for (int k = 0; k < 7; ++k)
        data.hasData[k] = std::any_of(series[k].v.begin(), series[k].v.end(),
                                      [](double v) { return std::isfinite(v); });
    std::ostringstream blocks;
    for (int k = 0; k < 7; ++k) WriteEnvelope(blocks, series[k], k < 6 ? Spacing(att) : Spacing(eph));
    data.files.emplace_back("series.dat", blocks.str());
    data.files.emplace_back("marks.dat", Marks(eph, att, data.geo));
    data.files.emplace_back("track.dat", Track(eph, data.geo));
    CloseUps(eph, att, data);
    return true;
}

} // namespace quicklook

} // namespace toolkit
