// The gnuplot script of qlrplot's plots: stacked time panels with gap
// markers and orbit boundaries, the ground track and the close-ups; and
// the run of gnuplot that draws them.

#include <sys/types.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>

#include "platform/child_process.h"
#include "platform/program_lookup.h"
#include "toolkit/quicklook/quicklook.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/cli/text.h"
#include "vn_class_quality_flags.h"
#include "vn_version.h"

namespace toolkit {

namespace quicklook {

namespace {

// Geometry of every time plot: 1400 pixels wide, the plot area between 8 %
// and 97 % of it. Gap markers are laid out in these pixels.
const int kWidth = 1400;
const double kLeft = 0.08, kRight = 0.97;
const double kAreaPixels = kWidth * (kRight - kLeft);

// Longest gnuplot may take, seconds.
const int kGnuplotSeconds = 300;

// Nice tic steps for a date axis of `span` seconds: at most about ten tics.
double TicStep(double span)
{
    static const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200,
                                   10800, 21600, 43200, 86400, 172800, 345600, 604800, 1209600};
    for (double s : steps)
        if (span / s <= 10) return s;
    return std::ceil(span / 10 / 604800) * 604800;
}

// gnuplot refuses to autoscale a plot without a single value: such a panel
// gets a fixed range and says why it is empty.
void NoDataGuard(std::ostream& gp, bool hasData)
{
    if (hasData) gp << "set yrange [*:*]\nunset label 99\n";
    else gp << "set yrange [-1:1]\nset label 99 \"no values\" at graph 0.5, graph 0.5 center\n";
}

// Writes the script for one pair and its plot data.
class ScriptWriter
{
public:
    ScriptWriter(const Product& eph, const Product& att, const PlotData& data,
                 const std::vector<std::string>& outputs)
        : eph_(eph), att_(att), data_(data), outputs_(outputs), t0_(data.t0), t1_(data.t1)
    {
    }

    std::string Script(std::vector<Plot>& plots);

private:
    void AttitudePlots(std::ostream& gp, std::vector<Plot>& plots);
    void EphemerisPlots(std::ostream& gp, std::vector<Plot>& plots);
    void CloseUpPlot(std::ostream& gp, size_t k, std::vector<Plot>& plots);
    std::string Output(const std::string& png);
    void AxisSetup(std::ostream& gp) const;
    void Decorations(std::ostream& gp, const std::vector<Gap>& gaps, bool labels) const;
    void TimePanels(std::ostream& gp, const std::string& png, const std::string& title,
                    const std::string& block, int firstIndex, const std::vector<std::string>& names,
                    const std::vector<std::string>& units, const std::vector<Gap>& gaps, int markColumn,
                    const std::vector<bool>& hasData);

    const Product& eph_;
    const Product& att_;
    const PlotData& data_;
    const std::vector<std::string>& outputs_;
    size_t drawn_ = 0;   // plots whose output is set so far
    double t0_, t1_;   // the plotted span, Unix UTC seconds
};

// Where the next plot goes: its PNG's name, or in a script to be run the
// file given for it.
std::string ScriptWriter::Output(const std::string& png)
{
    const size_t k = drawn_++;
    return GnuplotQuoted(k < outputs_.size() ? outputs_[k] : png);
}

// Gap markers in a strip at the top of every time panel: one bar per gap,
// at least a few pixels wide, in as many rows as it takes for bars that
// would touch to sit apart, so near-by gaps never merge into one at any span.
// Large gaps are also shaded over the whole height.
void ScriptWriter::Decorations(std::ostream& gp, const std::vector<Gap>& gaps, bool labels) const
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
        gp << "set object rect from first " << FixedText(a, 3) << ", graph " << FixedText(top - 0.03, 3)
           << " to first " << FixedText(b, 3) << ", graph " << FixedText(top, 3) << " front fc rgb \""
           << colour << "\" fs solid 1.0 noborder\n";
        if (g.kind == 'l')
            gp << "set object rect from first " << FixedText(UnixUtc(g.t0), 3) << ", graph 0 to first "
               << FixedText(UnixUtc(g.t1), 3)
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
        const std::string x = FixedText(UnixUtc(o->ascendingTai93), 3);
        gp << "set arrow from first " << x << ", graph 0 to first " << x
           << ", graph 1 nohead back dt 2 lc rgb \"" << (numbered ? "#555555" : "#aaaaaa") << "\"\n";
        if (numbered && labels)
            gp << "set label " << GnuplotQuoted(std::to_string(o->orbitNo)) << " at first " << x
               << ", graph 1 offset 0, 0.6 center font \",9\" tc rgb \"#333333\"\n";
    }
}

