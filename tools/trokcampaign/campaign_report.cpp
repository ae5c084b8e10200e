#include "campaign_report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "campaign_days.h"
#include "campaign_slurm.h"
#include "platform/atomic_stream.h"
#include "platform/path_names.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/json.h"
#include "toolkit/cli/shell_quote.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

const char* OutcomeColour(const std::string& outcome)
{
    if (outcome == "ok") return "#2e7d32";
    if (outcome == "input-refused") return "#c62828";
    if (outcome == "check-failed") return "#ef6c00";
    if (outcome == "no-elements") return "#6a1b9a";
    if (outcome == "stopped") return "#1565c0";
    return "#9e9e9e";
}

// A trend over the campaign's days as an SVG picture: one bar per day
// (gaps where a day has no value), the axis labelled with the range.
std::string TrendSvg(const std::string& title, const std::vector<std::string>& dayNames,
                     const std::vector<double>& values)
{
    const double width = 960, height = 170, left = 70, right = 10, top = 24, bottom = 26;
    double lo = 0, hi = 0;
    bool any = false;
    for (double v : values)
        if (std::isfinite(v)) {
            lo = any ? std::min(lo, v) : std::min(0.0, v);
            hi = any ? std::max(hi, v) : std::max(0.0, v);
            any = true;
        }
    if (hi == lo) hi = lo + 1;
    // Counts are labelled as whole numbers, other values with two decimals
    // when their range is small.
    bool whole = true;
    for (double v : values)
        if (std::isfinite(v) && v != std::floor(v)) whole = false;
    const int decimals = whole || hi - lo >= 10 ? 0 : 2;
    const double n = static_cast<double>(std::max<size_t>(values.size(), 1));
    const double slot = (width - left - right) / n;
    auto y = [&](double v) { return top + (hi - v) / (hi - lo) * (height - top - bottom); };
    std::string s = "<svg xmlns='http://www.w3.org/2000/svg' width='" + toolkit::FixedText(width, 0) + "' height='" +
                    toolkit::FixedText(height, 0) + "' viewBox='0 0 " + toolkit::FixedText(width, 0) + " " + toolkit::FixedText(height, 0) +
                    "' font-family='sans-serif' font-size='12'>";
    s += "<rect width='100%' height='100%' fill='white'/>";
    s += "<text x='" + toolkit::FixedText(left, 0) + "' y='15' font-weight='bold'>" + toolkit::HtmlText(title) + "</text>";
    s += "<line x1='" + toolkit::FixedText(left, 1) + "' y1='" + toolkit::FixedText(y(0), 1) + "' x2='" + toolkit::FixedText(width - right, 1) + "' y2='" +
         toolkit::FixedText(y(0), 1) + "' stroke='#888'/>";
    s += "<text x='" + toolkit::FixedText(left - 4, 0) + "' y='" + toolkit::FixedText(y(hi) + 4, 1) + "' text-anchor='end'>" +
         toolkit::HtmlText(toolkit::FixedText(hi, decimals)) + "</text>";
    s += "<text x='" + toolkit::FixedText(left - 4, 0) + "' y='" + toolkit::FixedText(y(lo) + 4, 1) + "' text-anchor='end'>" +
         toolkit::HtmlText(toolkit::FixedText(lo, decimals)) + "</text>";
    for (size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) continue;
        const double x = left + slot * static_cast<double>(i);
        const double y0 = y(0), y1 = y(values[i]);
        s += "<rect x='" + toolkit::FixedText(x + slot * 0.1, 2) + "' y='" + toolkit::FixedText(std::min(y0, y1), 2) + "' width='" +
             toolkit::FixedText(std::max(slot * 0.8, 0.5), 2) + "' height='" + toolkit::FixedText(std::max(std::fabs(y1 - y0), 0.5), 2) +
             "' fill='#3f6fb5'/>";
    }
    if (!dayNames.empty()) {
        s += "<text x='" + toolkit::FixedText(left, 0) + "' y='" + toolkit::FixedText(height - 8, 0) + "'>" + toolkit::HtmlText(dayNames.front()) + "</text>";
        s += "<text x='" + toolkit::FixedText(width - right, 0) + "' y='" + toolkit::FixedText(height - 8, 0) + "' text-anchor='end'>" +
             toolkit::HtmlText(dayNames.back()) + "</text>";
    }
    if (!any)
        s += "<text x='" + toolkit::FixedText(width / 2, 0) + "' y='" + toolkit::FixedText(height / 2, 0) +
             "' text-anchor='middle' fill='#888'>no values yet</text>";
    return s + "</svg>";
}

