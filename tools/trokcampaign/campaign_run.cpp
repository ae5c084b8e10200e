#include "campaign_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>

#include "campaign_catalog.h"
#include "campaign_driver.h"
#include "campaign_elements.h"
#include "campaign_failure.h"
#include "campaign_folder.h"
#include "campaign_foldin.h"
#include "campaign_local.h"
#include "campaign_plan.h"
#include "campaign_results.h"
#include "campaign_run_plan.h"
#include "campaign_run_days.h"
#include "campaign_slurm.h"
#include "campaign_ingest.h"
#include "platform/atomic_stream.h"
#include "platform/closed_output.h"
#include "platform/lock_file.h"
#include "platform/path_names.h"
#include "platform/path_trust.h"
#include "platform/random_bytes.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/shell_quote.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

// Names travel in tab-separated plan and result files; a name of blanks
// names nothing.
void CheckNames(const RunOptions& o)
{
    for (const std::string* name : {&o.out, &o.archive, &o.list, &o.elements, &o.config}) {
        if (name->find_first_of("\t\n") != std::string::npos)
            Fail(*name + ": names with tabs or line breaks cannot be used");
        if (!name->empty() && platform::BlankName(*name)) Fail("\"" + *name + "\": a name of blanks names no file");
    }
}

} // namespace

void HoldCampaign(const RunOptions& o, CampaignFolder& folder, platform::LockFile& lock)
{
    CheckNames(o);
    std::string error;
    if (!OpenCampaign(o.out, true, folder, error)) Fail("cannot use the campaign folder: " + error);
    // One driver at a time per campaign.
    switch (lock.TryTake(folder.run, "lock")) {
    case platform::LockFile::Result::Taken: return;
    case platform::LockFile::Result::Busy:
        Fail(folder.Path() + ": another trokcampaign (process " + std::to_string(lock.Holder()) + ") is using it");
    case platform::LockFile::Result::Failed: Fail(lock.Error());
    }
}

void OpenCatalog(const CampaignFolder& folder, Catalog& catalog, std::map<std::string, DayRecord>& days)
{
    std::string error;
    if (!catalog.Open(folder.top, CatalogAccess::Create, error) || !catalog.LoadDays(days, error)) Fail(error);
}

void RefuseOtherSatellite(const CampaignFolder& folder, const std::string& satellite)
{
    if (!folder.top.Exists("catalog.sqlite")) return;
    Catalog catalog;
    std::string error;
    if (!catalog.Open(folder.top, CatalogAccess::ReadOnly, error)) Fail(error);
    const std::string fixed = catalog.LoadSettings().satellite;
    if (!fixed.empty() && fixed != satellite)
        Fail(folder.Path() + ": a campaign of " + fixed + ", not of " + satellite +
             " (-noradsatname of the configuration): a campaign holds one satellite's products; give another --out");
}

