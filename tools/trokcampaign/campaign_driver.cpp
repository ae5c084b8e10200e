#include "campaign_driver.h"

#include "campaign_failure.h"
#include "platform/stop_signals.h"

namespace campaign {

void FoldIn(const DayEnd& end, const std::string& packet, std::map<std::string, DayRecord>& days, RunState& st)
{
    DayRecord& row = days[end.day];
    DayRecord fresh;
    if (TakeResult(st, end.day, fresh) && !(end.reasonOverStopped && fresh.Is(Outcome::Stopped))) {
        row = fresh;
    } else {
        MarkStopped(st, row, end.day, packet, end.whyNoResult);
        st.nodesOf.erase(end.day);
    }
    st.finished.push_back(&row);
}

std::string DriveRun(Engine& engine, const RunPlan& plan, Catalog& catalog, std::map<std::string, DayRecord>& days,
                     RunState& st)
{
    Progress progress(plan.days.size());
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
                FoldIn(e, packets.at(e.day), days, st);
                progress.Day(*st.finished.back());
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
