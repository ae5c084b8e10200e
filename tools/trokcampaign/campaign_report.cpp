#include "campaign_report.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "campaign_continuity.h"
#include "campaign_expected.h"
#include "toolkit/time/utcday.h"
#include "platform/atomic_stream.h"
#include "toolkit/cli/shell_quote.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

using toolkit::FixedText;
using toolkit::HtmlText;

const char* OutcomeColour(std::optional<Outcome> outcome)
{
    if (!outcome) return "#9e9e9e";
    switch (*outcome) {
    case Outcome::Ok: return "#2e7d32";
    case Outcome::InputRefused: return "#c62828";
    case Outcome::CheckFailed: return "#ef6c00";
    case Outcome::NoElements: return "#6a1b9a";
    case Outcome::Stopped: return "#1565c0";
    default: return "#9e9e9e";
    }
}

// The colour swatch of an outcome.
std::string Swatch(const char* colour) { return std::string("<span class='sw' style='background:") + colour + "'></span>"; }

// The value range of a trend and how its labels are written.
struct TrendScale {
    double lo = 0, hi = 0;
    bool any = false;
    int decimals = 0;
};

TrendScale Scale(const std::vector<double>& values)
{
    TrendScale s;
    for (double v : values)
        if (std::isfinite(v)) {
            s.lo = s.any ? std::min(s.lo, v) : std::min(0.0, v);
            s.hi = s.any ? std::max(s.hi, v) : std::max(0.0, v);
            s.any = true;
        }
    if (s.hi == s.lo) s.hi = s.lo + 1;
    // Counts are labelled as whole numbers, other values with two decimals
    // when their range is small.
    bool whole = true;
    for (double v : values)
        if (std::isfinite(v) && v != std::floor(v)) whole = false;
    s.decimals = whole || s.hi - s.lo >= 10 ? 0 : 2;
    return s;
}

// A trend over the campaign's days as an SVG picture: one bar per day
// (gaps where a day has no value), the axis labelled with the range.
std::string TrendSvg(const std::string& title, const std::vector<std::string>& dayNames,
                     const std::vector<double>& values)
{
    const double width = 960, height = 170, left = 70, right = 10, top = 24, bottom = 26;
    const TrendScale sc = Scale(values);
    const double n = static_cast<double>(std::max<size_t>(values.size(), 1));
    const double slot = (width - left - right) / n;
    auto y = [&](double v) { return top + (sc.hi - v) / (sc.hi - sc.lo) * (height - top - bottom); };
    std::string s = "<svg xmlns='http://www.w3.org/2000/svg' width='" + FixedText(width, 0) + "' height='" +
                    FixedText(height, 0) + "' viewBox='0 0 " + FixedText(width, 0) + " " + FixedText(height, 0) +
                    "' font-family='sans-serif' font-size='12'>";
    s += "<rect width='100%' height='100%' fill='white'/>";
    s += "<text x='" + FixedText(left, 0) + "' y='15' font-weight='bold'>" + HtmlText(title) + "</text>";
    s += "<line x1='" + FixedText(left, 1) + "' y1='" + FixedText(y(0), 1) + "' x2='" + FixedText(width - right, 1) +
         "' y2='" + FixedText(y(0), 1) + "' stroke='#888'/>";
    for (double v : {sc.hi, sc.lo})
        s += "<text x='" + FixedText(left - 4, 0) + "' y='" + FixedText(y(v) + 4, 1) + "' text-anchor='end'>" +
             HtmlText(FixedText(v, sc.decimals)) + "</text>";
    for (size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) continue;
        const double x = left + slot * static_cast<double>(i);
        const double y0 = y(0), y1 = y(values[i]);
        s += "<rect x='" + FixedText(x + slot * 0.1, 2) + "' y='" + FixedText(std::min(y0, y1), 2) + "' width='" +
             FixedText(std::max(slot * 0.8, 0.5), 2) + "' height='" + FixedText(std::max(std::fabs(y1 - y0), 0.5), 2) +
             "' fill='#3f6fb5'/>";
    }
    if (!dayNames.empty()) {
        s += "<text x='" + FixedText(left, 0) + "' y='" + FixedText(height - 8, 0) + "'>" +
             HtmlText(dayNames.front()) + "</text>";
        s += "<text x='" + FixedText(width - right, 0) + "' y='" + FixedText(height - 8, 0) + "' text-anchor='end'>" +
             HtmlText(dayNames.back()) + "</text>";
    }
    if (!sc.any)
        s += "<text x='" + FixedText(width / 2, 0) + "' y='" + FixedText(height / 2, 0) +
             "' text-anchor='middle' fill='#888'>no values yet</text>";
    return s + "</svg>";
}

