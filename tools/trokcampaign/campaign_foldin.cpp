#include "campaign_foldin.h"

#include "campaign_driver.h"
#include "campaign_failure.h"
#include "campaign_results.h"
#include "campaign_slurm.h"

namespace campaign {

namespace {

// The rows of the job's days folded in.
void Collect(SlurmEngine& engine, const RunPlan& plan, std::map<std::string, DayRecord>& rows, RunState& st,
             SlurmView& view)
{
    engine.Start(plan);
    const std::map<std::string, std::string> packets(plan.days.begin(), plan.days.end());
    for (const DayEnd& e : engine.Poll()) FoldIn(e, packets.at(e.day), rows, st);
    view.jobId = engine.JobId();
    view.active = engine.Queued();
    view.waiting = engine.Waiting();
    view.finished = st.finished.size();
}

// What the fold-in changed into the catalog: what has finished, and once
// the job has left the queue, the whole run.
void Store(Catalog& catalog, std::map<std::string, DayRecord>& days, RunState& st, const SlurmView& view,
           size_t planned)
{
    std::string error;
    if (view.active) {
        StoreFinished(catalog, st, true);
        if (!catalog.StoreDays({}, st.nodesOf, error)) Fail(st.campaignDir + "/catalog.sqlite: " + error);
        return;
    }
    CompleteRun(catalog, days, st, {}, catalog.LoadSettings());
    if (!catalog.SetRunStatus(st.runId, "done", static_cast<long long>(planned), error))
        Fail(st.campaignDir + "/catalog.sqlite: " + error);
}

} // namespace

bool FoldInSlurmJob(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRecord>& days,
                    bool write, SlurmView& view, std::string& error)
{
    view = SlurmView();
    RunRow last;
    // Only one run holds the campaign at a time: a job of the last run.
    if (!catalog.LastRun(last) || last.engine != "slurm" || last.jobId.empty() ||
        (last.status != "submitted" && last.status != "running"))
        return true;
    RunPlan plan;
    std::string why;
    if (!ReadPlan(campaignDir, plan, why)) {
        error = PlanPath(campaignDir) + ": cannot read the plan of Slurm job " + last.jobId +
                (why.empty() ? "" : ": " + why);
        return false;
    }
    if (plan.settings.runId != last.id) {
        error = PlanPath(campaignDir) + ": not the plan of run " + std::to_string(last.id) + " (Slurm job " +
                last.jobId + ")";
        return false;
    }
    RunState st;
    st.campaignDir = campaignDir;
    st.runId = last.id;
    // Without the right to write, the rows are folded into a copy.
    std::map<std::string, DayRecord> copy;
    if (!write) copy = days;
    try {
        SlurmEngine engine(last.jobId);
        Collect(engine, plan, write ? days : copy, st, view);
        if (write) Store(catalog, days, st, view, plan.days.size());
    } catch (const Failure& f) {
        error = f.message;
        return false;
    }
    return true;
}

} // namespace campaign
