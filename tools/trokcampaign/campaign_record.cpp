#include "campaign_record.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "toolkit/cli/json_writer.h"
#include "toolkit/cli/tab_fields.h"
#include "toolkit/cli/text.h"

namespace campaign {

const Outcome kCatalogOutcomes[7] = {Outcome::Ok,      Outcome::InputRefused, Outcome::CheckFailed,
                                     Outcome::NoElements, Outcome::Stopped,   Outcome::NoSpace,
                                     Outcome::Missing};

namespace {

// A column of the field `f` (the name is the field's).
#define COLUMN(f) Column{#f, &DayRecord::f, 0}
#define REAL(f, decimals) Column{#f, &DayRecord::f, decimals}

// The reals keep microseconds of TAI93 seconds, four decimals of days and
// milliseconds of durations.
const std::vector<Column> kColumns = {
    COLUMN(day), COLUMN(outcome), COLUMN(reason),
    COLUMN(packet_path), COLUMN(packet_size), COLUMN(packet_sha256), COLUMN(packet_signature),
    REAL(first_packet_tai93, 6), REAL(last_packet_tai93, 6), COLUMN(first_packet_utc), COLUMN(last_packet_utc),
    COLUMN(element_name), COLUMN(element_line1), COLUMN(element_line2), COLUMN(element_sha256),
    REAL(element_epoch_tai93, 6), COLUMN(element_epoch_utc), COLUMN(element_number), REAL(element_age_days, 4),
    COLUMN(config_sha256), COLUMN(versions), COLUMN(versions_sha256),
    COLUMN(engine), COLUMN(job_id), COLUMN(host), COLUMN(run_id),
    COLUMN(records), COLUMN(repaired_points), COLUMN(large_gaps), COLUMN(orbits), COLUMN(first_orbit),
    COLUMN(last_orbit),
    REAL(first_node_tai93, 6), REAL(last_node_tai93, 6), REAL(max_node_offset_s, 3), COLUMN(node_hazards),
    REAL(first_crossing_tai93, 6), REAL(last_crossing_tai93, 6), COLUMN(first_orbit_numbering),
    COLUMN(last_orbit_numbering), COLUMN(numbering_warnings),
    COLUMN(continuity), REAL(step_s, 3),
    COLUMN(eph_path), COLUMN(eph_sha256), COLUMN(att_path), COLUMN(att_sha256),
    COLUMN(oem_path), COLUMN(oem_sha256), COLUMN(aem_path), COLUMN(aem_sha256),
    COLUMN(quicklook_path), COLUMN(products_signature), COLUMN(manifest_sha256), COLUMN(result_sha256),
    COLUMN(started_utc), COLUMN(finished_utc), REAL(seconds, 3), REAL(trokproc_seconds, 3),
    REAL(check_seconds, 3), REAL(export_seconds, 3), REAL(plot_seconds, 3),
    COLUMN(level), COLUMN(version), COLUMN(gaps),
};

#undef COLUMN
#undef REAL

template <class... F>
struct Visitor : F... {
    using F::operator()...;
};
template <class... F>
Visitor(F...) -> Visitor<F...>;

Integer IntegerOf(const std::string& text)
{
    long long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() ? Integer(v) : std::nullopt;
}

Real RealOf(const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' ? Finite(v) : std::nullopt;
}

} // namespace

Real Finite(double value) { return std::isfinite(value) ? Real(value) : std::nullopt; }

double Rounded(double value, int decimals) { return std::strtod(toolkit::FixedText(value, decimals).c_str(), nullptr); }

const std::vector<Column>& Columns() { return kColumns; }

const char* Column::SqlType() const
{
    return std::holds_alternative<Integer DayRecord::*>(field) ? "INTEGER"
           : std::holds_alternative<Real DayRecord::*>(field)  ? "REAL"
                                                                : "TEXT";
}

std::optional<std::string> ColumnText(const DayRecord& r, const Column& c)
{
    return std::visit(
        Visitor{[&](std::string DayRecord::*f) -> Text { return r.*f; },
                [&](std::optional<Outcome> DayRecord::*f) -> Text {
                    return (r.*f) ? Text(pipeline::OutcomeName(*(r.*f))) : std::nullopt;
                },
                [&](Text DayRecord::*f) { return r.*f; },
                [&](Integer DayRecord::*f) -> Text { return (r.*f) ? Text(std::to_string(*(r.*f))) : std::nullopt; },
                [&](Real DayRecord::*f) -> Text {
                    return (r.*f) ? Text(toolkit::FixedText(*(r.*f), c.decimals)) : std::nullopt;
                }},
        c.field);
}

void SetColumnText(DayRecord& r, const Column& c, const std::optional<std::string>& text)
{
    std::visit(Visitor{[&](std::string DayRecord::*f) { r.*f = text.value_or(""); },
                       [&](std::optional<Outcome> DayRecord::*f) {
                           Outcome o;
                           r.*f = text && pipeline::ParseOutcome(*text, o) ? std::optional<Outcome>(o) : std::nullopt;
                       },
                       [&](Text DayRecord::*f) { r.*f = text; },
                       [&](Integer DayRecord::*f) { r.*f = text ? IntegerOf(*text) : std::nullopt; },
                       [&](Real DayRecord::*f) { r.*f = text ? RealOf(*text) : std::nullopt; }},
               c.field);
}

void WriteDayJson(toolkit::JsonWriter& json, const DayRecord& r)
{
    json.Object();
    for (const Column& c : kColumns) {
        json.Key(c.name);
        const Text text = ColumnText(r, c);
        if (!text) json.Null();
        else if (auto f = std::get_if<Integer DayRecord::*>(&c.field)) json.Int(*(r.**f));
        else if (auto g = std::get_if<Real DayRecord::*>(&c.field)) json.Number(*(r.**g));
        else json.String(*text);
    }
    json.End();
}

std::string NodesText(const std::vector<Node>& nodes)
{
    std::string text;
    for (const Node& n : nodes)
        text += (text.empty() ? "" : ";") + std::to_string(n.orbit) + ":" + std::to_string(n.record) + ":" +
                toolkit::FixedText(n.offsetSeconds, 3) + ":" + (n.hazard ? "1" : "0");
    return text;
}

std::vector<Node> ParseNodes(const std::string& text)
{
    std::vector<Node> list;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find(';', a);
        if (b == std::string::npos) b = text.size();
        const std::string item = text.substr(a, b - a);
        a = b + 1;
        Node n;
        char hazard = '0';
        if (std::sscanf(item.c_str(), "%lld:%lld:%lf:%c", &n.orbit, &n.record, &n.offsetSeconds, &hazard) == 4) {
            n.hazard = hazard == '1';
            list.push_back(n);
        }
    }
    return list;
}

