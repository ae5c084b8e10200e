// qlrplot: quicklook plots and a one-page report for an ephemeris and
// attitude product pair. Reads both products, writes plot data and a gnuplot
// script to the output directory, runs gnuplot there and assembles
// report.html with the pair check's verdict, a summary and every plot
// embedded, so the page reads without a network.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit_civilutc.h"
#include "toolkit_cli.h"
#include "toolkit_productcheck.h"
#include "toolkit_qlrproduct.h"
#include "toolkit_quicklook.h"

using namespace toolkit;
using namespace toolkit::quicklook;

namespace {

const char* const kUsage =
    "usage: qlrplot EPH ATT [-o DIR]\n"
    "Plots an ephemeris and attitude product pair (attitude angles and rates,\n"
    "height above WGS-84, ground track, close-ups of the largest repaired gaps)\n"
    "with gnuplot and writes DIR/report.html (default DIR: the current one)\n"
    "with the pair check, a summary and the plots. Status 1: the pair fails\n"
    "the check (the report says why); 255: unusable input or arguments.\n";

// Writes `text` as the file `name` in `dir`.
void WriteOutput(const std::string& dir, const std::string& name, const std::string& text)
{
    const std::string path = dir + "/" + name;
    std::ofstream f(path, std::ios::trunc | std::ios::binary);
    f << text;
    f.close();
    if (!f) Fail("cannot write \"" + path + "\"");
}

// The PNG gnuplot drew for `plot`.
PlotImage LoadPlot(const std::string& dir, const Plot& plot)
{
    const std::string path = dir + "/" + plot.file;
    std::ifstream f(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << f.rdbuf();
    PlotImage image{plot, bytes.str()};
    unsigned w = 0, h = 0;
    if (!f || !PngSize(image.png, w, h)) Fail("gnuplot did not write \"" + path + "\"");
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    std::string dir = ".";
    CommandLine cl(argc, argv, "qlrplot", kUsage);
    while (cl.Next()) {
        if (cl.Operand()) files.push_back(cl.Arg());
        else if (cl.Is("-o") || cl.Is("--out")) dir = cl.Value("a directory");
        else cl.Unknown();
    }
    if (files.size() != 2) cl.Usage("give an ephemeris and an attitude file");

    Product eph, att;
    std::string error;
    if (!ReadProduct(files[0], ProductKind::Unknown, eph, error)) Fail(error);
    if (!ReadProduct(files[1], ProductKind::Unknown, att, error)) Fail(error);
    if (eph.kind != ProductKind::Ephemeris) Fail(WrongKind(eph, ProductKind::Ephemeris));
    if (att.kind != ProductKind::Attitude) Fail(WrongKind(att, ProductKind::Attitude));

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir)) Fail("cannot make the directory \"" + dir + "\"");

    // Plots of an earlier run that this one might not redraw.
    for (const char* old : {"attitude.png", "rates.png", "height.png", "groundtrack.png", "closeup1.png",
                            "closeup2.png", "closeup3.png", "closeup1.dat", "closeup2.dat", "closeup3.dat"})
        std::filesystem::remove(dir + "/" + old, ec);

    const std::string warning = LeapSecondsWarning(SystemLeapSeconds());
    if (!warning.empty()) Warn(warning);

    const std::vector<CheckFinding> findings = CheckProducts(eph, att, CheckOptions());
    PlotData data;
    std::vector<PlotImage> images;
    if (PreparePlotData(eph, att, data)) {
        std::vector<Plot> plots;
        const std::string script = PlotScript(eph, att, data, plots);
        for (const auto& file : data.files) WriteOutput(dir, file.first, file.second);
        WriteOutput(dir, "qlrplot.gp", script);
        if (!plots.empty()) {
            const std::string failed = RunGnuplot(dir);
            if (!failed.empty()) Fail(failed);
        }
        for (const Plot& p : plots) images.push_back(LoadPlot(dir, p));
    }
    WriteOutput(dir, "report.html", ReportPage(eph, att, findings, data.ephGaps, images, warning));

    if (HasFault(findings)) {
        for (const CheckFinding& f : findings)
            if (!f.warning) Say("check failed: " + f.message);
        return kStatusVerdict;
    }
    return kStatusOk;
}
