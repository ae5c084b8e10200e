#include "campaign_results.h"

#include <unistd.h>

#include <iostream>
#include <set>

#include "campaign_continuity.h"
#include "campaign_failure.h"
#include "campaign_report.h"
#include "platform/file_reading.h"
#include "toolkit/cli/text.h"

namespace campaign {

bool TakeResult(RunState& st, const std::string& day, DayRow& row)
{
    DayRow fresh;
    std::string text, nodes, error;
    if (!platform::ReadWholeFile(st.campaignDir + "/days/" + day + "/result.txt", text, error) ||
        !ParseResult(text, fresh, nodes) || fresh.Get(C_run_id) != std::to_string(st.runId))
        return false;
    row = fresh;
    st.nodesOf[day] = Catalog::ParseNodes(nodes);
    return true;
}

void MarkStopped(RunState& st, DayRow& row, const std::string& day, const std::string& packet,
                 const std::string& reason)
{
    row.Set(C_day, day);
    row.Set(C_outcome, "stopped");
    row.Set(C_run_id, std::to_string(st.runId));
    row.Set(C_packet_path, packet);
    row.Set(C_reason, reason);
}

void StoreFinished(Catalog& catalog, RunState& st, bool now)
{
    const auto t = std::chrono::steady_clock::now();
    if (st.stored == st.finished.size() || (!now && std::chrono::duration<double>(t - st.lastStore).count() < 2.0))
        return;
    std::vector<const DayRow*> rows(st.finished.begin() + static_cast<long>(st.stored), st.finished.end());
    std::string error;
    if (!catalog.StoreDays(rows, {}, error)) Fail(st.campaignDir + "/catalog.sqlite: " + error);
    st.stored = st.finished.size();
    st.lastStore = t;
}

void CompleteRun(Catalog& catalog, std::map<std::string, DayRow>& days, RunState& st,
                 const std::vector<DayRow*>& changed, const std::map<std::string, std::string>& settings)
{
    std::map<std::string, std::string> before;
    for (const auto& kv : days) before[kv.first] = kv.second.Get(C_continuity) + "|" + kv.second.Get(C_step_s);
    CrossDayChecks(days);
    std::set<const DayRow*> write(st.finished.begin(), st.finished.end());
    write.insert(changed.begin(), changed.end());
    for (const auto& kv : days)
        if (before[kv.first] != kv.second.Get(C_continuity) + "|" + kv.second.Get(C_step_s)) write.insert(&kv.second);
    std::string error;
    if (!catalog.StoreDays(std::vector<const DayRow*>(write.begin(), write.end()), st.nodesOf, error))
        Fail(st.campaignDir + "/catalog.sqlite: " + error);
    if (!WriteReport(st.campaignDir, days, settings, error)) Fail(st.campaignDir + "/report.html: " + error);
}

Progress::Progress(size_t days) : total(days), terminal(isatty(2) != 0), start(std::chrono::steady_clock::now()) {}

void Progress::Day(const DayRow& row)
{
    ++done;
    if (row.Get(C_outcome) != "ok") ++failed;
    if (!terminal) {
        std::cerr << "trokcampaign: " << row.Get(C_day) << " " << row.Get(C_outcome)
                  << (row.Has(C_reason) ? ": " + row.Get(C_reason) : std::string()) << "\n";
        return;
    }
    Line(false);
}

void Progress::Line(bool last)
{
    if (!terminal || total == 0) return;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = s > 0 ? static_cast<double>(done) / s : 0;
    std::string line = "trokcampaign: " + std::to_string(done) + " done, " + std::to_string(failed) +
                       " failed, " + std::to_string(total - done) + " remaining, " + toolkit::FixedText(rate, 1) +
                       " days/s";
    if (rate > 0 && done < total)
        line += ", " + toolkit::FixedText(static_cast<double>(total - done) / rate, 0) + " s left";
    std::cerr << "\r" << line << "\033[K" << (last ? "\n" : "") << std::flush;
}

} // namespace campaign