std::string Head(const std::string& campaignDir)
{
    return "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'>\n<title>Campaign " +
           HtmlText(campaignDir) + "</title>\n<style>\n"
           "body{font-family:sans-serif;margin:1.5em;color:#222}"
           "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}"
           ".cal td{border:none;padding:1px}.cal a,.cal span.c{display:inline-block;width:14px;height:14px;border-radius:2px}"
           ".cal th{border:none;font-weight:normal;font-size:12px;padding-right:6px}"
           "code{font-size:12px;word-break:break-all}.sw{display:inline-block;width:12px;height:12px;margin-right:4px}"
           "img{display:block;margin:6px 0}\n</style></head><body>\n"
           "<h1>Campaign " + HtmlText(campaignDir) + "</h1>\n";
}

// Where the days' packets come from: an archive, a list, or the recorder
// dumps of an inbox (merged to level 0 in the campaign).
std::string PacketSource(const CampaignSettings& s)
{
    if (!s.archive.empty()) return "Packet files: " + HtmlText(s.archive);
    if (!s.list.empty()) return "Packet files: " + HtmlText(s.list);
    if (!s.inbox.empty()) return "Recorder dumps from " + HtmlText(s.inbox) + ", merged by day";
    return "Packet files: the campaign's recorder dumps, merged by day";
}

std::string Summary(const std::map<std::string, DayRecord>& days, const CampaignSettings& settings)
{
    if (days.empty()) return "";
    return "<p>" + std::to_string(days.size()) + " days, " + HtmlText(days.begin()->first) + " to " +
           HtmlText(days.rbegin()->first) + ". " + PacketSource(settings) +
           "; element sets: " + HtmlText(settings.elements) + "; satellite " + HtmlText(settings.satellite) + ".</p>\n";
}

std::string OutcomeCounts(const std::map<std::string, DayRecord>& days)
{
    std::map<std::string, size_t> counts;
    for (const auto& kv : days) ++counts[kv.second.OutcomeText()];
    std::string h = "<h2>Outcomes</h2>\n<table><tr><th>outcome</th><th>days</th></tr>\n";
    for (Outcome o : kCatalogOutcomes)
        h += "<tr><td>" + Swatch(OutcomeColour(o)) + pipeline::OutcomeName(o) + "</td><td>" +
             std::to_string(counts[pipeline::OutcomeName(o)]) + "</td></tr>\n";
    return h + "</table>\n";
}

// The day's quicklook page as a link: only the page the campaign makes
// (days/DAY/quicklook/report.html), never what else a catalog may hold
// (a javascript: or remote address); "" for none.
std::string QuicklookLink(const std::string& day, const DayRecord& row)
{
    const std::string page = "days/" + day + "/quicklook/report.html";
    return row.quicklook_path.value_or("") == page ? page : "";
}

// One calendar cell: the outcome's colour, the reason and any break on
// hover, a link to the quicklook page when there is one.
std::string CalendarCell(const std::string& day, const DayRecord* row, bool revised)
{
    if (!row) return "<td></td>";
    std::string tip = day + ": " + row->OutcomeText() + (Filled(row->reason) ? ": " + *row->reason : "");
    if (BreaksFromDayBefore(*row)) tip += "; across midnight: " + *row->continuity;
    // A day of dumps: its level marked by the cell's outline.
    std::string mark;
    if (Filled(row->level)) {
        const bool nrt = *row->level != "final";
        tip += "; " + *row->level + " v" + std::to_string(row->version.value_or(0)) + (revised ? ", revised" : "");
        mark = nrt ? ";outline:2px dashed #e69f00" : revised ? ";outline:2px solid #7b3294" : "";
    }
    const std::string style = std::string(" style='background:") + OutcomeColour(row->outcome) + mark + "'";
    const std::string link = QuicklookLink(day, *row);
    if (!link.empty())
        return "<td><a href='" + HtmlText(link) + "' title='" + HtmlText(tip) + "'" + style + "></a></td>";
    return "<td><span class='c' title='" + HtmlText(tip) + "'" + style + "></span></td>";
}