std::string Setting(const std::map<std::string, std::string>& settings, const std::string& key)
{
    auto it = settings.find(key);
    return it == settings.end() ? std::string() : it->second;
}

} // namespace

std::string ReportHtml(const std::string& campaignDir, const std::map<std::string, DayRow>& days,
                       const std::map<std::string, std::string>& settings)
{
    std::map<std::string, size_t> counts;
    for (const auto& kv : days) ++counts[kv.second.Get(C_outcome)];
    std::string h = "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'>\n<title>Campaign " +
                    toolkit::HtmlText(campaignDir) + "</title>\n<style>\n"
                    "body{font-family:sans-serif;margin:1.5em;color:#222}"
                    "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}"
                    ".cal td{border:none;padding:1px}.cal a,.cal span.c{display:inline-block;width:14px;height:14px;border-radius:2px}"
                    ".cal th{border:none;font-weight:normal;font-size:12px;padding-right:6px}"
                    "code{font-size:12px;word-break:break-all}.sw{display:inline-block;width:12px;height:12px;margin-right:4px}"
                    "img{display:block;margin:6px 0}\n</style></head><body>\n";
    h += "<h1>Campaign " + toolkit::HtmlText(campaignDir) + "</h1>\n";
    if (!days.empty())
        h += "<p>" + std::to_string(days.size()) + " days, " + toolkit::HtmlText(days.begin()->first) + " to " +
             toolkit::HtmlText(days.rbegin()->first) + ". Packet files: " +
             toolkit::HtmlText(!Setting(settings, "archive").empty() ? Setting(settings, "archive") : Setting(settings, "list")) +
             "; element sets: " + toolkit::HtmlText(Setting(settings, "elements")) + "; satellite " +
             toolkit::HtmlText(Setting(settings, "satellite")) + ".</p>\n";

    h += "<h2>Outcomes</h2>\n<table><tr><th>outcome</th><th>days</th></tr>\n";
    for (const char* o : kOutcomes)
        h += std::string("<tr><td><span class='sw' style='background:") + OutcomeColour(o) + "'></span>" + o +
             "</td><td>" + std::to_string(counts[o]) + "</td></tr>\n";
    h += "</table>\n";

    // Calendar: a row per month, a cell per day of the month.
    h += "<h2>Calendar</h2>\n<table class='cal'>\n<tr><th></th>";
    for (int d = 1; d <= 31; ++d) h += "<th>" + std::to_string(d) + "</th>";
    h += "</tr>\n";
    if (!days.empty()) {
        const long first = DayNumber(days.begin()->first), last = DayNumber(days.rbegin()->first);
        std::string month;
        for (long n = first; n <= last; ++n) {
            const std::string day = DayText(n);
            if (day.substr(0, 7) != month) {
                if (!month.empty()) h += "</tr>\n";
                month = day.substr(0, 7);
                h += "<tr><th>" + month + "</th>";
                for (int d = 1; d < std::atoi(day.substr(8, 2).c_str()); ++d) h += "<td></td>";
            }
            auto it = days.find(day);
            if (it == days.end()) {
                h += "<td></td>";
                continue;
            }
            const DayRow& row = it->second;
            const std::string outcome = row.Get(C_outcome);
            std::string tip = day + ": " + outcome + (row.Has(C_reason) ? ": " + row.Get(C_reason) : "");
            if (row.Has(C_continuity) && row.Get(C_continuity) != "ok" && row.Get(C_continuity) != "first day")
                tip += "; across midnight: " + row.Get(C_continuity);
            const std::string style = std::string(" style='background:") + OutcomeColour(outcome) + "'";
            if (row.Has(C_quicklook_path))
                h += "<td><a href='" + toolkit::HtmlText(row.Get(C_quicklook_path)) + "' title='" + toolkit::HtmlText(tip) + "'" +
                     style + "></a></td>";
            else
                h += "<td><span class='c' title='" + toolkit::HtmlText(tip) + "'" + style + "></span></td>";
        }
        h += "</tr>\n";
    }
    h += "</table>\n";

    // Trends.
    std::vector<std::string> names;
    std::vector<double> records, repaired, gaps, offsets, hazards, ages;
    const double nan = std::nan("");
    if (!days.empty()) {
        for (long n = DayNumber(days.begin()->first); n <= DayNumber(days.rbegin()->first); ++n) {
            const std::string day = DayText(n);
            names.push_back(day);
            auto it = days.find(day);
            const DayRow* row = it == days.end() ? nullptr : &it->second;
            auto val = [&](Column c) { return row && row->Has(c) ? row->Num(c) : nan; };
            const bool products = row && (row->Get(C_outcome) == "ok" || row->Get(C_outcome) == "check-failed");
            records.push_back(products ? val(C_records) : nan);
            repaired.push_back(products ? val(C_repaired_points) : nan);
            gaps.push_back(products ? val(C_large_gaps) : nan);
            offsets.push_back(products ? val(C_max_node_offset_s) : nan);
            hazards.push_back(products ? val(C_node_hazards) : nan);
            ages.push_back(val(C_element_age_days));
        }
    }
    h += "<h2>Trends</h2>\n";
    const std::pair<const char*, const std::vector<double>*> trends[] = {
        {"Records per day", &records}, {"Repaired points per day", &repaired}, {"Large gaps per day", &gaps},
        {"Largest node offset per day (s, observed crossing minus predicted node)", &offsets},
        {"Orbits numbered from another revolution per day (crossing on the wrong side of its node)", &hazards},
        {"Element-set age per day (days from the data)", &ages}};
    for (const auto& t : trends)
        h += "<img alt='" + toolkit::HtmlText(t.first) + "' width='960' height='170' src='data:image/svg+xml;base64," +
             toolkit::Base64(TrendSvg(t.first, names, *t.second)) + "'>\n";

    // Breaks between days.
    std::string breaks;
    for (const auto& kv : days) {
        const std::string c = kv.second.Get(C_continuity);
        if (c.empty() || c == "ok" || c == "first day") continue;
        breaks += "<tr><td>" + toolkit::HtmlText(kv.first) + "</td><td>" + toolkit::HtmlText(c) + "</td></tr>\n";
    }
    h += "<h2>Between days</h2>\n";
    h += breaks.empty() ? "<p>Every day continues the day before it (orbit numbers, and time within " +
                              toolkit::FixedText(60.0, 0) + " s).</p>\n"
                        : "<table><tr><th>day</th><th>what breaks from the day before</th></tr>\n" + breaks + "</table>\n";

    // Days that are not ok.
    std::string bad;
    const std::string command = Setting(settings, "command");
    for (const auto& kv : days) {
        const DayRow& row = kv.second;
        if (row.Get(C_outcome) == "ok") continue;
        bad += "<tr><td>" + toolkit::HtmlText(kv.first) + "</td><td><span class='sw' style='background:" +
               OutcomeColour(row.Get(C_outcome)) + "'></span>" + toolkit::HtmlText(row.Get(C_outcome)) + "</td><td>" +
               toolkit::HtmlText(row.Get(C_reason)) + "</td><td><code>" +
               toolkit::HtmlText(command.empty() ? "" : command + " --redo " + toolkit::ShellQuote(kv.first)) + "</code></td></tr>\n";
    }
    h += "<h2>Days that are not ok</h2>\n";
    h += bad.empty() ? "<p>None.</p>\n"
                     : "<table><tr><th>day</th><th>outcome</th><th>reason</th><th>redo this day</th></tr>\n" + bad +
                           "</table>\n";

    std::string looks;
    for (const auto& kv : days)
        if (kv.second.Has(C_quicklook_path))
            looks += "<li><a href='" + toolkit::HtmlText(kv.second.Get(C_quicklook_path)) + "'>" + toolkit::HtmlText(kv.first) +
                     "</a></li>\n";
    if (!looks.empty()) h += "<h2>Quicklook pages</h2>\n<ul>\n" + looks + "</ul>\n";
    h += "</body></html>\n";
    return h;
}

