#include "campaign_results.h"

#include <unistd.h>

#include <iostream>
#include <set>

#include "campaign_continuity.h"
#include "campaign_failure.h"
#include "campaign_report.h"
#include "campaign_result_file.h"
#include "platform/closed_output.h"
#include "toolkit/cli/text.h"

namespace campaign {

bool TakeResult(RunState& st, const std::string& day, DayRecord& record)
{
    DayRecord fresh;
    std::vector<Node> nodes;
    if (!ReadResult(st.campaignDir, st.runId, st.runToken, day, fresh, nodes)) return false;
    record = fresh;
    st.nodesOf[day] = nodes;
    return true;
}

void Settle(const RunState& st, DayRecord& row, const DayRecord& result, std::string& note)
{
    note.clear();
    if (result.Unfinished() && row.MadeProducts()) {
        note = result.day + ": not done again; its earlier products and row (" + row.OutcomeText() + ", run " +
               std::to_string(row.run_id.value_or(0)) + ") stay";
        return;
    }
    const std::string replaced = st.campaignDir + "/run/replaced/" + result.day;
    if (!result.Unfinished() && row.outcome && access(replaced.c_str(), F_OK) == 0)
        note = result.day + ": now " + result.OutcomeText() + " (was " + row.OutcomeText() +
               "); its earlier files are kept in " + replaced + " until the next run";
    // A day's level, version and gaps are ingestion's (FoldIn), never a
    // task's: the row keeps them until ingestion stamps the day anew.
    const Text level = row.level, gaps = row.gaps;
    const Integer version = row.version;
    row = result;
    row.level = level;
    row.version = version;
    row.gaps = gaps;
}

void MarkStopped(const RunState& st, DayRecord& record, const std::string& day, const std::string& packet,
                 const std::string& reason)
{
    record.day = day;
    record.outcome = Outcome::Stopped;
    record.run_id = st.runId;
    record.packet_path = packet;
    record.reason = reason;
}

void StoreFinished(Catalog& catalog, RunState& st, bool now)
{
    const auto t = std::chrono::steady_clock::now();
    if (st.stored == st.finished.size() || (!now && std::chrono::duration<double>(t - st.lastStore).count() < 2.0))
        return;
    std::vector<const DayRecord*> rows(st.finished.begin() + static_cast<long>(st.stored), st.finished.end());
    std::string error;
    if (!catalog.StoreDays(rows, {}, error)) Fail(error);
    st.stored = st.finished.size();
    st.lastStore = t;
}

void CompleteRun(Catalog& catalog, std::map<std::string, DayRecord>& days, RunState& st,
                 const std::vector<DayRecord*>& changed, const CampaignSettings& settings)
{
    std::map<std::string, std::pair<Text, Real>> before;
    for (const auto& kv : days) before[kv.first] = {kv.second.continuity, kv.second.step_s};
    CrossDayChecks(days);
    std::set<const DayRecord*> write(st.finished.begin(), st.finished.end());
    write.insert(changed.begin(), changed.end());
    for (const auto& kv : days)
        if (before[kv.first] != std::make_pair(kv.second.continuity, kv.second.step_s)) write.insert(&kv.second);
    std::string error;
    if (!catalog.StoreDays(std::vector<const DayRecord*>(write.begin(), write.end()), st.nodesOf, error))
        Fail(error);
    std::vector<VersionRow> versions;
    if (!catalog.LoadVersions(versions, error)) Fail(error);
    if (!WriteReport(st.campaignDir, days, settings, error, versions)) Fail(st.campaignDir + "/report.html: " + error);
}

Progress::Progress(size_t days, bool silent)
    : total(days), terminal(isatty(2) != 0), quiet(silent), start(std::chrono::steady_clock::now())
{
}

bool Progress::Gone()
{
    if (quiet) return true;
    if (!gone) gone = platform::OutputGone(2);
    return gone;
}

void Progress::Day(const DayRecord& r, const std::string& note)
{
    ++done;
    if (!r.Is(Outcome::Ok)) ++failed;
    if (Gone()) return;
    if (!terminal) {
        std::cerr << "trokcampaign: " << r.day << " " << r.OutcomeText()
                  << (Filled(r.reason) ? ": " + *r.reason : std::string()) << "\n";
        if (!note.empty()) std::cerr << "trokcampaign: " << note << "\n";
        return;
    }
    if (!note.empty()) std::cerr << "\r\033[K" << "trokcampaign: " << toolkit::TerminalText(note) << "\n";
    Line(false);
}

void Progress::Line(bool last)
{
    if (!terminal || total == 0 || Gone()) return;
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