// A row per month, a cell per day of the month.
std::string Calendar(const std::map<std::string, DayRecord>& days, const std::set<std::string>& revised)
{
    std::string h = "<h2>Calendar</h2>\n<table class='cal'>\n<tr><th></th>";
    for (int d = 1; d <= 31; ++d) h += "<th>" + std::to_string(d) + "</th>";
    h += "</tr>\n";
    if (days.empty()) return h + "</table>\n";
    std::string month;
    for (long n = toolkit::DayNumber(days.begin()->first); n <= toolkit::DayNumber(days.rbegin()->first); ++n) {
        const std::string day = toolkit::DayText(n);
        if (day.substr(0, 7) != month) {
            if (!month.empty()) h += "</tr>\n";
            month = day.substr(0, 7);
            h += "<tr><th>" + month + "</th>";
            for (int d = 1; d < std::atoi(day.substr(8, 2).c_str()); ++d) h += "<td></td>";
        }
        const auto it = days.find(day);
        h += CalendarCell(day, it == days.end() ? nullptr : &it->second, revised.count(day) > 0);
    }
    h += "</tr>\n</table>\n";
    for (const auto& kv : days)
        if (Filled(kv.second.level))
            return h + "<p>Outlined: <span class='sw' style='outline:2px dashed #e69f00'></span>nrt (may still receive "
                       "data), <span class='sw' style='outline:2px solid #7b3294'></span>final and revised by a later "
                       "dump; final days are not outlined.</p>\n";
    return h;
}

std::string Trends(const std::map<std::string, DayRecord>& days)
{
    std::vector<std::string> names;
    std::vector<double> records, repaired, gaps, offsets, hazards, ages;
    const double nan = std::nan("");
    for (long n = days.empty() ? 1 : toolkit::DayNumber(days.begin()->first); !days.empty() && n <= toolkit::DayNumber(days.rbegin()->first);
         ++n) {
        const std::string day = toolkit::DayText(n);
        names.push_back(day);
        const auto it = days.find(day);
        const DayRecord* row = it == days.end() ? nullptr : &it->second;
        const bool products = row && row->MadeProducts();
        auto value = [&](auto field) { return products && row->*field ? static_cast<double>(*(row->*field)) : nan; };
        records.push_back(value(&DayRecord::records));
        repaired.push_back(value(&DayRecord::repaired_points));
        gaps.push_back(value(&DayRecord::large_gaps));
        offsets.push_back(value(&DayRecord::max_node_offset_s));
        hazards.push_back(value(&DayRecord::node_hazards));
        ages.push_back(row && row->element_age_days ? *row->element_age_days : nan);
    }
    std::string h = "<h2>Trends</h2>\n";
    const std::pair<const char*, const std::vector<double>*> trends[] = {
        {"Records per day", &records}, {"Repaired points per day", &repaired}, {"Large gaps per day", &gaps},
        {"Largest node offset per day (s, observed crossing minus predicted node)", &offsets},
        {"Orbits numbered from another revolution per day (crossing on the wrong side of its node)", &hazards},
        {"Element-set age per day (days from the data)", &ages}};
    for (const auto& t : trends)
        h += "<img alt='" + HtmlText(t.first) + "' width='960' height='170' src='data:image/svg+xml;base64," +
             toolkit::Base64(TrendSvg(t.first, names, *t.second)) + "'>\n";
    return h;
}

std::string BetweenDays(const std::map<std::string, DayRecord>& days)
{
    std::string breaks;
    for (const auto& kv : days)
        if (BreaksFromDayBefore(kv.second))
            breaks += "<tr><td>" + HtmlText(kv.first) + "</td><td>" + HtmlText(*kv.second.continuity) + "</td></tr>\n";
    return "<h2>Between days</h2>\n" +
           (breaks.empty() ? "<p>Every day continues the day before it (orbit numbers, and time within " +
                                 FixedText(60.0, 0) + " s).</p>\n"
                           : "<table><tr><th>day</th><th>what breaks from the day before</th></tr>\n" + breaks +
                                 "</table>\n");
}

std::string NotOk(const std::map<std::string, DayRecord>& days, const std::string& command)
{
    std::string bad;
    for (const auto& kv : days) {
        const DayRecord& row = kv.second;
        if (row.Is(Outcome::Ok)) continue;
        bad += "<tr><td>" + HtmlText(kv.first) + "</td><td>" + Swatch(OutcomeColour(row.outcome)) +
               HtmlText(row.OutcomeText()) + "</td><td>" + HtmlText(row.reason.value_or("")) + "</td><td><code>" +
               HtmlText(command.empty() ? "" : command + " --redo " + toolkit::ShellQuote(kv.first)) +
               "</code></td></tr>\n";
    }
    return "<h2>Days that are not ok</h2>\n" +
           (bad.empty() ? "<p>None.</p>\n"
                        : "<table><tr><th>day</th><th>outcome</th><th>reason</th><th>redo this day</th></tr>\n" + bad +
                              "</table>\n");
}

