// qlrplot: quicklook plots and a one-page report for an ephemeris and
// attitude product pair. Reads both products, writes plot data and a gnuplot
// script to the output directory, runs gnuplot there and assembles
// report.html with the pair check's verdict, a summary and every plot
// embedded, so the page reads without a network.

#include <unistd.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/exit_cleanup.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/output.h"
#include "toolkit/products/productcheck.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/quicklook/quicklook.h"

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

// The files a run may write in its folder: the plots and close-up data
// that a run draws or not, depending on its products (those of an earlier
// run that this one does not draw are removed once this run's files are in
// place), and the others.
const std::vector<std::string> kMaybeDrawn = {"attitude.png", "rates.png", "height.png", "groundtrack.png",
                                              "closeup1.png", "closeup2.png", "closeup3.png",
                                              "closeup1.dat", "closeup2.dat", "closeup3.dat"};
const std::vector<std::string> kOtherFiles = {"series.dat", "marks.dat", "track.dat", "qlrplot.gp",
                                              "gnuplot.log", "report.html"};

std::string InFolder(const std::string& dir, const std::string& name) { return dir + "/" + name; }

// Writes the files (a name in `dir` and its bytes) and gives them their
// names together, once all are whole.
void WriteTogether(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& files)
{
    std::vector<std::unique_ptr<outputstream>> streams;
    std::vector<outputstream*> outs;
    for (const auto& file : files) {
        streams.push_back(std::make_unique<outputstream>());
        OpenOutput(*streams.back(), {"output file", InFolder(dir, file.first)});
        *streams.back() << file.second;
        outs.push_back(streams.back().get());
    }
    CommitOutputs(outs);
}

// Writes the plot data and the script, runs gnuplot on them and checks its
// plots; the plots, as images for the page and as files with gnuplot's log,
// go to `images` and `written`.
void DrawPlots(const std::string& dir, const Product& eph, const Product& att, const PlotData& data,
               std::vector<PlotImage>& images, std::vector<std::pair<std::string, std::string>>& written)
{
    std::vector<Plot> plots;
    std::vector<std::pair<std::string, std::string>> inputs = data.files;
    inputs.push_back({"qlrplot.gp", PlotScript(eph, att, data, plots)});
    WriteTogether(dir, inputs);
    if (plots.empty()) return;
    // gnuplot reads the data files here and gets the same script, its plots
    // going to files in memory.
    GnuplotRun run;
    const std::string failed =
        RunGnuplot(dir, plots.size(),
                   [&](const std::vector<std::string>& to) {
                       std::vector<Plot> same;
                       return PlotScript(eph, att, data, same, to);
                   },
                   run);
    if (!failed.empty()) {
        if (run.log.empty()) Fail(failed);
        WriteTogether(dir, {{"gnuplot.log", run.log}});
        Fail(failed + " (see " + InFolder(dir, "gnuplot.log") + ")");
    }
    for (size_t k = 0; k < plots.size(); ++k) {
        unsigned w = 0, h = 0;
        if (!PngSize(run.pngs[k], w, h)) Fail("gnuplot did not write \"" + InFolder(dir, plots[k].file) + "\"");
        images.push_back({plots[k], run.pngs[k]});
        written.push_back({plots[k].file, run.pngs[k]});
    }
    written.push_back({"gnuplot.log", run.log});
}

// Removes the plots of an earlier run that this one did not draw.
void RemoveUndrawn(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& written,
                   const std::vector<std::pair<std::string, std::string>>& dataFiles)
{
    for (const std::string& name : kMaybeDrawn) {
        bool drawn = false;
        for (const auto& f : written) drawn = drawn || f.first == name;
        for (const auto& f : dataFiles) drawn = drawn || f.first == name;
        if (!drawn) unlink(InFolder(dir, name).c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Temporaries of unfinished outputs go at exit and on a stopping signal.
    platform::InstallExitCleanup();
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

    // No file of the run may be one of the products, nor reached twice.
    std::vector<NamedFile> outputs;
    for (const std::vector<std::string>* list : {&kMaybeDrawn, &kOtherFiles})
        for (const std::string& name : *list) outputs.push_back({"output file", InFolder(dir, name)});
    RefuseClashes({{"ephemeris file", files[0]}, {"attitude file", files[1]}}, outputs);
    OwnFolder(dir);

    const std::string warning = LeapSecondsWarning(SystemLeapSeconds());
    if (!warning.empty()) Warn(warning);

    const std::vector<CheckFinding> findings = CheckProducts(eph, att, CheckOptions());
    PlotData data;
    std::vector<PlotImage> images;
    std::vector<std::pair<std::string, std::string>> written;   // this run's PNGs, log and page
    if (PreparePlotData(eph, att, data)) DrawPlots(dir, eph, att, data, images, written);
    written.push_back({"report.html", ReportPage(eph, att, findings, data.ephGaps, images, warning)});
    WriteTogether(dir, written);
    RemoveUndrawn(dir, written, data.files);

    if (HasFault(findings)) {
        for (const CheckFinding& f : findings)
            if (!f.warning) Say("check failed: " + f.message);
        return kStatusVerdict;
    }
    return kStatusOk;
}
