#include "campaign_status.h"

#include <vector>

#include "campaign_continuity.h"
#include "campaign_expected.h"

#include "toolkit/cli/json_writer.h"

namespace campaign {

namespace {

std::map<std::string, size_t> Counts(const std::map<std::string, DayRecord>& days)
{
    std::map<std::string, size_t> counts;
    for (const auto& kv : days) ++counts[kv.second.OutcomeText()];
    return counts;
}

// The Slurm job's waiting days, queued or running.
std::vector<std::string> Waiting(const SlurmView& view, const std::string& state)
{
    std::vector<std::string> days;
    for (const auto& w : view.waiting)
        if (w.second == state) days.push_back(w.first);
    return days;
}

} // namespace

std::string StatusText(const std::map<std::string, DayRecord>& days, const SlurmView& view)
{
    std::string out;
    if (!days.empty())
        out += std::to_string(days.size()) + " days, " + days.begin()->first + " to " + days.rbegin()->first + "\n";
    std::map<std::string, size_t> counts = Counts(days);
    for (Outcome o : kCatalogOutcomes)
        out += std::string(pipeline::OutcomeName(o)) + " " + std::to_string(counts[pipeline::OutcomeName(o)]) + "\n";
    if (view.active)
        out += "Slurm job " + view.jobId + ": " + std::to_string(Waiting(view, "queued").size()) + " days queued, " +
               std::to_string(Waiting(view, "running").size()) + " running, " + std::to_string(view.finished) +
               " finished\n";
    for (const auto& kv : days) {
        const DayRecord& row = kv.second;
        if (!row.Is(Outcome::Ok)) out += kv.first + " " + row.OutcomeText() + ": " + row.reason.value_or("") + "\n";
        if (BreaksFromDayBefore(row)) out += kv.first + " continuity: " + *row.continuity + "\n";
    }
    const std::vector<std::string> expected = StillExpected(days);
    if (!expected.empty()) out += "still expected:\n";
    for (const std::string& e : expected) out += e + "\n";
    return out;
}

std::string StatusJson(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                       const SlurmView& view)
{
    toolkit::JsonWriter json;
    json.Object().Key("campaign").String(campaignDir).Key("days_total").Int(static_cast<long long>(days.size()));
    json.Key("counts").Object();
    std::map<std::string, size_t> counts = Counts(days);
    for (Outcome o : kCatalogOutcomes)
        json.Key(pipeline::OutcomeName(o)).Int(static_cast<long long>(counts[pipeline::OutcomeName(o)]));
    json.End().Key("slurm");
    if (view.active) {
        json.Object().Key("job_id").String(view.jobId);
        for (const char* state : {"queued", "running"}) {
            json.Key(state).Array();
            for (const std::string& d : Waiting(view, state)) json.String(d);
            json.End();
        }
        json.End();
    } else {
        json.Null();
    }
    json.Key("days").Array(true);
    for (const auto& kv : days) WriteDayJson(json, kv.second);
    json.End().End();
    return json.Text() + "\n";
}

} // namespace campaign
