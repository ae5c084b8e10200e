// qlrplot: quicklook plots and a one-page report for an ephemeris and
// attitude product pair. Reads both products, writes plot data and a gnuplot
// script to the output directory, runs gnuplot there and assembles
// report.html with the pair check's verdict, a summary and every plot
// embedded, so the page reads without a network.

#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit_civilutc.h"
#include "toolkit_geodetic.h"
#include "toolkit_isotime.h"
#include "toolkit_productcheck.h"
#include "toolkit_qlrproduct.h"
#include "timelib_proc_TAI93.h"
#include "timelib_proc_TAItoUTC.h"
#include "vn_version.h"

using namespace toolkit;

namespace {

const char* const kUsage =
    "usage: qlrplot EPH ATT [-o DIR]\n"
    "Plots an ephemeris and attitude product pair (attitude angles and rates,\n"
    "height above WGS-84, ground track, close-ups of the largest repaired gaps)\n"
    "with gnuplot and writes DIR/report.html (default DIR: the current one)\n"
    "with the pair check, a summary and the plots. Status 1: the pair fails\n"
    "the check (the report says why); 255: unusable input or arguments.\n";

const double kDeg = 57.29577951308232;

// Quality flag bits of a record.
const uint32_t kRep = 0x20, kLgb = 0x40, kSgb = 0x80, kSgf = 0x100, kLgf = 0x200;
const uint32_t kGapSide = kLgb | kSgb | kSgf | kLgf;

// Geometry of every time plot: 1400 pixels wide, the plot area between 8 %
// and 97 % of it. Gap markers are laid out in these pixels.
const int kWidth = 1400;
const double kLeft = 0.08, kRight = 0.97;
const double kAreaPixels = kWidth * (kRight - kLeft);

// Longest gnuplot may take, seconds.
const int kGnuplotSeconds = 300;

// Close-ups of at most this many repaired gaps, the largest first.
const size_t kCloseUps = 3;

[[noreturn]] void Fail(const std::string& message)
{
    std::cerr << "qlrplot: " << message << std::endl;
    std::exit(255);
}

std::string Fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// ---- time -----------------------------------------------------------------

// TAI93 zero is 1993-01-01 00:00:00 UTC, when TAI - UTC was 27 s.
const double kUnixAtTai93Zero = 725846400.0;

// UTC of a TAI93 instant as seconds since 1970 without leap seconds (the
// time scale gnuplot's date axes count in), from the system leap-second
// table; where the table cannot place the instant, from trokproc's own
// TAI-UTC model.
double UnixUtc(double tai93)
{
    int offset = 0;
    if (TaiMinusUtcAtTai93(SystemLeapSeconds(), tai93, offset))
        return kUnixAtTai93Zero + tai93 - (offset - 27);
    return (TAItoUTC(TAI93ToJulianDay(tai93)) - 2440587.5) * 86400.0;
}

std::string CivilUtc(double tai93, int decimals)
{
    int offset = 0;
    if (TaiMinusUtcAtTai93(SystemLeapSeconds(), tai93, offset))
        return IsoCivilUtcFromTai93(SystemLeapSeconds(), tai93, decimals) + " UTC";
    return IsoUtcFromTai93(tai93, decimals) + " UTC (trokproc's model)";
}

// A span of seconds in the largest fitting units: "2 d 3 h", "42 min 10 s".
std::string Duration(double seconds)
{
    const double s = std::fabs(seconds);
    char buf[64];
    if (s >= 86400) std::snprintf(buf, sizeof buf, "%.2f days", s / 86400);
    else if (s >= 3600) std::snprintf(buf, sizeof buf, "%.2f h", s / 3600);
    else if (s >= 60) std::snprintf(buf, sizeof buf, "%.1f min", s / 60);
    else std::snprintf(buf, sizeof buf, "%.1f s", s);
    return buf;
}

// Times a record can sensibly hold: 1958 to 2099. A damaged time outside
// them is left out of the plots (the pair check reports it) rather than
// stretching the axes over millennia.
bool Plottable(double tai93) { return tai93 > -1.1e9 && tai93 < 3.35e9; }

// ---- what the records say -------------------------------------------------

// A run of records without data around it: `kind` 'r' for repaired points
// (first to last repaired record), 'l' for a large gap (the record before it
// to the one after).
struct Gap {
    char kind = 'r';
    double t0 = 0, t1 = 0;   // TAI93
    size_t first = 0, last = 0, points = 0;
};

std::vector<Gap> FindGaps(const std::vector<ProductRecord>& r)
{
    std::vector<Gap> gaps;
    for (size_t i = 0; i < r.size(); ++i) {
        if ((r[i].flags & kRep) && (i == 0 || !(r[i - 1].flags & kRep))) {
            Gap g;
            g.first = i;
            while (i + 1 < r.size() && (r[i + 1].flags & kRep)) ++i;
            g.last = i;
            g.points = g.last - g.first + 1;
            g.t0 = r[g.first].tai93;
            g.t1 = r[g.last].tai93;
            if (Plottable(g.t0) && Plottable(g.t1) && g.t1 >= g.t0 && g.t1 - g.t0 < 86400)
                gaps.push_back(g);
        }
    }
    for (size_t i = 1; i < r.size(); ++i)
        if (r[i].flags & kLgb) {
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

struct Counts {
    size_t records = 0, repaired = 0, smallGaps = 0, largeGaps = 0;
    double largeSeconds = 0;
};

Counts Count(const std::vector<ProductRecord>& r)
{
    Counts c;
    c.records = r.size();
    for (size_t i = 0; i < r.size(); ++i) {
        c.repaired += (r[i].flags & kRep) != 0;
        c.smallGaps += (r[i].flags & kSgb) != 0;
        if (r[i].flags & kLgb) {
            ++c.largeGaps;
            if (i > 0) c.largeSeconds += r[i].tai93 - r[i - 1].tai93;
        }
    }
    return c;
}

// ---- plot data ------------------------------------------------------------

// One plotted quantity: a time (UTC, Unix seconds) and a value per record;
// NaN where the record gives none.
struct Series {
    std::vector<double> t, v;
};

// The nominal record spacing: the header's interval when sensible, else 1 s.
double Spacing(const Product& p)
{
    const double dt = p.header.interval;
    return std::isfinite(dt) && dt > 0 && dt < 86400 ? dt : 1.0;
}

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

// Nice tic steps for a date axis of `span` seconds: at most about ten tics.
double TicStep(double span)
{
    static const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200,
                                   10800, 21600, 43200, 86400, 172800, 345600, 604800, 1209600};
    for (double s : steps)
        if (span / s <= 10) return s;
    return std::ceil(span / 10 / 604800) * 604800;
}

// gnuplot's text form of a string: double quotes with escapes.
std::string Quoted(const std::string& s)
{
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        if (static_cast<unsigned char>(c) < 0x20) q += ' ';
        else q += c;
    }
    return q + "\"";
}

std::string Html(const std::string& s)
{
    std::string h;
    for (char c : s) {
        switch (c) {
        case '&': h += "&amp;"; break;
        case '<': h += "&lt;"; break;
        case '>': h += "&gt;"; break;
        case '"': h += "&quot;"; break;
        default: h += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return h;
}

// gnuplot refuses to autoscale a plot without a single value: such a panel
// gets a fixed range and says why it is empty.
void NoDataGuard(std::ostream& gp, bool hasData)
{
    if (hasData) gp << "set yrange [*:*]\nunset label 99\n";
    else gp << "set yrange [-1:1]\nset label 99 \"no values\" at graph 0.5, graph 0.5 center\n";
}

// ---- the run --------------------------------------------------------------

struct Plot {
    std::string file, caption;
};

class Quicklook {
public:
    Quicklook(const Product& eph, const Product& att, const std::string& dir)
        : eph_(eph), att_(att), dir_(dir)
    {
    }

    // Writes the data files and the script; returns the plots it will draw.
    std::vector<Plot> Prepare();
    const std::vector<Gap>& EphGaps() const { return ephGaps_; }

private:
    void AxisSetup(std::ostream& gp) const;
    void Decorations(std::ostream& gp, const std::vector<Gap>& gaps, bool labels) const;
    void TimePanels(std::ostream& gp, const std::string& png, const std::string& title,
                    const std::string& block, int firstIndex, const std::vector<std::string>& names,
                    const std::vector<std::string>& units, const std::vector<Gap>& gaps, int markColumn,
                    const std::vector<bool>& hasData);
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Close(std::ofstream& f, const std::string& name) const
    {
        f.close();
        if (!f) Fail("cannot write \"" + Path(name) + "\"");
    }

    const Product& eph_;
    const Product& att_;
    std::string dir_;
    std::vector<Gap> ephGaps_, attGaps_;
    double t0_ = 0, t1_ = 0;   // the plotted span, Unix UTC seconds
};

// Gap markers in a strip at the top of every time panel: one bar per gap,
// at least a few pixels wide, in as many rows as it takes for bars that
// would touch to sit apart, so near-by gaps never merge into one at any span.
// Large gaps are also shaded over the whole height.
void Quicklook::Decorations(std::ostream& gp, const std::vector<Gap>& gaps, bool labels) const
{
    gp << "unset object\nunset arrow\nunset label\n";
    const double perPixel = (t1_ - t0_) / kAreaPixels;
    std::vector<double> rowEnd;
    const size_t maxRows = 4;
    for (const Gap& g : gaps) {
        const double a = UnixUtc(g.t0), b = std::max(UnixUtc(g.t1), a + 3 * perPixel);
        size_t row = 0;
        while (row < rowEnd.size() && rowEnd[row] + 2 * perPixel >= a) ++row;
        if (row == rowEnd.size()) {
            if (rowEnd.size() < maxRows) rowEnd.push_back(b);
            else row = static_cast<size_t>(std::min_element(rowEnd.begin(), rowEnd.end()) - rowEnd.begin());
        }
        rowEnd[row] = std::max(rowEnd[row], b);
        const double top = 0.985 - 0.04 * row;
        const char* colour = g.kind == 'l' ? "#e6550d" : "#d62728";
        gp << "set object rect from first " << Fixed(a, 3) << ", graph " << Fixed(top - 0.03, 3)
           << " to first " << Fixed(b, 3) << ", graph " << Fixed(top, 3) << " front fc rgb \""
           << colour << "\" fs solid 1.0 noborder\n";
        if (g.kind == 'l')
            gp << "set object rect from first " << Fixed(UnixUtc(g.t0), 3) << ", graph 0 to first "
               << Fixed(UnixUtc(g.t1), 3)
               << ", graph 1 behind fc rgb \"#fdd0a2\" fs solid 0.7 border lc rgb \"#fdae6b\"\n";
    }
    // Orbit boundaries at the ascending nodes, numbered; with many orbits
    // only every 2nd, 5th, 10th ... is numbered (and drawn, beyond 150).
    std::vector<const OrbitRecord*> nodes;
    for (const OrbitRecord& o : eph_.orbits) {
        if (!(o.ascendingTai93 >= 0) || !std::isfinite(o.ascendingTai93)) continue;
        const double t = UnixUtc(o.ascendingTai93);
        if (t >= t0_ && t <= t1_) nodes.push_back(&o);
    }
    unsigned step = 1;
    for (unsigned s : {1u, 2u, 5u, 10u, 20u, 50u, 100u, 200u, 500u, 1000u}) {
        step = s;
        if (nodes.size() / s <= 14) break;
    }
    for (const OrbitRecord* o : nodes) {
        const bool numbered = step == 1 || o->orbitNo % step == 0;
        if (!numbered && nodes.size() > 150) continue;
        const std::string x = Fixed(UnixUtc(o->ascendingTai93), 3);
        gp << "set arrow from first " << x << ", graph 0 to first " << x
           << ", graph 1 nohead back dt 2 lc rgb \"" << (numbered ? "#555555" : "#aaaaaa") << "\"\n";
        if (numbered && labels)
            gp << "set label " << Quoted(std::to_string(o->orbitNo)) << " at first " << x
               << ", graph 1 offset 0, 0.6 center font \",9\" tc rgb \"#333333\"\n";
    }
}

void Quicklook::AxisSetup(std::ostream& gp) const
{
    const double span = std::max(t1_ - t0_, 1.0);
    const double step = TicStep(span);
    const double first = std::ceil(t0_ / step) * step;
    gp << "set xdata time\nset timefmt \"%s\"\n";
    gp << "set xrange [" << Fixed(t0_, 3) << ":" << Fixed(std::max(t1_, t0_ + 1), 3) << "]\n";
    gp << "set xtics " << Fixed(first, 0) << ", " << Fixed(step, 0) << "\n";
    if (step >= 86400) gp << "set format x \"%Y-%m-%d\"\n";
    else if (span > 26 * 3600) gp << "set format x \"%Y-%m-%d\\n%H:%M\"\n";
    else if (step < 60) gp << "set format x \"%H:%M:%S\"\n";
    else gp << "set format x \"%H:%M\"\n";
}

// Three (or one) stacked panels over the date axis; `block` names the data
// file whose gnuplot indexes `firstIndex`... hold the series; `markColumn`
// is the first value column of marks.dat for these quantities.
void Quicklook::TimePanels(std::ostream& gp, const std::string& png, const std::string& title,
                           const std::string& block, int firstIndex,
                           const std::vector<std::string>& names,
                           const std::vector<std::string>& units, const std::vector<Gap>& gaps,
                           int markColumn, const std::vector<bool>& hasData)
{
    const size_t n = names.size();
    const int height = n == 1 ? 560 : 1000;
    gp << "set terminal pngcairo size " << kWidth << "," << height << " font \"sans,11\"\n";
    gp << "set output " << Quoted(png) << "\n";
    gp << "reset session\nset datafile missing NaN\nset grid\nset key off\n";
    AxisSetup(gp);
    const std::string from = CivilUtc(eph_.records.empty() ? att_.records.front().tai93
                                                           : eph_.records.front().tai93, 0);
    gp << "set multiplot title " << Quoted(title) << "\n";
    const double top = n == 1 ? 0.84 : 0.90, bottom = n == 1 ? 0.13 : 0.08;
    const double gap = n == 1 ? 0 : 0.035;
    const double h = (top - bottom - gap * (n - 1)) / n;
    for (size_t i = 0; i < n; ++i) {
        const double y1 = top - i * (h + gap), y0 = y1 - h;
        gp << "set lmargin at screen " << kLeft << "\nset rmargin at screen " << kRight << "\n";
        gp << "set tmargin at screen " << Fixed(y1, 4) << "\nset bmargin at screen " << Fixed(y0, 4)
           << "\n";
        Decorations(gp, gaps, i == 0);
        gp << "set offsets 0, 0, graph 0.22, graph 0.06\n";
        gp << "set ylabel " << Quoted(names[i] + " (" + units[i] + ")") << "\n";
        NoDataGuard(gp, hasData[i]);
        if (i + 1 == n) {
            gp << "set xlabel " << Quoted("UTC (first record at " + from + ")") << "\nset format x\n";
            AxisSetup(gp);
        } else {
            gp << "unset xlabel\nset format x \"\"\n";
        }
        if (i == 0)
            gp << "set key at screen 0.5, screen " << Fixed(top + (n == 1 ? 0.075 : 0.04), 3)
               << " center horizontal maxcols 5 samplen 2 width -5\n";
        else
            gp << "set key off\n";
        const int col = markColumn + static_cast<int>(i);
        gp << "plot NaN with boxes fs solid 0.7 fc rgb \"#fdd0a2\" title \"large gap (no data)\", "
           << Quoted(block) << " index " << firstIndex + static_cast<int>(i)
           << " using 1:2 with lines lc rgb \"#1f77b4\" title \"records\", "
           << "\"marks.dat\" using 1:((int($2) & " << kRep << ") ? $" << col
           << " : NaN) with points pt 7 ps 1.0 lc rgb \"#d62728\" title \"repaired\", "
           << "\"marks.dat\" using 1:((int($2) & " << kGapSide << ") ? $" << col
           << " : NaN) with points pt 6 ps 1.6 lw 1.5 lc rgb \"#e6550d\" title \"next to a gap\", "
           << "NaN with lines dt 2 lc rgb \"#555555\" title \"ascending node, orbit no.\"\n";
    }
    gp << "unset multiplot\n";
}

std::vector<Plot> Quicklook::Prepare()
{
    ephGaps_ = FindGaps(eph_.records);
    attGaps_ = FindGaps(att_.records);

    // The span covers both products' records.
    bool any = false;
    for (const Product* p : {&eph_, &att_})
        for (const ProductRecord& r : p->records)
            if (Plottable(r.tai93)) {
                const double t = UnixUtc(r.tai93);
                if (!any || t < t0_) t0_ = t;
                if (!any || t > t1_) t1_ = t;
                any = true;
            }
    if (!any) return {};
    if (t1_ - t0_ < 1) t1_ = t0_ + 1;

    // series.dat: indexes 0-2 attitude angles (degrees), 3-5 rates (deg/s),
    // 6 height (km). marks.dat: every flagged record of either product.
    std::vector<Series> series(7);
    for (const ProductRecord& r : att_.records) {
        if (!Plottable(r.tai93)) continue;
        const double t = UnixUtc(r.tai93);
        for (int k = 0; k < 6; ++k) {
            series[k].t.push_back(t);
            series[k].v.push_back(r.v[k] * kDeg);
        }
    }
    std::vector<Geodetic> geo(eph_.records.size());
    for (size_t i = 0; i < eph_.records.size(); ++i) {
        const ProductRecord& r = eph_.records[i];
        if (!Plottable(r.tai93)) continue;
        geo[i] = GeodeticFromInertial(r.v, r.tai93);
        series[6].t.push_back(UnixUtc(r.tai93));
        series[6].v.push_back(geo[i].height / 1000.0);
    }
    std::vector<bool> hasData(7);
    for (int k = 0; k < 7; ++k)
        hasData[k] = std::any_of(series[k].v.begin(), series[k].v.end(),
                                 [](double v) { return std::isfinite(v); });
    std::ofstream data(Path("series.dat"));
    for (int k = 0; k < 7; ++k) WriteEnvelope(data, series[k], k < 6 ? Spacing(att_) : Spacing(eph_));
    Close(data, "series.dat");

    // marks.dat columns: time, flags, angles 1-3, rates 1-3, height (km),
    // longitude, latitude (degrees).
    std::ofstream marks(Path("marks.dat"));
    char buf[320];
    marks << "NaN 0 NaN NaN NaN NaN NaN NaN NaN NaN NaN\n";
    for (const ProductRecord& r : att_.records)
        if ((r.flags & (kRep | kGapSide)) && Plottable(r.tai93)) {
            std::snprintf(buf, sizeof buf, "%.3f %u %.9g %.9g %.9g %.9g %.9g %.9g NaN NaN NaN\n",
                          UnixUtc(r.tai93), r.flags, r.v[0] * kDeg, r.v[1] * kDeg, r.v[2] * kDeg,
                          r.v[3] * kDeg, r.v[4] * kDeg, r.v[5] * kDeg);
            marks << buf;
        }
    for (size_t i = 0; i < eph_.records.size(); ++i) {
        const ProductRecord& r = eph_.records[i];
        if ((r.flags & (kRep | kGapSide)) && Plottable(r.tai93)) {
            std::snprintf(buf, sizeof buf, "%.3f %u NaN NaN NaN NaN NaN NaN %.6f %.6f %.6f\n",
                          UnixUtc(r.tai93), r.flags, geo[i].height / 1000.0,
                          geo[i].longitude * kDeg, geo[i].latitude * kDeg);
            marks << buf;
        }
    }
    Close(marks, "marks.dat");

    // track.dat: longitude and latitude, at most about 20000 points, broken
    // where the longitude wraps or the records stop.
    std::ofstream track(Path("track.dat"));
    const size_t n = eph_.records.size();
    const size_t stride = std::max<size_t>(1, n / 20000);
    double lastLon = 0, lastT = 0;
    bool have = false;
    track << "NaN NaN\n";
    for (size_t i = 0; i < n; ++i) {
        const ProductRecord& r = eph_.records[i];
        const bool keep = i % stride == 0 || i + 1 == n || (r.flags & (kRep | kGapSide));
        if (!keep || !Plottable(r.tai93) || !std::isfinite(geo[i].latitude)) continue;
        const double lon = geo[i].longitude * kDeg, lat = geo[i].latitude * kDeg;
        if (have && (std::fabs(lon - lastLon) > 180 || (r.flags & kLgb) ||
                     r.tai93 - lastT > (stride + 1.5) * Spacing(eph_)))
            track << "\n";
        std::snprintf(buf, sizeof buf, "%.6f %.6f\n", lon, lat);
        track << buf;
        lastLon = lon;
        lastT = r.tai93;
        have = true;
    }
    Close(track, "track.dat");

    std::vector<Plot> plots;
    std::ofstream gp(Path("qlrplot.gp"));
    gp << "# Written by qlrplot " << TROK_VERSION << "; run in this directory: gnuplot qlrplot.gp\n";

    auto axisName = [](uint32_t axis) -> std::string {
        switch (axis) {
        case 1: return "roll, axis 1";
        case 2: return "pitch, axis 2";
        case 3: return "yaw, axis 3";
        default: return "axis " + std::to_string(axis);
        }
    };
    const std::string attName = att_.path.substr(att_.path.find_last_of('/') + 1);
    const std::string ephName = eph_.path.substr(eph_.path.find_last_of('/') + 1);
    if (!att_.records.empty()) {
        std::vector<std::string> names, units(3, "deg");
        for (int i = 0; i < 3; ++i) names.push_back("angle " + std::to_string(i + 1) + ": " + axisName(att_.att.angleOrder[i]));
        TimePanels(gp, "attitude.png", "Attitude angles in the orbital frame - " + attName,
                   "series.dat", 0, names, units, attGaps_, 3,
                   {hasData[0], hasData[1], hasData[2]});
        plots.push_back({"attitude.png", "Attitude angles in the orbital frame, degrees, in the "
                                         "order of the attitude header's axes."});
        TimePanels(gp, "rates.png", "Attitude rates in body axes - " + attName, "series.dat", 3,
                   {"rate 1 (body x)", "rate 2 (body y)", "rate 3 (body z)"},
                   {"deg/s", "deg/s", "deg/s"}, attGaps_, 6, {hasData[3], hasData[4], hasData[5]});
        plots.push_back({"rates.png", "Attitude rates about the body axes, degrees per second."});
    }
    if (!eph_.records.empty()) {
        TimePanels(gp, "height.png", "Geodetic height above the WGS-84 ellipsoid - " + ephName,
                   "series.dat", 6, {"height"}, {"km"}, ephGaps_, 9, {hasData[6]});
        plots.push_back({"height.png", "Geodetic height above the WGS-84 ellipsoid, km."});

        gp << "reset session\nset terminal pngcairo size 1400,760 font \"sans,11\"\n"
           << "set output \"groundtrack.png\"\nset datafile missing NaN\n"
           << "set title " << Quoted("Ground track - " + ephName) << "\n"
           << "set xrange [-180:180]\nset yrange [-90:90]\nset xtics 30\nset ytics 30\n"
           << "set size ratio 0.5\nset grid\nset xlabel \"longitude (deg, east positive)\"\n"
           << "set ylabel \"geodetic latitude (deg)\"\n"
           << "set key outside below horizontal maxrows 1\n";
        const ProductRecord& a = eph_.records.front();
        const ProductRecord& b = eph_.records.back();
        const Geodetic ga = geo.front(), gb = geo.back();
        gp << "plot \"track.dat\" using 1:2 with lines lc rgb \"#2ca02c\" title \"track\", "
           << "\"marks.dat\" using 10:((int($2) & " << kRep
           << ") ? $11 : NaN) with points pt 7 ps 1.0 lc rgb \"#d62728\" title \"repaired\", "
           << "\"marks.dat\" using 10:((int($2) & " << kGapSide
           << ") ? $11 : NaN) with points pt 6 ps 1.6 lw 1.5 lc rgb \"#e6550d\" title \"next to a gap\", "
           << "\"+\" using (" << Fixed(ga.longitude * kDeg, 4) << "):(" << Fixed(ga.latitude * kDeg, 4)
           << ") every ::0::0 with points pt 5 ps 1.8 lc rgb \"#000000\" title "
           << Quoted("first record, " + CivilUtc(a.tai93, 0)) << ", "
           << "\"+\" using (" << Fixed(gb.longitude * kDeg, 4) << "):(" << Fixed(gb.latitude * kDeg, 4)
           << ") every ::0::0 with points pt 9 ps 2.0 lc rgb \"#000000\" title "
           << Quoted("last record, " + CivilUtc(b.tai93, 0)) << "\n";
        plots.push_back({"groundtrack.png", "Ground track: geodetic latitude over longitude (WGS-84)."});
    }

    // Close-ups of the largest repaired gaps, from the ephemeris flags (the
    // attitude file carries the same ones in a sound pair).
    std::vector<Gap> repaired;
    for (const Gap& g : ephGaps_)
        if (g.kind == 'r') repaired.push_back(g);
    std::stable_sort(repaired.begin(), repaired.end(),
                     [](const Gap& x, const Gap& y) { return x.points > y.points; });
    if (repaired.size() > kCloseUps) repaired.resize(kCloseUps);
    std::sort(repaired.begin(), repaired.end(), [](const Gap& x, const Gap& y) { return x.t0 < y.t0; });
    for (size_t k = 0; k < repaired.size(); ++k) {
        const Gap& g = repaired[k];
        const double pad = std::max(10 * Spacing(eph_), 0.5 * (g.t1 - g.t0) + 5 * Spacing(eph_));
        const double from = g.t0 - pad, to = g.t1 + pad;
        const std::string name = "closeup" + std::to_string(k + 1);
        std::ofstream f(Path(name + ".dat"));
        // Columns: seconds from the first repaired point, flags, angles 1-3
        // (deg, from the attitude record at the same time), height (km).
        size_t j = 0;
        bool closeHas[4] = {false, false, false, false};
        f << "NaN 0 NaN NaN NaN NaN\n";
        for (size_t i = 0; i < eph_.records.size(); ++i) {
            const ProductRecord& r = eph_.records[i];
            if (!(r.tai93 >= from && r.tai93 <= to)) continue;
            while (j < att_.records.size() && att_.records[j].tai93 < r.tai93) ++j;
            const bool hasAtt = j < att_.records.size() && att_.records[j].tai93 == r.tai93;
            const double* v = hasAtt ? att_.records[j].v : nullptr;
            for (int c = 0; c < 3; ++c) closeHas[c] = closeHas[c] || (v && std::isfinite(v[c]));
            closeHas[3] = closeHas[3] || std::isfinite(geo[i].height);
            std::snprintf(buf, sizeof buf, "%.6f %u %.9g %.9g %.9g %.6f\n", r.tai93 - g.t0, r.flags,
                          v ? v[0] * kDeg : NAN, v ? v[1] * kDeg : NAN, v ? v[2] * kDeg : NAN,
                          geo[i].height / 1000.0);
            f << buf;
        }
        Close(f, name + ".dat");
        const std::string when = CivilUtc(g.t0, 3);
        gp << "reset session\nset terminal pngcairo size 1400,1100 font \"sans,11\"\n"
           << "set output " << Quoted(name + ".png") << "\nset datafile missing NaN\nset grid\n"
           << "set multiplot title "
           << Quoted("Repaired gap " + std::to_string(k + 1) + ": " + std::to_string(g.points) +
                     " points from " + when)
           << "\n";
        const char* labels[4] = {"angle 1", "angle 2", "angle 3", "height"};
        for (int i = 0; i < 4; ++i) {
            const double top = 0.90 - i * 0.205, bottom = top - 0.175;
            gp << "set lmargin at screen " << kLeft << "\nset rmargin at screen " << kRight << "\n"
               << "set tmargin at screen " << Fixed(top, 4) << "\nset bmargin at screen "
               << Fixed(bottom, 4) << "\n";
            std::string label = labels[i];
            if (i < 3) label += ": " + axisName(att_.att.angleOrder[i]) + " (deg)";
            else label += " (km)";
            gp << "set ylabel " << Quoted(label) << "\nset xrange [" << Fixed(from - g.t0, 3) << ":"
               << Fixed(to - g.t0, 3) << "]\nset offsets 0, 0, graph 0.1, graph 0.1\n";
            NoDataGuard(gp, closeHas[i]);
            gp << "set object 1 rect from " << Fixed(-0.5 * Spacing(eph_), 3) << ", graph 0 to "
               << Fixed(g.t1 - g.t0 + 0.5 * Spacing(eph_), 3)
               << ", graph 1 behind fc rgb \"#fbe3e3\" fs solid 1.0 noborder\n";
            if (i == 3)
                gp << "set xlabel " << Quoted("seconds from the first repaired point, " + when) << "\n";
            else
                gp << "unset xlabel\n";
            if (i == 0)
                gp << "set key at screen 0.5, screen 0.935 center horizontal maxcols 5 samplen 2 width -5\n";
            else
                gp << "set key off\n";
            const int col = 3 + i;
            gp << "plot \"" << name << ".dat\" using 1:" << col
               << " with linespoints pt 7 ps 0.5 lc rgb \"#1f77b4\" title \"records\", "
               << "\"" << name << ".dat\" using 1:((int($2) & " << kRep << ") ? $" << col
               << " : NaN) with points pt 7 ps 1.2 lc rgb \"#d62728\" title \"repaired\", "
               << "\"" << name << ".dat\" using 1:((int($2) & " << kGapSide << ") ? $" << col
               << " : NaN) with points pt 6 ps 2.0 lw 1.5 lc rgb \"#e6550d\" title \"next to a gap\"\n";
        }
        gp << "unset multiplot\n";
        plots.push_back({name + ".png", "Close-up of repaired gap " + std::to_string(k + 1) + " (" +
                                            std::to_string(g.points) + " interpolated points from " +
                                            when + "): angles in degrees, height in km, time in "
                                            "seconds from the first repaired point."});
    }
    Close(gp, "qlrplot.gp");
    return plots;
}

// Runs gnuplot on the script in `dir`, its messages into gnuplot.log. "" when
// it succeeded, else why not.
std::string RunGnuplot(const std::string& dir)
{
    const std::string log = dir + "/gnuplot.log";
    const pid_t pid = fork();
    if (pid < 0) return std::string("cannot start gnuplot: ") + std::strerror(errno);
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (fd < 0 || in < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        execlp("gnuplot", "gnuplot", "qlrplot.gp", static_cast<char*>(nullptr));
        _exit(127);
    }
    // gnuplot draws a week in seconds; one that runs for minutes is stuck
    // and is stopped rather than left to hang the run.
    int status = 0;
    for (int waited = 0;; ++waited) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return "cannot wait for gnuplot";
        if (waited >= kGnuplotSeconds * 20) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return "gnuplot did not finish within " + std::to_string(kGnuplotSeconds) + " s (see " + log + ")";
        }
        usleep(50000);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return "gnuplot is not installed (Debian: apt-get install gnuplot-nox)";
    std::ifstream f(log);
    std::string line, last;
    while (std::getline(f, line))
        if (!line.empty()) last = line;
    return "gnuplot failed" + (last.empty() ? std::string() : ": " + last) + " (see " + log + ")";
}

std::string Base64(const std::string& bytes)
{
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += abc[v >> 18];
        out += abc[(v >> 12) & 63];
        out += abc[(v >> 6) & 63];
        out += abc[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += abc[v >> 18];
        out += abc[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? abc[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Width and height of a PNG from its header; false when it is not one.
bool PngSize(const std::string& bytes, unsigned& w, unsigned& h)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
    auto be = [&](size_t o) {
        return (static_cast<unsigned>(static_cast<unsigned char>(bytes[o])) << 24) |
               (static_cast<unsigned>(static_cast<unsigned char>(bytes[o + 1])) << 16) |
               (static_cast<unsigned>(static_cast<unsigned char>(bytes[o + 2])) << 8) |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[o + 3]));
    };
    w = be(16);
    h = be(20);
    return true;
}

std::string NodeTime(double tai93)
{
    if (!(tai93 >= 0.0) || !std::isfinite(tai93)) return "none";
    return CivilUtc(tai93, 3);
}

// A descending-node longitude beyond a turn is the writers' "no longitude".
std::string NodeLongitude(double radians)
{
    return std::fabs(radians) <= 7 ? Fixed(radians * kDeg, 3) : std::string("none");
}

void Row(std::ostream& os, const std::string& name, const std::string& id, const std::string& value)
{
    os << "<tr><th>" << Html(name) << "</th><td id=\"" << id << "\">" << value << "</td></tr>\n";
}

void WriteReport(std::ostream& os, const Product& eph, const Product& att,
                 const std::vector<CheckFinding>& findings, const std::vector<Gap>& gaps,
                 const std::vector<Plot>& plots, const std::string& dir, const std::string& note)
{
    const Counts c = Count(eph.records);
    const std::string sc = PrintableField(eph.header.spacecraftId);
    os << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       << "<link rel=\"icon\" href=\"data:,\">\n"
       << "<title>Quicklook " << Html(sc) << " - " << Html(eph.path) << "</title>\n"
       << "<style>\n"
          "body { font-family: sans-serif; margin: 1.5em auto; max-width: 1420px; color: #222; }\n"
          "table { border-collapse: collapse; margin: 0.5em 0 1em; }\n"
          "th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; "
          "font-variant-numeric: tabular-nums; }\n"
          "th { background: #f2f2f2; }\n"
          ".pass { background: #e5f5e0; border: 1px solid #31a354; padding: 0.5em 1em; }\n"
          ".fail { background: #fee0d2; border: 1px solid #de2d26; padding: 0.5em 1em; }\n"
          ".warn { background: #fff7dc; border: 1px solid #d9a400; padding: 0.5em 1em; margin-top: 0.5em; }\n"
          "figure { margin: 1em 0; } img { max-width: 100%; height: auto; border: 1px solid #ddd; }\n"
          "figcaption { color: #555; }\n"
          "</style>\n</head>\n<body>\n";
    os << "<h1>Quicklook: " << Html(sc.empty() ? "(no spacecraft name)" : sc) << "</h1>\n";
    os << "<p>Ephemeris <code>" << Html(eph.path) << "</code>, attitude <code>" << Html(att.path)
       << "</code>.</p>\n";
    if (!HasFault(findings))
        os << "<p class=\"pass\" id=\"verdict\">Pair check passed: the two products agree with each "
              "other and with their headers.</p>\n";
    else {
        os << "<div class=\"fail\" id=\"verdict\"><p>Pair check failed:</p>\n<ul>\n";
        for (const CheckFinding& f : findings)
            if (!f.warning) os << "<li>" << Html(f.message) << "</li>\n";
        os << "</ul></div>\n";
    }
    bool warned = false;
    for (const CheckFinding& f : findings)
        if (f.warning) {
            if (!warned) os << "<div class=\"warn\" id=\"warnings\"><p>Worth knowing:</p>\n<ul>\n";
            warned = true;
            os << "<li>" << Html(f.message) << "</li>\n";
        }
    if (warned) os << "</ul></div>\n";
    if (!note.empty()) os << "<p class=\"fail\">" << Html(note) << "</p>\n";

    os << "<h2>Summary</h2>\n<table>\n";
    const auto& r = eph.records;
    Row(os, "records", "records", std::to_string(c.records));
    if (!r.empty())
        Row(os, "span", "span",
            Html(CivilUtc(r.front().tai93, 3) + " to " + CivilUtc(r.back().tai93, 3) + " (" +
                 Duration(r.back().tai93 - r.front().tai93) + ")"));
    size_t repairedGaps = 0;
    for (const Gap& g : gaps) repairedGaps += g.kind == 'r';
    Row(os, "repaired points", "repaired",
        std::to_string(c.repaired) + " in " + std::to_string(repairedGaps) + " runs");
    Row(os, "small gaps (repaired)", "small-gaps", std::to_string(c.smallGaps));
    Row(os, "large gaps (left open)", "large-gaps",
        std::to_string(c.largeGaps) +
            (c.largeGaps ? " (" + Fixed(c.largeSeconds, 1) + " s without data)" : std::string()));
    Row(os, "orbits", "orbits",
        std::to_string(eph.orbits.size()) + " (header: first " + std::to_string(eph.eph.firstOrbit) +
            ", last " + std::to_string(eph.eph.lastOrbit) + ")");
    std::string epoch;
    if (eph.eph.epochTai93 >= 0 && std::isfinite(eph.eph.epochTai93)) {
        const double e = eph.eph.epochTai93;
        epoch = CivilUtc(e, 3);
        if (!r.empty()) {
            if (e < r.front().tai93) epoch += ", " + Duration(r.front().tai93 - e) + " before the first record";
            else if (e > r.back().tai93) epoch += ", " + Duration(e - r.back().tai93) + " after the last record";
            else epoch += ", within the data (" + Duration(e - r.front().tai93) + " after the first record)";
        }
    } else {
        epoch = "no element set";
    }
    Row(os, "element-set epoch", "epoch", Html(epoch));
    Row(os, "attitude axis order", "axis-order",
        std::to_string(att.att.angleOrder[0]) + ", " + std::to_string(att.att.angleOrder[1]) + ", " +
            std::to_string(att.att.angleOrder[2]));
    os << "</table>\n";

    os << "<h2>Orbits</h2>\n";
    if (eph.orbits.empty()) os << "<p>No orbit records.</p>\n";
    else {
        os << "<table id=\"orbit-table\">\n<tr><th>orbit</th><th>ascending node</th>"
              "<th>descending node</th><th>descending-node longitude (deg)</th></tr>\n";
        for (const OrbitRecord& o : eph.orbits)
            os << "<tr><td>" << o.orbitNo << "</td><td>" << Html(NodeTime(o.ascendingTai93))
               << "</td><td>" << Html(NodeTime(o.descendingTai93)) << "</td><td>"
               << NodeLongitude(o.descendingLongitude)
               << "</td></tr>\n";
        os << "</table>\n";
    }

    os << "<h2>Plots</h2>\n";
    if (plots.empty()) os << "<p>No records to plot.</p>\n";
    os << "<p>Time axes in UTC. Red: repaired (interpolated) points; orange circles: records next "
          "to a gap; shaded: large gaps without data. The bars along the top of each panel mark "
          "every gap (red repaired, orange large), stacked so that near-by gaps stay apart; dashed "
          "lines are ascending nodes with their orbit numbers.</p>\n";
    for (const Plot& p : plots) {
        std::ifstream f(dir + "/" + p.file, std::ios::binary);
        std::ostringstream bytes;
        bytes << f.rdbuf();
        unsigned w = 0, h = 0;
        if (!f || !PngSize(bytes.str(), w, h)) Fail("gnuplot did not write \"" + dir + "/" + p.file + "\"");
        os << "<figure><img src=\"data:image/png;base64," << Base64(bytes.str()) << "\" width=\"" << w
           << "\" height=\"" << h << "\" alt=\"" << Html(p.caption) << "\"><figcaption>"
           << Html(p.file) << ": " << Html(p.caption) << "</figcaption></figure>\n";
    }
    os << "<p><small>Made by qlrplot " << TROK_VERSION << ".</small></p>\n</body>\n</html>\n";
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> files;
    std::string dir = ".";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h" || a == "--version") {
            if (a == "--version") std::cout << "qlrplot " << TROK_VERSION << "\n";
            else std::cout << kUsage;
            std::cout.flush();
            if (!std::cout) Fail("cannot write the standard output");
            return 0;
        } else if (a == "-o" || a == "--out") {
            if (i + 1 >= args.size()) Fail("option " + a + " needs a directory");
            dir = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            Fail("unknown option " + a + "\n" + kUsage);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) Fail("give an ephemeris and an attitude file\n" + std::string(kUsage));

    Product eph, att;
    std::string error;
    if (!ReadProduct(files[0], ProductKind::Unknown, eph, error)) Fail(error);
    if (!ReadProduct(files[1], ProductKind::Unknown, att, error)) Fail(error);
    if (eph.kind != ProductKind::Ephemeris)
        Fail("\"" + files[0] + "\" is an " + KindName(eph.kind) + " file, not an ephemeris file");
    if (att.kind != ProductKind::Attitude)
        Fail("\"" + files[1] + "\" is an " + KindName(att.kind) + " file, not an attitude file");

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir)) Fail("cannot make the directory \"" + dir + "\"");