std::string ResultText(const DayRecord& r, const std::vector<Node>& nodes, const std::string& runToken)
{
    std::string text;
    for (const Column& c : kColumns) {
        const std::optional<std::string> v = ColumnText(r, c);
        text += std::string(c.name) + "\t" + (v ? toolkit::TabField(*v) : "\\N") + "\n";
    }
    return text + "nodes\t" + toolkit::TabField(NodesText(nodes)) + "\nrun_token\t" + toolkit::TabField(runToken) +
           "\n";
}

bool ParseResult(const std::string& text, DayRecord& r, std::vector<Node>& nodes, std::string* runToken)
{
    bool any = false;
    for (size_t a = 0; a < text.size();) {
        const size_t b = text.find('\n', a);
        if (b == std::string::npos) return false;   // cut short: not a whole result
        const std::string line = text.substr(a, b - a);
        a = b + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return false;
        const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
        if (key == "nodes") {
            nodes = ParseNodes(toolkit::TabFieldValue(value));
            continue;
        }
        if (key == "run_token") {
            if (runToken) *runToken = toolkit::TabFieldValue(value);
            continue;
        }
        for (const Column& c : kColumns)
            if (key == c.name) {
                SetColumnText(r, c, value == "\\N" ? std::nullopt : Text(toolkit::TabFieldValue(value)));
                any = true;
            }
    }
    return any;
}

} // namespace campaign