namespace {

// A run that an earlier run left unfinished is folded in first; a Slurm job
// of it still in the queue, or a task of it still at work on a day, keeps
// this run out. Then the record of the last run is cleared for this one.
void TakeOverEarlierRun(const RunOptions& o, const CampaignFolder& folder, Catalog& catalog,
                        std::map<std::string, DayRecord>& days)
{
    const std::vector<std::string> held = DaysStillHeld(folder);
    SlurmView pending;
    std::string error;
    if (!FoldInEarlierRun(catalog, folder.Path(), days, true, held.empty(), pending, error))
        Fail(folder.Path() + ": the last run: " + error);
    if (pending.active)
        Fail(folder.Path() + ": Slurm job " + pending.jobId + " of an earlier run is still running (" +
             std::to_string(pending.waiting.size()) + " days to go): trokcampaign status " +
             toolkit::ShellQuote(o.out) + " follows it, scancel " + pending.jobId + " stops it");
    if (!held.empty()) {
        std::string list;
        for (const std::string& h : held) list += (list.empty() ? "" : ", ") + h;
        Fail(folder.Path() + ": a task of an earlier run still works on " + list +
             ": run again once it has ended (or end it)");
    }
    if (!ClearRunRecord(folder, error)) Fail(folder.Path() + "/run: cannot clear the last run's record: " + error);
}

// The run's element sets and configuration for its tasks, and the
// campaign's settings into the catalog; the settings the report shows.
CampaignSettings RecordInputs(const RunOptions& o, const RunInputs& in, const CampaignFolder& folder,
                              Catalog& catalog)
{
    // Written a set at a time, in the history's order, so that the tasks
    // read the same history.
    platform::AtomicStream sets;
    sets.OpenAt(folder.run.Fd(), "elements.tle");
    for (const ElementSet& s : in.history.sets) sets << ElementFileText(in.satellite, s);
    std::string error;
    if (!sets.Commit() || !platform::WriteFileAtomicallyAt(folder.run.Fd(), "configfile", in.configText, error))
        Fail(folder.run.Path() + ": cannot write: " + (error.empty() ? sets.Error() : error));

    // The command that reruns this campaign, for the report's redo line.
    std::vector<std::string> again = o.redoCommand;
    for (size_t i = 0; i < o.argv.size() && o.redoCommand.empty(); ++i) {
        if (o.argv[i] == "--redo") {
            ++i;
            continue;
        }
        again.push_back(o.argv[i]);
    }
    CampaignSettings s;
    s.archive = o.archive.empty() ? "" : platform::AbsolutePath(o.archive);
    s.list = o.list.empty() ? "" : platform::AbsolutePath(o.list);
    s.elements = in.historyPath;
    s.config = in.configSource;
    s.satellite = in.satellite;
    s.max_element_age = in.ageText;
    s.command = toolkit::ShellCommand(again);
    s.inbox = o.inbox.empty() ? "" : platform::AbsolutePath(o.inbox);
    s.final_after = o.inbox.empty() ? "" : toolkit::FixedText(o.finalAfter, 3);
    s.exports = o.exports ? "yes" : "no";
    s.plots = o.plots ? "yes" : "no";
    if (!catalog.StoreSettings(s, error)) Fail(error);
    return s;
}

// The run's rows into the catalog: a run that is done or stopped is
// complete (checks between days, every changed row, the report); of one
// whose Slurm job runs on, what has finished and what the planning changed.
void StoreRun(Catalog& catalog, std::map<std::string, DayRecord>& days, RunState& st,
              const std::vector<DayRecord*>& changed, const CampaignSettings& settings, const std::string& status)
{
    if (status != "submitted") {
        CompleteRun(catalog, days, st, changed, settings);
        return;
    }
    StoreFinished(catalog, st, true);
    std::vector<const DayRecord*> rows(changed.begin(), changed.end());
    std::string error;
    if (!catalog.StoreDays(rows, st.nodesOf, error)) Fail(error);
}

// The run's row in the catalog closed with its counts and costs, and the
// exit status: 128 + the signal when stopped, 1 when days are not ok.
int EndRun(const RunOptions& o, Catalog& catalog, const std::map<std::string, DayRecord>& days, const RunState& st,
           size_t planned, std::string status, std::chrono::steady_clock::time_point runStart)
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();
    if (platform::StopSignals::Noted() && status == "done") status = "stopped";
    std::string error;
    if (!catalog.EndRun(st.runId, static_cast<long long>(planned), static_cast<long long>(st.finished.size()),
                        status, cpu, wall, usage.ru_maxrss, error))
        toolkit::Warn(error);
    if (platform::StopSignals::Noted()) {
        if (!o.quiet) toolkit::Say("stopped; run again to finish the campaign");
        return 128 + platform::StopSignals::Noted();
    }
    if (status == "submitted") return 0;
    size_t notOk = 0;
    for (const auto& kv : days) notOk += !kv.second.Is(Outcome::Ok);
    if (notOk) {
        if (o.quiet) return 1;
        toolkit::Say(std::to_string(notOk) + " of " + std::to_string(days.size()) +
                     " days are not ok (trokcampaign status " + toolkit::ShellQuote(o.out) + ")");
        return 1;
    }
    return 0;
}

} // namespace

