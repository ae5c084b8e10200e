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
    std::string note;
    for (const DayEnd& e : engine.Poll()) FoldIn(e, packets.at(e.day), rows, st, note);
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
        if (!catalog.StoreDays({}, st.nodesOf, error)) Fail(error);
        return;
    }
    CompleteRun(catalog, days, st, {}, catalog.LoadSettings());
    if (!catalog.SetRunStatus(st.runId, "done", static_cast<long long>(planned), error)) Fail(error);
}

// The results that the tasks of a run whose driver was killed wrote.
void FoldInInterrupted(Catalog& catalog, const RunPlan& plan, std::map<std::string, DayRecord>& days, RunState& st)
{
    for (const auto& d : plan.days) {
        DayRecord result;
        if (!TakeResult(st, d.first, result)) continue;
        std::string note;
        DayRecord& row = days[d.first];
        Settle(st, row, result, note);
        if (row.run_id != result.run_id) st.nodesOf.erase(d.first);
        st.finished.push_back(&row);
    }
    CompleteRun(catalog, days, st, {}, catalog.LoadSettings());
    std::string error;
    if (!catalog.SetRunStatus(st.runId, "interrupted", static_cast<long long>(st.finished.size()), error))
        Fail(error);
}

// The plan of the last run, which must be that run's.
bool ReadItsPlan(const std::string& campaignDir, const RunRow& last, RunPlan& plan, std::string& error)
{
    std::string why;
    const std::string which = last.jobId.empty() ? "run " + std::to_string(last.id) : "Slurm job " + last.jobId;
    if (!ReadPlan(campaignDir, plan, why)) {
        error = PlanPath(campaignDir) + ": cannot read the plan of " + which + (why.empty() ? "" : ": " + why);
        return false;
    }
    if (plan.settings.runId != last.id || plan.settings.runToken != last.token) {
        error = PlanPath(campaignDir) + ": not the plan of run " + std::to_string(last.id) + " (" + which + ")";
        return false;
    }
    return true;
}

} // namespace

bool FoldInEarlierRun(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRecord>& days,
                      bool write, bool tasksGone, SlurmView& view, std::string& error)
{
    view = SlurmView();
    RunRow last;
    // Only one run holds the campaign at a time: the last run.
    if (!catalog.LastRun(last) || (last.status != "submitted" && last.status != "running")) return true;
    const bool slurmJob = last.engine == "slurm" && !last.jobId.empty();
    // A run still "running" while another command holds the campaign is
    // that run, going on.
    if (!slurmJob && (!write || !tasksGone || last.status != "running")) return true;
    RunPlan plan;
    if (!ReadItsPlan(campaignDir, last, plan, error)) {
        if (slurmJob) return false;
        // The driver died before its plan was written: no task ran.
        error.clear();
        std::string ignored;
        catalog.SetRunStatus(last.id, "interrupted", 0, ignored);
        return true;
    }
    RunState st;
    st.campaignDir = campaignDir;
    st.runId = last.id;
    st.runToken = last.token;
    try {
        if (!slurmJob) {
            FoldInInterrupted(catalog, plan, days, st);
            return true;
        }
        // Without the right to write, the rows are folded into a copy.
        std::map<std::string, DayRecord> copy;
        if (!write) copy = days;
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
