// qlrplot's report page: the pair check, a summary, the orbits and the
// plots embedded, in one HTML file that reads without a network.

#include <cmath>
#include <cstdio>
#include <sstream>

#include "toolkit/quicklook/quicklook.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/cli/text.h"
#include "vn_version.h"

namespace toolkit {

namespace quicklook {

namespace {

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

std::string NodeTime(double tai93)
{
    if (!(tai93 >= 0.0) || !std::isfinite(tai93)) return "none";
    return LabelledUtcFromTai93(tai93, 3);
}

// A descending-node longitude beyond a turn is the writers' "no longitude".
std::string NodeLongitude(double radians)
{
    return std::fabs(radians) <= 7 ? FixedText(radians * kDeg, 3) : std::string("none");
}

void Row(std::ostream& os, const std::string& name, const std::string& id, const std::string& value)
{
    os << "<tr><th>" << HtmlText(name) << "</th><td id=\"" << id << "\">" << value << "</td></tr>\n";
}

} // namespace

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

namespace {

void PageHead(std::ostream& os, const Product& eph, const Product& att, const std::string& sc)
{
    os << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       << "<link rel=\"icon\" href=\"data:,\">\n"
       << "<title>Quicklook " << HtmlText(sc) << " - " << HtmlText(eph.path) << "</title>\n"
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
    os << "<h1>Quicklook: " << HtmlText(sc.empty() ? "(no spacecraft name)" : sc) << "</h1>\n";
    os << "<p>Ephemeris <code>" << HtmlText(eph.path) << "</code>, attitude <code>" << HtmlText(att.path)
       << "</code>.</p>\n";
}

// The pair check's verdict, its warnings and the run's note.
void Verdict(std::ostream& os, const std::vector<CheckFinding>& findings, const std::string& note)
{
    if (!HasFault(findings))
        os << "<p class=\"pass\" id=\"verdict\">Pair check passed: the two products agree with each "
              "other and with their headers.</p>\n";
    else {
        os << "<div class=\"fail\" id=\"verdict\"><p>Pair check failed:</p>\n<ul>\n";
        for (const CheckFinding& f : findings)
            if (!f.warning) os << "<li>" << HtmlText(f.message) << "</li>\n";
        os << "</ul></div>\n";
    }
    bool warned = false;
    for (const CheckFinding& f : findings)
        if (f.warning) {
            if (!warned) os << "<div class=\"warn\" id=\"warnings\"><p>Worth knowing:</p>\n<ul>\n";
            warned = true;
            os << "<li>" << HtmlText(f.message) << "</li>\n";
        }
    if (warned) os << "</ul></div>\n";
    if (!note.empty()) os << "<p class=\"fail\">" << HtmlText(note) << "</p>\n";
}

// The element set's epoch and where it lies against the records.
std::string EpochText(const Product& eph)
{
    const auto& r = eph.records;
    if (!(eph.eph.epochTai93 >= 0 && std::isfinite(eph.eph.epochTai93))) return "no element set";
    const double e = eph.eph.epochTai93;
    std::string epoch = LabelledUtcFromTai93(e, 3);
    if (!r.empty()) {
        if (e < r.front().tai93) epoch += ", " + Duration(r.front().tai93 - e) + " before the first record";
        else if (e > r.back().tai93) epoch += ", " + Duration(e - r.back().tai93) + " after the last record";
        else epoch += ", within the data (" + Duration(e - r.front().tai93) + " after the first record)";
    }
    return epoch;
}

void Summary(std::ostream& os, const Product& eph, const Product& att, const std::vector<Gap>& gaps)
{
    const RecordCounts c = CountRecords(eph.records);
    os << "<h2>Summary</h2>\n<table>\n";
    const auto& r = eph.records;
    Row(os, "records", "records", std::to_string(c.records));
    if (!r.empty())
        Row(os, "span", "span",
            HtmlText(LabelledUtcFromTai93(r.front().tai93, 3) + " to " + LabelledUtcFromTai93(r.back().tai93, 3) + " (" +
                 Duration(r.back().tai93 - r.front().tai93) + ")"));
    size_t repairedGaps = 0;
    for (const Gap& g : gaps) repairedGaps += g.kind == 'r';
    Row(os, "repaired points", "repaired",
        std::to_string(c.repaired) + " in " + std::to_string(repairedGaps) + " runs");
    Row(os, "small gaps (repaired)", "small-gaps", std::to_string(c.smallGaps));
    Row(os, "large gaps (left open)", "large-gaps",
        std::to_string(c.largeGaps) +
            (c.largeGaps ? " (" + FixedText(c.largeSeconds, 1) + " s without data)" : std::string()));
    Row(os, "orbits", "orbits",
        std::to_string(eph.orbits.size()) + " (header: first " + std::to_string(eph.eph.firstOrbit) +
            ", last " + std::to_string(eph.eph.lastOrbit) + ")");
    Row(os, "element-set epoch", "epoch", HtmlText(EpochText(eph)));
    Row(os, "attitude axis order", "axis-order",
        std::to_string(att.att.angleOrder[0]) + ", " + std::to_string(att.att.angleOrder[1]) + ", " +
            std::to_string(att.att.angleOrder[2]));
    os << "</table>\n";
}

void OrbitTable(std::ostream& os, const Product& eph)
{
    os << "<h2>Orbits</h2>\n";
    if (eph.orbits.empty()) {
        os << "<p>No orbit records.</p>\n";
        return;
    }
    os << "<table id=\"orbit-table\">\n<tr><th>orbit</th><th>ascending node</th>"
          "<th>descending node</th><th>descending-node longitude (deg)</th></tr>\n";
    for (const OrbitRecord& o : eph.orbits)
        os << "<tr><td>" << o.orbitNo << "</td><td>" << HtmlText(NodeTime(o.ascendingTai93))
           << "</td><td>" << HtmlText(NodeTime(o.descendingTai93)) << "</td><td>"
           << NodeLongitude(o.descendingLongitude)
           << "</td></tr>\n";
    os << "</table>\n";
}

void Plots(std::ostream& os, const std::vector<PlotImage>& images)
{
    os << "<h2>Plots</h2>\n";
    if (images.empty()) os << "<p>No records to plot.</p>\n";
    os << "<p>Time axes in UTC. Red: repaired (interpolated) points; orange circles: records next "
          "to a gap; shaded: large gaps without data. The bars along the top of each panel mark "
          "every gap (red repaired, orange large), stacked so that near-by gaps stay apart; dashed "
          "lines are ascending nodes with their orbit numbers.</p>\n";
    for (const PlotImage& image : images) {
        const Plot& p = image.plot;
        unsigned w = 0, h = 0;
        PngSize(image.png, w, h);
        os << "<figure><img src=\"data:image/png;base64," << Base64(image.png) << "\" width=\"" << w
           << "\" height=\"" << h << "\" alt=\"" << HtmlText(p.caption) << "\"><figcaption>"
           << HtmlText(p.file) << ": " << HtmlText(p.caption) << "</figcaption></figure>\n";
    }
}

} // namespace

std::string ReportPage(const Product& eph, const Product& att,
                       const std::vector<CheckFinding>& findings, const std::vector<Gap>& gaps,
                       const std::vector<PlotImage>& images, const std::string& note)
{
    std::ostringstream os;
    const std::string sc = PrintableField(eph.header.spacecraftId);
    PageHead(os, eph, att, sc);
    Verdict(os, findings, note);
    Summary(os, eph, att, gaps);
    OrbitTable(os, eph);
    Plots(os, images);
    os << "<p><small>Made by qlrplot " << TROK_VERSION << ".</small></p>\n</body>\n</html>\n";
    return os.str();
}

} // namespace quicklook

} // namespace toolkit