    // Plots of an earlier run that this one might not redraw.
    for (const char* old : {"attitude.png", "rates.png", "height.png", "groundtrack.png", "closeup1.png",
                            "closeup2.png", "closeup3.png", "closeup1.dat", "closeup2.dat", "closeup3.dat"})
        std::filesystem::remove(dir + "/" + old, ec);

    const std::string warning = LeapSecondsWarning(SystemLeapSeconds());
    if (!warning.empty()) std::cerr << "qlrplot: " << warning << std::endl;

    const std::vector<CheckFinding> findings = CheckProducts(eph, att, CheckOptions());
    Quicklook q(eph, att, dir);
    const std::vector<Plot> plots = q.Prepare();
    if (!plots.empty()) {
        const std::string failed = RunGnuplot(dir);
        if (!failed.empty()) Fail(failed);
    }

    const std::string page = dir + "/report.html";
    std::ofstream html(page, std::ios::trunc);
    WriteReport(html, eph, att, findings, q.EphGaps(), plots, dir, warning);
    html.close();
    if (!html) Fail("cannot write \"" + page + "\"");

    if (HasFault(findings)) {
        for (const CheckFinding& f : findings)
            if (!f.warning) std::cerr << "qlrplot: check failed: " << f.message << "\n";
        return 1;
    }
    return 0;
}