void ScriptWriter::AxisSetup(std::ostream& gp) const
{
    const double span = std::max(t1_ - t0_, 1.0);
    const double step = TicStep(span);
    const double first = std::ceil(t0_ / step) * step;
    gp << "set xdata time\nset timefmt \"%s\"\n";
    gp << "set xrange [" << FixedText(t0_, 3) << ":" << FixedText(std::max(t1_, t0_ + 1), 3) << "]\n";
    gp << "set xtics " << FixedText(first, 0) << ", " << FixedText(step, 0) << "\n";
    if (step >= 86400) gp << "set format x \"%Y-%m-%d\"\n";
    else if (span > 26 * 3600) gp << "set format x \"%Y-%m-%d\\n%H:%M\"\n";
    else if (step < 60) gp << "set format x \"%H:%M:%S\"\n";
    else gp << "set format x \"%H:%M\"\n";
}

// Three (or one) stacked panels over the date axis; `block` names the data
// file whose gnuplot indexes `firstIndex`... hold the series; `markColumn`
// is the first value column of marks.dat for these quantities.
void ScriptWriter::TimePanels(std::ostream& gp, const std::string& png, const std::string& title,
                              const std::string& block, int firstIndex,
                              const std::vector<std::string>& names,
                              const std::vector<std::string>& units, const std::vector<Gap>& gaps,
                              int markColumn, const std::vector<bool>& hasData)
{
    const size_t n = names.size();
    const int height = n == 1 ? 560 : 1000;
    gp << "set terminal pngcairo size " << kWidth << "," << height << " font \"sans,11\" noenhanced\n";
    gp << "set output " << Output(png) << "\n";
    gp << "reset session\nset datafile missing NaN\nset grid\nset key off\n";
    AxisSetup(gp);
    const std::string from = LabelledUtcFromTai93(eph_.records.empty() ? att_.records.front().tai93
                                                           : eph_.records.front().tai93, 0);
    gp << "set multiplot title " << GnuplotQuoted(title) << "\n";
    const double top = n == 1 ? 0.84 : 0.90, bottom = n == 1 ? 0.13 : 0.08;
    const double gap = n == 1 ? 0 : 0.035;
    const double h = (top - bottom - gap * (n - 1)) / n;
    for (size_t i = 0; i < n; ++i) {
        const double y1 = top - i * (h + gap), y0 = y1 - h;
        gp << "set lmargin at screen " << kLeft << "\nset rmargin at screen " << kRight << "\n";
        gp << "set tmargin at screen " << FixedText(y1, 4) << "\nset bmargin at screen " << FixedText(y0, 4)
           << "\n";
        Decorations(gp, gaps, i == 0);
        gp << "set offsets 0, 0, graph 0.22, graph 0.06\n";
        gp << "set ylabel " << GnuplotQuoted(names[i] + " (" + units[i] + ")") << "\n";
        NoDataGuard(gp, hasData[i]);
        if (i + 1 == n) {
            gp << "set xlabel " << GnuplotQuoted("UTC (first record at " + from + ")") << "\nset format x\n";
            AxisSetup(gp);
        } else {
            gp << "unset xlabel\nset format x \"\"\n";
        }
        if (i == 0)
            gp << "set key at screen 0.5, screen " << FixedText(top + (n == 1 ? 0.075 : 0.04), 3)
               << " center horizontal maxcols 5 samplen 2 width -5\n";
        else
            gp << "set key off\n";
        const int col = markColumn + static_cast<int>(i);
        gp << "plot NaN with boxes fs solid 0.7 fc rgb \"#fdd0a2\" title \"large gap (no data)\", "
           << GnuplotQuoted(block) << " index " << firstIndex + static_cast<int>(i)
           << " using 1:2 with lines lc rgb \"#1f77b4\" title \"records\", "
           << "\"marks.dat\" using 1:((int($2) & " << quality_flags::rep << ") ? $" << col
           << " : NaN) with points pt 7 ps 1.0 lc rgb \"#d62728\" title \"repaired\", "
           << "\"marks.dat\" using 1:((int($2) & " << kGapSide << ") ? $" << col
           << " : NaN) with points pt 6 ps 1.6 lw 1.5 lc rgb \"#e6550d\" title \"next to a gap\", "
           << "NaN with lines dt 2 lc rgb \"#555555\" title \"ascending node, orbit no.\"\n";
    }
    gp << "unset multiplot\n";
}