bool WriteReport(const std::string& campaignDir, const std::map<std::string, DayRow>& days,
                 const std::map<std::string, std::string>& settings, std::string& error)
{
    return platform::WriteFileAtomically(campaignDir + "/report.html", ReportHtml(campaignDir, days, settings), error);
}

namespace {

// The catalog of an existing campaign, with what a Slurm job left running
// by run --no-wait has finished folded in when no other trokcampaign holds
// the campaign (otherwise only looked at).
void OpenExisting(const std::string& campaign, Catalog& catalog, std::map<std::string, DayRow>& days,
                  SlurmView& view)
{
    std::string error;
    const std::string dir = platform::AbsolutePath(campaign);
    const std::string path = dir + "/catalog.sqlite";
    struct stat st;
    if (stat(path.c_str(), &st) != 0) toolkit::Fail(campaign + ": not a campaign (no catalog.sqlite)");
    if (!catalog.Open(path, false, error) || !catalog.LoadDays(days, error)) toolkit::Fail(path + ": " + error);

    const int lock = open((dir + "/run/lock").c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const bool mine = lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0;
    std::string why;
    if (!ReconcileSlurm(catalog, dir, days, mine, view, why))
        toolkit::Warn(campaign + ": " + why + "; the catalog as it stands");
    if (lock >= 0) close(lock);
}

// status --json: the counts, the Slurm job, and every column of every day.
std::string StatusJson(const std::string& campaign, const std::map<std::string, DayRow>& days,
                       std::map<std::string, size_t>& counts, const SlurmView& view,
                       const std::vector<std::string>& queued, const std::vector<std::string>& running)
{
    std::string out = "{\"campaign\": " + toolkit::JsonString(platform::AbsolutePath(campaign)) + ", \"days_total\": " +
                      std::to_string(days.size()) + ", \"counts\": {";
    for (size_t i = 0; i < 6; ++i)
        out += std::string(i ? ", " : "") + toolkit::JsonString(kOutcomes[i]) + ": " +
               std::to_string(counts[kOutcomes[i]]);
    out += "}, \"slurm\": ";
    if (view.active) {
        auto list = [](const std::vector<std::string>& v) {
            std::string l = "[";
            for (size_t i = 0; i < v.size(); ++i) l += (i ? ", " : "") + toolkit::JsonString(v[i]);
            return l + "]";
        };
        out += "{\"job_id\": " + toolkit::JsonString(view.jobId) + ", \"queued\": " + list(queued) +
               ", \"running\": " + list(running) + "}";
    } else {
        out += "null";
    }
    out += ", \"days\": [";
    bool firstRow = true;
    for (const auto& kv : days) {
        out += firstRow ? "\n  {" : ",\n  {";
        firstRow = false;
        for (int c = 0; c < kColumns; ++c) {
            out += std::string(c ? ", " : "") + toolkit::JsonString(kColumnInfo[c].name) + ": ";
            const auto& v = kv.second.v[c];
            if (!v || (kColumnInfo[c].type != 'T' && v->empty())) out += "null";
            else if (kColumnInfo[c].type == 'T') out += toolkit::JsonString(*v);
            else out += *v;
        }
        out += "}";
    }
    out += days.empty() ? "]}\n" : "\n]}\n";
    return out;
}

// status: the counts, the Slurm job, and the days that are not ok or do
// not continue from the day before.
std::string StatusText(const std::map<std::string, DayRow>& days, std::map<std::string, size_t>& counts,
                       const SlurmView& view, const std::vector<std::string>& queued,
                       const std::vector<std::string>& running)
{
    std::string out;
    if (!days.empty())
        out += std::to_string(days.size()) + " days, " + days.begin()->first + " to " + days.rbegin()->first + "\n";
    for (const char* o : kOutcomes) out += std::string(o) + " " + std::to_string(counts[o]) + "\n";
    if (view.active)
        out += "Slurm job " + view.jobId + ": " + std::to_string(queued.size()) + " days queued, " +
               std::to_string(running.size()) + " running, " + std::to_string(view.finished) + " finished\n";
    for (const auto& kv : days) {
        const DayRow& row = kv.second;
        if (row.Get(C_outcome) != "ok") out += kv.first + " " + row.Get(C_outcome) + ": " + row.Get(C_reason) + "\n";
        const std::string c = row.Get(C_continuity);
        if (!c.empty() && c != "ok" && c != "first day") out += kv.first + " continuity: " + c + "\n";
    }
    return out;
}

} // namespace

int StatusCommand(const std::string& campaign, bool json)
{
    Catalog catalog;
    std::map<std::string, DayRow> days;
    SlurmView view;
    OpenExisting(campaign, catalog, days, view);
    std::map<std::string, size_t> counts;
    for (const auto& kv : days) ++counts[kv.second.Get(C_outcome)];
    std::vector<std::string> queued, running;
    for (const auto& w : view.waiting) (w.second == "queued" ? queued : running).push_back(w.first);
    toolkit::PrintOut(json ? StatusJson(campaign, days, counts, view, queued, running)
                           : StatusText(days, counts, view, queued, running));
    toolkit::FinishOutput();
    return 0;
}

std::map<std::string, std::string> ReportSettings(Catalog& catalog)
{
    std::map<std::string, std::string> settings;
    for (const char* key : {"archive", "list", "elements", "satellite", "command"}) settings[key] = catalog.Setting(key);
    return settings;
}

int ReportCommand(const std::string& campaign)
{
    Catalog catalog;
    std::map<std::string, DayRow> days;
    SlurmView view;
    OpenExisting(campaign, catalog, days, view);
    std::string error;
    if (!WriteReport(platform::AbsolutePath(campaign), days, ReportSettings(catalog), error))
        toolkit::Fail(campaign + "/report.html: cannot write: " + error);
    return 0;
}

} // namespace campaign
