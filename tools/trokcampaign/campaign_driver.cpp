#include "campaign_driver.h"

#include <chrono>

#include "campaign_failure.h"
#include "platform/stop_signals.h"

namespace campaign {

DayRecord FoldIn(const DayEnd& end, const std::string& packet, std::map<std::string, DayRecord>& days, RunState& st,
                 std::string& note)
{
    DayRecord& row = days[end.day];
    DayRecord result;
    if (!TakeResult(st, end.day, result) || (end.reasonOverStopped && result.Is(Outcome::Stopped))) {
        MarkStopped(st, result, end.day, packet, end.whyNoResult);
        st.nodesOf.erase(end.day);
    }
    Settle(st, row, result, note);
    // A day that ingestion makes takes its new version once it has a verdict.
    const auto stamp = st.stamps.find(end.day);
    if (stamp != st.stamps.end() && !result.Unfinished() && row.run_id == st.runId) {
        row.level = stamp->second.level;
        row.version = stamp->second.version;
        row.gaps = stamp->second.gaps;
        st.madeAt[end.day] = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
    if (row.run_id != result.run_id) st.nodesOf.erase(end.day);   // the earlier row's nodes stay too
    st.finished.push_back(&row);
    return result;
}

std::string DriveRun(Engine& engine, const RunPlan& plan, Catalog& catalog, std::map<std::string, DayRecord>& days,
                     RunState& st)
{
    Progress progress(plan.days.size(), st.quiet);
    const std::map<std::string, std::string> packets(plan.days.begin(), plan.days.end());
    bool stopped = false, waited = false;
    try {
        engine.Start(plan);
        while (!engine.Done()) {
            waited = true;
            if (platform::StopSignals::Noted() && !stopped) {
                engine.Stop();
                stopped = true;
            }
            const std::vector<DayEnd> ended = engine.Poll();
            for (const DayEnd& e : ended) {
                std::string note;
                const DayRecord result = FoldIn(e, packets.at(e.day), days, st, note);
                progress.Day(result, note);
            }
            StoreFinished(catalog, st, false);
            if (ended.empty() && !engine.Done()) {
                progress.Line(false);
                platform::StopSignals::Doze(engine.PollMs());
            }
        }
    } catch (const Failure&) {
        engine.Abandon();
        throw;
    }
    if (waited) progress.Line(true);
    return engine.Status();
}

} // namespace campaign