// The name of an attitude axis, by its number in the attitude header.
std::string AxisName(uint32_t axis)
{
    switch (axis) {
    case 1: return "roll, axis 1";
    case 2: return "pitch, axis 2";
    case 3: return "yaw, axis 3";
    default: return "axis " + std::to_string(axis);
    }
}

// The file name of a product, without its folder.
std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// The attitude angles and rates, each in three panels over time.
void ScriptWriter::AttitudePlots(std::ostream& gp, std::vector<Plot>& plots)
{
    const std::string attName = BaseName(att_.path);
    std::vector<std::string> names, units(3, "deg");
    for (int i = 0; i < 3; ++i)
        names.push_back("angle " + std::to_string(i + 1) + ": " + AxisName(att_.att.angleOrder[i]));
    TimePanels(gp, "attitude.png", "Attitude angles in the orbital frame - " + attName,
               "series.dat", 0, names, units, data_.attGaps, 3,
               {data_.hasData[0], data_.hasData[1], data_.hasData[2]});
    plots.push_back({"attitude.png", "Attitude angles in the orbital frame, degrees, in the "
                                     "order of the attitude header's axes."});
    TimePanels(gp, "rates.png", "Attitude rates in body axes - " + attName, "series.dat", 3,
               {"rate 1 (body x)", "rate 2 (body y)", "rate 3 (body z)"},
               {"deg/s", "deg/s", "deg/s"}, data_.attGaps, 6, {data_.hasData[3], data_.hasData[4], data_.hasData[5]});
    plots.push_back({"rates.png", "Attitude rates about the body axes, degrees per second."});
}

// The height over time and the ground track.
void ScriptWriter::EphemerisPlots(std::ostream& gp, std::vector<Plot>& plots)
{
    const std::string ephName = BaseName(eph_.path);
    TimePanels(gp, "height.png", "Geodetic height above the WGS-84 ellipsoid - " + ephName,
               "series.dat", 6, {"height"}, {"km"}, data_.ephGaps, 9, {data_.hasData[6]});
    plots.push_back({"height.png", "Geodetic height above the WGS-84 ellipsoid, km."});

    gp << "reset session\nset terminal pngcairo size 1400,760 font \"sans,11\" noenhanced\n"
       << "set output " << Output("groundtrack.png") << "\nset datafile missing NaN\n"
       << "set title " << GnuplotQuoted("Ground track - " + ephName) << "\n"
       << "set xrange [-180:180]\nset yrange [-90:90]\nset xtics 30\nset ytics 30\n"
       << "set size ratio 0.5\nset grid\nset xlabel \"longitude (deg, east positive)\"\n"
       << "set ylabel \"geodetic latitude (deg)\"\n"
       << "set key outside below horizontal maxrows 1\n";
    const ProductRecord& a = eph_.records.front();
    const ProductRecord& b = eph_.records.back();
    const Geodetic ga = data_.geo.front(), gb = data_.geo.back();
    gp << "plot \"track.dat\" using 1:2 with lines lc rgb \"#2ca02c\" title \"track\", "
       << "\"marks.dat\" using 10:((int($2) & " << quality_flags::rep
       << ") ? $11 : NaN) with points pt 7 ps 1.0 lc rgb \"#d62728\" title \"repaired\", "
       << "\"marks.dat\" using 10:((int($2) & " << kGapSide
       << ") ? $11 : NaN) with points pt 6 ps 1.6 lw 1.5 lc rgb \"#e6550d\" title \"next to a gap\", "
       << "\"+\" using (" << FixedText(ga.longitude * kDeg, 4) << "):(" << FixedText(ga.latitude * kDeg, 4)
       << ") every ::0::0 with points pt 5 ps 1.8 lc rgb \"#000000\" title "
       << GnuplotQuoted("first record, " + LabelledUtcFromTai93(a.tai93, 0)) << ", "
       << "\"+\" using (" << FixedText(gb.longitude * kDeg, 4) << "):(" << FixedText(gb.latitude * kDeg, 4)
       << ") every ::0::0 with points pt 9 ps 2.0 lc rgb \"#000000\" title "
       << GnuplotQuoted("last record, " + LabelledUtcFromTai93(b.tai93, 0)) << "\n";
    plots.push_back({"groundtrack.png", "Ground track: geodetic latitude over longitude (WGS-84)."});
}