std::string QuicklookPages(const std::map<std::string, DayRecord>& days)
{
    std::string looks;
    for (const auto& kv : days)
        if (!QuicklookLink(kv.first, kv.second).empty())
            looks += "<li><a href='" + HtmlText(QuicklookLink(kv.first, kv.second)) + "'>" + HtmlText(kv.first) +
                     "</a></li>\n";
    return looks.empty() ? "" : "<h2>Quicklook pages</h2>\n<ul>\n" + looks + "</ul>\n";
}

// The final days made final again by a later dump (or a reprocessing).
std::set<std::string> Revised(const std::map<std::string, DayRecord>& days, const std::vector<VersionRow>& versions)
{
    std::set<std::string> revised;
    for (const VersionRow& v : versions) {
        const auto it = days.find(v.day);
        if (it != days.end() && it->second.level.value_or("") == "final" && v.level == "final" &&
            v.version < it->second.version.value_or(0))
            revised.insert(v.day);
    }
    return revised;
}

// Each day of dumps: level, version, its dumps, what it still expects.
std::string Versions(const std::map<std::string, DayRecord>& days, const std::vector<VersionRow>& versions,
                     const std::set<std::string>& revised)
{
    std::map<std::pair<std::string, long long>, long long> dumps;
    for (const VersionRow& v : versions) dumps[{v.day, v.version}] = v.dumps;
    std::string rows;
    for (const auto& kv : days) {
        const DayRecord& r = kv.second;
        if (!Filled(r.level)) continue;
        const auto n = dumps.find({kv.first, r.version.value_or(0)});
        std::string expected;
        if (*r.level != "final")
            for (const std::string& m : MissingStretches(r)) expected += (expected.empty() ? "" : ", ") + m;
        rows += "<tr><td>" + HtmlText(kv.first) + "</td><td>" + HtmlText(*r.level) +
                (revised.count(kv.first) ? " (revised)" : "") + "</td><td>" + std::to_string(r.version.value_or(0)) +
                "</td><td>" + (n != dumps.end() ? std::to_string(n->second) : "") + "</td><td>" +
                HtmlText(*r.level == "final" ? "" : expected.empty() ? "nothing missing" : expected) + "</td></tr>\n";
    }
    if (rows.empty()) return "";
    // Latency per version, in the order they were made.
    std::vector<const VersionRow*> made;
    for (const VersionRow& v : versions) made.push_back(&v);
    std::stable_sort(made.begin(), made.end(),
                     [](const VersionRow* a, const VersionRow* b) { return a->made_utc < b->made_utc; });
    std::vector<std::string> names;
    std::vector<double> latency;
    for (const VersionRow* v : made) {
        names.push_back(v->day + " v" + std::to_string(v->version));
        latency.push_back(v->latency_s.value_or(std::nan("")));
    }
    const char* title = "Latency per version (s, from the newest dump's arrival to the products in place)";
    return "<h2>Levels and versions</h2>\n<table><tr><th>day</th><th>level</th><th>version</th><th>dumps</th>"
           "<th>still expected</th></tr>\n" + rows + "</table>\n" +
           (made.empty() ? std::string()
                         : "<img alt='" + HtmlText(title) + "' width='960' height='170' src='data:image/svg+xml;base64," +
                               toolkit::Base64(TrendSvg(title, names, latency)) + "'>\n");
}

} // namespace

std::string ReportHtml(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                       const CampaignSettings& settings, const std::vector<VersionRow>& versions)
{
    const std::set<std::string> revised = Revised(days, versions);
    return Head(campaignDir) + Summary(days, settings) + OutcomeCounts(days) + Calendar(days, revised) +
           Versions(days, versions, revised) + Trends(days) + BetweenDays(days) + NotOk(days, settings.command) +
           QuicklookPages(days) + "</body></html>\n";
}

bool WriteReport(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                 const CampaignSettings& settings, std::string& error, const std::vector<VersionRow>& versions)
{
    return platform::WriteFileAtomically(campaignDir + "/report.html",
                                         ReportHtml(campaignDir, days, settings, versions), error);
}

} // namespace campaign
