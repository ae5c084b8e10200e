#include "campaign_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>

#include "campaign_catalog.h"
#include "campaign_driver.h"
#include "campaign_elements.h"
#include "campaign_failure.h"
#include "campaign_foldin.h"
#include "campaign_local.h"
#include "campaign_plan.h"
#include "campaign_results.h"
#include "campaign_run_plan.h"
#include "campaign_slurm.h"
#include "platform/atomic_stream.h"
#include "platform/make_dirs.h"
#include "platform/path_names.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/output.h"
#include "toolkit/cli/shell_quote.h"

namespace campaign {

namespace {

// The campaign folder, made and held: closed to others, and locked for this
// driver (the lock is held until the driver ends). The folder's absolute
// path.
std::string HoldCampaign(const RunOptions& o)
{
    // Names travel in tab-separated plan and result files.
    for (const std::string* name : {&o.out, &o.archive, &o.list, &o.elements, &o.config})
        if (name->find_first_of("\t\n") != std::string::npos)
            Fail(*name + ": names with tabs or line breaks cannot be used");
    const std::string campaignDir = platform::AbsolutePath(o.out);
    // The campaign folder is the user's own and closed to others, so
    // nobody can plant links or FIFOs where the driver, its tasks and
    // SQLite create their files.
    toolkit::OwnFolder(campaignDir);
    const platform::MadeDirs made = platform::MakeDirs(campaignDir + "/run");
    if (!made.ok) Fail(campaignDir + ": cannot make the campaign folder: " + made.Reason());

    // One driver at a time per campaign.
    const std::string lockPath = campaignDir + "/run/lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (lock < 0) Fail(lockPath + ": cannot open: " + std::strerror(errno));
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) Fail(campaignDir + ": another trokcampaign run is using it");
    return campaignDir;
}

void OpenCatalog(const std::string& campaignDir, Catalog& catalog, std::map<std::string, DayRecord>& days)
{
    std::string error;
    if (!catalog.Open(campaignDir + "/catalog.sqlite", CatalogAccess::Create, error))
        Fail(campaignDir + "/catalog.sqlite: " + error);
    if (!catalog.LoadDays(days, error)) Fail(campaignDir + "/catalog.sqlite: " + error);
}

// A Slurm job of an earlier run (run --no-wait) is folded in first; one
// still in the queue keeps this run out.
void FoldInEarlierJob(const RunOptions& o, const std::string& campaignDir, Catalog& catalog,
                      std::map<std::string, DayRecord>& days)
{
    SlurmView pending;
    std::string error;
    if (!FoldInSlurmJob(catalog, campaignDir, days, true, pending, error))
        Fail(campaignDir + ": the Slurm job of the last run: " + error);
    if (pending.active)
        Fail(campaignDir + ": Slurm job " + pending.jobId + " of an earlier run is still running (" +
             std::to_string(pending.waiting.size()) + " days to go): trokcampaign status " + toolkit::ShellQuote(o.out) +
             " follows it, scancel " + pending.jobId + " stops it");
}

// The run's element sets and configuration for its tasks, and the
// campaign's settings into the catalog; the settings the report shows.
CampaignSettings RecordInputs(const RunOptions& o, const RunInputs& in, const std::string& campaignDir,
                              Catalog& catalog)
{
    std::string setsText, error;
    for (const ElementSet& s : in.history.sets) setsText += ElementFileText(in.satellite, s);
    if (!platform::WriteFileAtomically(campaignDir + "/run/elements.tle", setsText, error) ||
        !platform::WriteFileAtomically(campaignDir + "/run/configfile", in.configText, error))
        Fail(campaignDir + "/run: cannot write: " + error);

    // The command that reruns this campaign, for the report's redo line.
    std::vector<std::string> again;
    for (size_t i = 0; i < o.argv.size(); ++i) {
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
    s.exports = o.exports ? "yes" : "no";
    s.plots = o.plots ? "yes" : "no";
    if (!catalog.StoreSettings(s, error)) Fail(campaignDir + "/catalog.sqlite: " + error);
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
    if (!catalog.StoreDays(rows, st.nodesOf, error)) Fail(st.campaignDir + "/catalog.sqlite: " + error);
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
    catalog.EndRun(st.runId, static_cast<long long>(planned), static_cast<long long>(st.finished.size()), status,
                   cpu, wall, usage.ru_maxrss, error);
    if (platform::StopSignals::Noted()) {
        toolkit::Say("stopped; run again to finish the campaign");
        return 128 + platform::StopSignals::Noted();
    }
    if (status == "submitted") return 0;
    size_t notOk = 0;
    for (const auto& kv : days) notOk += !kv.second.Is(Outcome::Ok);
    if (notOk) {
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
        if (!catalog.SetRunJob(runId, jobId, error)) Fail(campaignDir + "/catalog.sqlite: " + error);
    };
    return std::make_unique<SlurmEngine>(
        SlurmSubmission{in.arrayScript, in.pgsentry, o.jobs, o.timeout, o.noWait, o.out, submitted});
}

} // namespace

int RunCampaign(const RunOptions& o)
{
    const auto runStart = std::chrono::steady_clock::now();
    try {
        const std::string campaignDir = HoldCampaign(o);
        // From here on the stop signals are noted: the driver stops its
        // tasks, keeps what they did and ends with 128 + the signal.
        const platform::StopSignals stops(true);
        if (!stops.Ready()) Fail("cannot make a pipe");
        const RunInputs in = ReadInputs(o);
        const std::map<std::string, std::string> planned = PlannedDays(o);
        Catalog catalog;
        std::map<std::string, DayRecord> days;
        OpenCatalog(campaignDir, catalog, days);
        FoldInEarlierJob(o, campaignDir, catalog, days);
        const CampaignSettings settings = RecordInputs(o, in, campaignDir, catalog);
        const DayChoice choice = ChooseDays(o, in, planned, days, campaignDir);

        RunState st;
        st.campaignDir = campaignDir;
        std::string error;
        st.runId = catalog.BeginRun(o.engine, toolkit::ShellCommand(o.argv), error);
        if (st.runId < 0) Fail(campaignDir + "/catalog.sqlite: " + error);
        const RunPlan plan = TaskPlan(o, in, campaignDir, st.runId, choice.toRun, planned);
        if (!platform::WriteFileAtomically(PlanPath(campaignDir), PlanText(plan), error))
            Fail(PlanPath(campaignDir) + ": cannot write: " + error);

        std::string status = "done";
        if (!plan.days.empty()) {
            const std::unique_ptr<Engine> engine = MakeEngine(o, in, catalog, st.runId, campaignDir);
            status = DriveRun(*engine, plan, catalog, days, st);
        }
        StoreRun(catalog, days, st, choice.changed, settings, status);
        return EndRun(o, catalog, days, st, plan.days.size(), status, runStart);
    } catch (const Failure& f) {
        toolkit::Fail(f.message);
    }
}

} // namespace campaign
