#include "campaign_day_record.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "toolkit/products/qlrproduct.h"

namespace campaign {

namespace {

using pipeline::DayRun;
using pipeline::Ending;

std::string StopReason(const DayRun& run)
{
    if (run.outcome == Outcome::TimeLimit) return "stopped at the time limit (SIGTERM) while " + run.during + " ran";
    return "stopped by signal " + std::to_string(run.signal) + " while " + run.during + " ran";
}

// The check's first fault (and how many more), or why there is no verdict.
std::string CheckReason(const DayRun& run)
{
    const pipeline::CheckReport& c = run.report;
    if (!c.verdict) return "the check gave no verdict (" + Ending(run.check.end) + ")";
    if (c.faults.empty()) return "no reason given";
    return c.faults.front() + (c.faults.size() > 1 ? " (and " + std::to_string(c.faults.size() - 1) + " more)" : "");
}

// The check's node offsets: the largest, the orbits numbered from another
// revolution, the first and last crossing, and how the first and last
// orbit are numbered.
void RecordNodes(const pipeline::CheckReport& c, DayRecord& r, std::vector<Node>& nodes)
{
    if (c.nodes.empty()) return;
    double largest = 0;
    long long hazards = 0;
    for (const pipeline::CheckReport::Node& n : c.nodes) {
        if (std::fabs(n.offsetSeconds) > std::fabs(largest)) largest = n.offsetSeconds;
        hazards += n.numbering != 0;
        nodes.push_back({n.orbit, n.record, n.offsetSeconds, n.numbering != 0});
    }
    r.max_node_offset_s = Finite(Rounded(largest, 3));
    r.node_hazards = hazards;
    r.first_crossing_tai93 = Finite(Rounded(c.nodes.front().crossingTai93, 6));
    r.last_crossing_tai93 = Finite(Rounded(c.nodes.back().crossingTai93, 6));
    r.last_orbit_numbering = c.nodes.back().numbering;
    if (c.firstOrbitNumbering) r.first_orbit_numbering = *c.firstOrbitNumbering;
}

void RecordCheck(const DayRun& run, const std::string& eph, DayRecord& r, std::vector<Node>& nodes)
{
    if (run.report.verdict) RecordNodes(run.report, r, nodes);
    std::string numbering;
    for (const std::string& w : run.report.numbering) numbering += (numbering.empty() ? "" : "\n") + w;
    if (!numbering.empty()) r.numbering_warnings = numbering;
    RecordProductCounts(eph, r);
    const bool passed = run.report.verdict && run.report.passed && run.check.end.status == 0;
    r.outcome = passed ? Outcome::Ok : Outcome::CheckFailed;
    if (!passed) r.reason = "check failed: " + CheckReason(run);
}

// A program that could not write its files for want of space: the day is
// no-space, with the program's message.
bool NoSpaceFor(const pipeline::Step& step, const std::string& what, DayRecord& r)
{
    if (!NoSpaceText(step.said)) return false;
    r.outcome = Outcome::NoSpace;
    r.reason = "no space for " + what + ": " + pipeline::FirstMessage(step.said);
    return true;
}

void RecordExports(const DayRun& run, const std::string& rel, const std::string& day, DayRecord& r)
{
    if (run.outcome == Outcome::CheckFailed) {
        if (NoSpaceFor(run.oem, "the exports", r) || NoSpaceFor(run.aem, "the exports", r)) return;
        const bool oemRefused = run.oem.end.status != 0;
        r.outcome = Outcome::CheckFailed;
        r.reason = std::string(oemRefused ? "OEM" : "AEM") + " export refused (status " +
                   std::to_string(oemRefused ? run.oem.end.status : run.aem.end.status) + "; see " + rel + "/" + day +
                   ".log)";
        return;
    }
    r.oem_path = rel + "/" + day + ".oem";
    r.aem_path = rel + "/" + day + ".aem";
}

// A stop while `step` ran ends the record there.
bool StoppedIn(const DayRun& run, const char* step, DayRecord& r)
{
    if (!run.signal || run.during != step) return false;
    r.outcome = Outcome::Stopped;
    r.reason = StopReason(run);
    return true;
}

} // namespace

void RecordProductCounts(const std::string& ephemeris, DayRecord& r)
{
    toolkit::Product product;
    std::string error;
    if (!toolkit::ReadProduct(ephemeris, toolkit::ProductKind::Ephemeris, product, error)) return;
    const toolkit::RecordCounts counts = toolkit::CountRecords(product.records);
    r.records = static_cast<long long>(counts.records);
    r.repaired_points = static_cast<long long>(counts.repaired);
    r.large_gaps = static_cast<long long>(counts.largeGaps);
    r.orbits = static_cast<long long>(product.orbits.size());
    if (product.orbits.empty()) return;
    r.first_orbit = product.orbits.front().orbitNo;
    r.last_orbit = product.orbits.back().orbitNo;
    r.first_node_tai93 = Finite(Rounded(product.orbits.front().ascendingTai93, 6));
    r.last_node_tai93 = Finite(Rounded(product.orbits.back().ascendingTai93, 6));
}

bool NoSpaceText(const std::string& text)
{
    return text.find(std::strerror(ENOSPC)) != std::string::npos ||
           text.find(std::strerror(EDQUOT)) != std::string::npos;
}

void RecordPrograms(const DayRun& run, const std::string& madeEph, const std::string& day, DayRecord& r,
                    std::vector<Node>& nodes)
{
    const std::string rel = "days/" + day;
    r.trokproc_seconds = Rounded(run.trokproc.end.seconds, 3);
    if (run.outcome == Outcome::InputRefused || run.outcome == Outcome::Failed) {
        const std::string message = pipeline::FirstMessage(run.trokproc.said);
        // Its products in the campaign's own folder could not be written:
        // the file system, not the input (trokproc names no reason).
        if (message.rfind("File Write failed for", 0) == 0 || NoSpaceText(run.trokproc.said)) {
            r.outcome = Outcome::NoSpace;
            r.reason = "trokproc could not write the products (a full file system?): " + message;
            return;
        }
        r.outcome = Outcome::InputRefused;
        r.reason = "trokproc refused the input (" + Ending(run.trokproc.end) + "): " +
                   (message.empty() ? "no message" : message);
        return;
    }
    if (StoppedIn(run, "trokproc", r)) return;
    r.eph_path = rel + "/" + day + ".eph";
    r.att_path = rel + "/" + day + ".att";
    r.check_seconds = Rounded(run.check.end.seconds, 3);
    if (StoppedIn(run, "the check", r)) return;
    RecordCheck(run, madeEph, r, nodes);
    if (run.oem.Ran()) {
        r.export_seconds = Rounded(run.oem.end.seconds + (run.aem.Ran() ? run.aem.end.seconds : 0), 3);
        if (StoppedIn(run, "an export", r)) return;
        RecordExports(run, rel, day, r);
    }
    if (!run.plot.Ran()) return;
    r.plot_seconds = Rounded(run.plot.end.seconds, 3);
    if (StoppedIn(run, "qlrplot", r)) return;
    if (NoSpaceFor(run.plot, "the quicklook page", r)) return;
    if (run.quicklookMade) r.quicklook_path = rel + "/quicklook/report.html";
    else if (r.Is(Outcome::Ok))
        r.reason = "no quicklook page: qlrplot ended with status " + std::to_string(run.plot.end.status);
}

} // namespace campaign
