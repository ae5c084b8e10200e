#include "pipeline/check_report.h"

#include <cmath>

#include "toolkit/cli/json.h"

namespace pipeline {

namespace {

using toolkit::Json;

const Json* Member(const Json& j, const char* key, Json::Type type)
{
    const Json* m = j.Find(key);
    return m && m->type == type ? m : nullptr;
}

// The messages of the findings in `list` ("faults" or "warnings"); those
// of `kind` also into `ofKind`.
void Messages(const Json& check, const char* list, std::vector<std::string>& out, const char* kind = nullptr,
              std::vector<std::string>* ofKind = nullptr)
{
    const Json* items = Member(check, list, Json::Array);
    if (!items) return;
    for (const Json& f : items->items) {
        const Json* message = Member(f, "message", Json::String);
        if (!message) continue;
        out.push_back(message->text);
        const Json* k = Member(f, "kind", Json::String);
        if (ofKind && k && k->text == kind) ofKind->push_back(message->text);
    }
}

void Nodes(const Json& check, std::vector<CheckReport::Node>& nodes)
{
    const Json* offsets = Member(check, "node_offsets", Json::Array);
    if (!offsets) return;
    for (const Json& o : offsets->items) {
        const Json* orbit = Member(o, "orbit", Json::Number);
        const Json* record = Member(o, "record", Json::Number);
        const Json* offset = Member(o, "crossing_minus_node_s", Json::Number);
        const Json* numbering = Member(o, "numbering", Json::Number);
        const Json* crossing = Member(o, "crossing_tai93", Json::Number);
        if (!orbit || !record || !offset || !numbering || !crossing || record->number < 0) continue;
        CheckReport::Node n;
        n.orbit = static_cast<long long>(orbit->number);
        n.record = static_cast<long long>(record->number);
        n.offsetSeconds = offset->number;
        n.numbering = static_cast<int>(numbering->number);
        n.crossingTai93 = crossing->number;
        nodes.push_back(n);
    }
}

} // namespace

bool ReadCheckReport(const std::string& json, CheckReport& r)
{
    r = CheckReport();
    Json check;
    std::string error;
    if (!toolkit::ParseJson(json, check, error) || check.type != Json::Object) return false;
    r.verdict = true;
    const Json* passed = Member(check, "passed", Json::Bool);
    r.passed = passed && passed->boolean;
    if (const Json* n = Member(check, "records", Json::Number)) r.records = static_cast<long long>(n->number);
    if (const Json* n = Member(check, "orbits", Json::Number)) r.orbits = static_cast<long long>(n->number);
    Messages(check, "faults", r.faults);
    Messages(check, "warnings", r.warnings, "numbering", &r.numbering);
    Nodes(check, r.nodes);
    if (const Json* f = Member(check, "first_orbit_numbering", Json::Number))
        r.firstOrbitNumbering = static_cast<int>(f->number);
    return true;
}

} // namespace pipeline
