#ifndef TOOLKIT_QUICKLOOK_H
#define TOOLKIT_QUICKLOOK_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/quicklook/geodetic.h"
#include "toolkit/products/productcheck.h"
#include "toolkit/products/qlrproduct.h"
#include "vn_class_quality_flags.h"

namespace toolkit {

// qlrplot's quicklook of a product pair in three parts: the data it plots
// (quicklook_data.cpp), the gnuplot script that draws them
// (quicklook_script.cpp) and the report page around the plots
// (quicklook_report.cpp).
namespace quicklook {

// ---- shared ---------------------------------------------------------------

// Degrees in a radian.
constexpr double kDeg = 57.29577951308232;

// Records next to a gap, marked in every plot.
constexpr uint32_t kGapSide =
    quality_flags::lgb | quality_flags::sgb | quality_flags::sgf | quality_flags::lgf;

// UTC of a TAI93 instant as seconds since 1970 without leap seconds (the
// time scale gnuplot's date axes count in), from the system leap-second
// table; where the table cannot place the instant, from trokproc's own
// TAI-UTC model.
double UnixUtc(double tai93);

// Times a record can sensibly hold: 1958 to 2099. A damaged time outside
// them is left out of the plots (the pair check reports it) rather than
// stretching the axes over millennia.
bool Plottable(double tai93);

// The nominal record spacing: the header's interval when sensible, else 1 s.
double Spacing(const Product& p);

// A run of records without data around it: `kind` 'r' for repaired points
// (first to last repaired record), 'l' for a large gap (the record before it
// to the one after).
struct Gap {
    char kind = 'r';
    double t0 = 0, t1 = 0;   // TAI93
    size_t first = 0, last = 0, points = 0;
};

// The gaps of a product's records in time order.
std::vector<Gap> FindGaps(const std::vector<ProductRecord>& records);

// ---- the data -------------------------------------------------------------

// A close-up of a repaired gap: the gap, the span shown (TAI93) and which
// of its four panels (angles 1 to 3, height) have values.
struct CloseUp {
    Gap gap;
    double from = 0, to = 0;
    bool hasData[4] = {false, false, false, false};
};

// What the plots are drawn from.
struct PlotData {
    double t0 = 0, t1 = 0;   // the plotted span, Unix UTC seconds
    std::vector<Gap> ephGaps, attGaps;
    // Which series have values: angles 1 to 3, rates 1 to 3, height.
    bool hasData[7] = {false, false, false, false, false, false, false};
    std::vector<Geodetic> geo;   // under each ephemeris record
    std::vector<CloseUp> closeUps;
    // The data files gnuplot reads, by name: series.dat, marks.dat,
    // track.dat and closeup1.dat ... for the close-ups.
    std::vector<std::pair<std::string, std::string>> files;
};

// The plot data of a pair; false when no record has a plottable time, so
// that there is nothing to plot.
bool PreparePlotData(const Product& eph, const Product& att, PlotData& data);

// ---- the script -----------------------------------------------------------

// One plot gnuplot draws: its PNG file and the caption the report gives it.
struct Plot {
    std::string file, caption;
};

// The gnuplot script (qlrplot.gp) that draws the plots from the data files,
// and in `plots` the plots it draws, in the report's order. Each plot goes
// to its PNG file in the script's folder; with `outputs`, the k-th plot
// goes to outputs[k] instead (the script that RunGnuplot runs).
std::string PlotScript(const Product& eph, const Product& att, const PlotData& data,
                       std::vector<Plot>& plots, const std::vector<std::string>& outputs = {});

// gnuplot's text form of a string, the one way any text reaches the script:
// in single quotes, where gnuplot runs no back-quoted command and takes a
// backslash as itself, with each quote doubled and control characters as
// blanks, so that a line of the script stays one line. The terminals are
// set to noenhanced, so that no text is read as markup (an underscore in a
// file name is an underscore).
std::string GnuplotQuoted(const std::string& s);

// What gnuplot drew: each plot's PNG, in the order of the script's plots,
// and its messages.
struct GnuplotRun {
    std::vector<std::string> pngs;
    std::string log;
};

// Runs gnuplot in folder `dir`, where it reads the data files, on the
// script that `script` writes for the given outputs of its `plots` plots.
// gnuplot opens no name there: its script, its PNGs and its messages are
// files in memory, passed to it as /dev/fd/N, and come back in `run`. ""
// when it succeeded, else why not (run.log then holds what gnuplot said).
// A gnuplot that runs for minutes is stopped.
std::string RunGnuplot(const std::string& dir, size_t plots,
                       const std::function<std::string(const std::vector<std::string>&)>& script,
                       GnuplotRun& run);

// ---- the report -----------------------------------------------------------

// A drawn plot with its PNG bytes.
struct PlotImage {
    Plot plot;
    std::string png;
};

// Width and height of a PNG from its header; false when it is not one.
bool PngSize(const std::string& bytes, unsigned& width, unsigned& height);

// report.html: the pair check's verdict and warnings, `note` (a warning of
// the run, when not empty), a summary, the orbits and every plot embedded,
// so that the page reads without a network. Every image must be a PNG.
std::string ReportPage(const Product& eph, const Product& att,
                       const std::vector<CheckFinding>& findings, const std::vector<Gap>& ephGaps,
                       const std::vector<PlotImage>& images, const std::string& note);

} // namespace quicklook

} // namespace toolkit

#endif