// Close-up k of the largest repaired gaps: the angles and the height
// around the gap.
void ScriptWriter::CloseUpPlot(std::ostream& gp, size_t k, std::vector<Plot>& plots)
{
    const CloseUp& c = data_.closeUps[k];
    const Gap& g = c.gap;
    const double from = c.from, to = c.to;
    const std::string name = "closeup" + std::to_string(k + 1);
    const std::string when = LabelledUtcFromTai93(g.t0, 3);
    gp << "reset session\nset terminal pngcairo size 1400,1100 font \"sans,11\" noenhanced\n"
       << "set output " << Output(name + ".png") << "\nset datafile missing NaN\nset grid\n"
       << "set multiplot title "
       << GnuplotQuoted("Repaired gap " + std::to_string(k + 1) + ": " + std::to_string(g.points) +
                        " points from " + when)
       << "\n";
    const char* labels[4] = {"angle 1", "angle 2", "angle 3", "height"};
    for (int i = 0; i < 4; ++i) {
        const double top = 0.90 - i * 0.205, bottom = top - 0.175;
        gp << "set lmargin at screen " << kLeft << "\nset rmargin at screen " << kRight << "\n"
           << "set tmargin at screen " << FixedText(top, 4) << "\nset bmargin at screen "
           << FixedText(bottom, 4) << "\n";
        std::string label = labels[i];
        if (i < 3) label += ": " + AxisName(att_.att.angleOrder[i]) + " (deg)";
        else label += " (km)";
        gp << "set ylabel " << GnuplotQuoted(label) << "\nset xrange [" << FixedText(from - g.t0, 3) << ":"
           << FixedText(to - g.t0, 3) << "]\nset offsets 0, 0, graph 0.1, graph 0.1\n";
        NoDataGuard(gp, c.hasData[i]);
        gp << "set object 1 rect from " << FixedText(-0.5 * Spacing(eph_), 3) << ", graph 0 to "
           << FixedText(g.t1 - g.t0 + 0.5 * Spacing(eph_), 3)
           << ", graph 1 behind fc rgb \"#fbe3e3\" fs solid 1.0 noborder\n";
        if (i == 3)
            gp << "set xlabel " << GnuplotQuoted("seconds from the first repaired point, " + when) << "\n";
        else
            gp << "unset xlabel\n";
        if (i == 0)
            gp << "set key at screen 0.5, screen 0.935 center horizontal maxcols 5 samplen 2 width -5\n";
        else
            gp << "set key off\n";
        const int col = 3 + i;
        gp << "plot \"" << name << ".dat\" using 1:" << col
           << " with linespoints pt 7 ps 0.5 lc rgb \"#1f77b4\" title \"records\", "
           << "\"" << name << ".dat\" using 1:((int($2) & " << quality_flags::rep << ") ? $" << col
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

std::string ScriptWriter::Script(std::vector<Plot>& plots)
{
    std::ostringstream gp;
    gp << "# Written by qlrplot " << TROK_VERSION << "; run in this directory: gnuplot qlrplot.gp\n";
    if (!att_.records.empty()) AttitudePlots(gp, plots);
    if (!eph_.records.empty()) EphemerisPlots(gp, plots);
    // Close-ups of the largest repaired gaps.
    for (size_t k = 0; k < data_.closeUps.size(); ++k) CloseUpPlot(gp, k, plots);
    return gp.str();
}

} // namespace

std::string GnuplotQuoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\'') q += "''";
        else if (u < 0x20 || u == 0x7F) q += ' ';
        else q += c;
    }
    return q + "'";
}