namespace {

// The engine the options ask for.
std::unique_ptr<Engine> MakeEngine(const RunOptions& o, const RunInputs& in, Catalog& catalog, long long runId,
                                   const std::string& campaignDir)
{
    if (o.engine == "local") return std::make_unique<LocalEngine>(in.pgsentry, o.jobs, o.timeout);
    auto submitted = [&catalog, runId, campaignDir](const std::string& jobId) {
        std::string error;
        if (!catalog.SetRunJob(runId, jobId, error)) Fail(error);
    };
    return std::make_unique<SlurmEngine>(
        SlurmSubmission{in.arrayScript, in.pgsentry, o.jobs, o.timeout, o.noWait, o.out, submitted});
}

} // namespace

int RunDays(const RunOptions& o, const RunInputs& in, const CampaignFolder& folder, Catalog& catalog,
            std::map<std::string, DayRecord>& days, const std::map<std::string, std::string>& planned,
            const RunHooks& hooks, std::chrono::steady_clock::time_point runStart)
{
    const std::string campaignDir = folder.Path();
    TakeOverEarlierRun(o, folder, catalog, days);
    const CampaignSettings settings = RecordInputs(o, in, folder, catalog);
    const DayChoice choice = ChooseDays(o, in, planned, days, campaignDir);

    RunState st;
    st.campaignDir = campaignDir;
    st.quiet = o.quiet;
    st.runToken = platform::RandomHex(16);
    if (st.runToken.empty()) Fail("the kernel's random source gives nothing: no token for the run");
    if (hooks.beforeRun) hooks.beforeRun(choice.toRun, st);
    std::string error;
    st.runId = catalog.BeginRun(o.engine, toolkit::ShellCommand(o.argv), st.runToken, error);
    if (st.runId < 0) Fail(error);
    const RunPlan plan = TaskPlan(o, in, campaignDir, st.runId, st.runToken, choice.toRun, planned);
    // The plan holds the run's token: the user's alone.
    if (!platform::WriteFileAtomicallyAt(folder.run.Fd(), "plan.tsv", PlanText(plan), error, 0600))
        Fail(PlanPath(campaignDir) + ": cannot write: " + error);

    std::string status = "done";
    if (!plan.days.empty()) {
        const std::unique_ptr<Engine> engine = MakeEngine(o, in, catalog, st.runId, campaignDir);
        status = DriveRun(*engine, plan, catalog, days, st);
    }
    StoreRun(catalog, days, st, choice.changed, settings, status);
    const int exitStatus = EndRun(o, catalog, days, st, plan.days.size(), status, runStart);
    // Last, so that what ingestion records (a new version) is the pass's
    // last write: a reader that waits for it finds the catalog free.
    if (hooks.afterRun) hooks.afterRun(catalog, days, st);
    return exitStatus;
}

int RunCampaign(const RunOptions& o)
{
    if (o.archive.empty() && o.list.empty()) return RunFromDumps(o);
    const auto runStart = std::chrono::steady_clock::now();
    try {
        CampaignFolder folder;
        platform::LockFile lock;
        HoldCampaign(o, folder, lock);
        // From here on the stop signals are noted: the driver stops its
        // tasks, keeps what they did and ends with 128 + the signal. An
        // output nobody reads any more (a closed pipe) loses no record.
        const platform::StopSignals stops(true);
        const platform::ClosedOutputGuard pipes;
        if (!stops.Ready()) Fail("cannot make a pipe");
        const RunInputs in = ReadInputs(o);
        RefuseOtherSatellite(folder, in.satellite);
        RefuseDumpCampaign(folder);
        const std::map<std::string, std::string> planned = PlannedDays(o);
        Catalog catalog;
        std::map<std::string, DayRecord> days;
        OpenCatalog(folder, catalog, days);
        return RunDays(o, in, folder, catalog, days, planned, RunHooks{}, runStart);
    } catch (const Failure& f) {
        toolkit::Fail(f.message);
    }
}

} // namespace campaign