std::string PlotScript(const Product& eph, const Product& att, const PlotData& data,
                       std::vector<Plot>& plots, const std::vector<std::string>& outputs)
{
    plots.clear();
    return ScriptWriter(eph, att, data, outputs).Script(plots);
}

namespace {

// A file in memory that gnuplot writes to or reads from through /dev/fd,
// so that it opens no name in any folder. Closed on exec unless passed on;
// numbered from 3 on, clear of the standard streams the child sets up.
int MemoryFile(const char* name)
{
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

bool ReadWhole(int fd, std::string& out)
{
    out.clear();
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
        at += n;
    }
}

bool WriteWhole(int fd, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Closes the descriptors it holds when it goes.
struct Descriptors {
    std::vector<int> fds;
    ~Descriptors()
    {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
};

} // namespace

std::string RunGnuplot(const std::string& dir, size_t plots,
                       const std::function<std::string(const std::vector<std::string>&)>& script,
                       GnuplotRun& run)
{
    run = GnuplotRun();
    Descriptors own;
    const int log = MemoryFile("gnuplot.log");
    own.fds.push_back(log);
    const int text = MemoryFile("qlrplot.gp");
    own.fds.push_back(text);
    std::vector<int> pngs;
    std::vector<std::string> names;
    for (size_t k = 0; k < plots; ++k) {
        pngs.push_back(MemoryFile("plot.png"));
        own.fds.push_back(pngs.back());
        names.push_back("/dev/fd/" + std::to_string(pngs.back()));
    }
    for (int fd : own.fds)
        if (fd < 0) return std::string("cannot make a file in memory for gnuplot: ") + std::strerror(errno);
    if (!WriteWhole(text, script(names)))
        return std::string("cannot hand gnuplot its script: ") + std::strerror(errno);
    const std::string scriptName = "/dev/fd/" + std::to_string(text);

    // gnuplot draws a week in seconds; one that runs for minutes is stuck
    // and is stopped rather than left to hang the run.
    platform::ChildSpec launch;
    launch.argv = {platform::FindOnPath("gnuplot"), scriptName};
    if (launch.argv[0].empty()) return "gnuplot is not installed (Debian: apt-get install gnuplot-nox)";
    launch.out = launch.err = log;
    launch.folder = dir;
    launch.keep = pngs;
    launch.keep.push_back(text);
    launch.limit = kGnuplotSeconds;
    const platform::ChildEnd end = platform::RunChild(launch);
    ReadWhole(log, run.log);
    if (!end.started) return std::string("cannot start gnuplot: ") + std::strerror(end.error);
    if (end.timedOut) return "gnuplot did not finish within " + std::to_string(kGnuplotSeconds) + " s";
    if (end.status != 0) {
        std::istringstream lines(run.log);
        std::string line, last;
        while (std::getline(lines, line))
            if (!line.empty()) last = line;
        return "gnuplot failed" + (last.empty() ? std::string() : ": " + last);
    }
    for (int fd : pngs) {
        run.pngs.emplace_back();
        if (!ReadWhole(fd, run.pngs.back()))
            return std::string("cannot read what gnuplot drew: ") + std::strerror(errno);
    }
    return "";
}

} // namespace quicklook

} // namespace toolkit
