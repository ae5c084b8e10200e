// `trokcampaign watch` (campaign_ingest.h): passes of ingestion as files
// arrive in the inbox, until a stop signal.
#include "campaign_failure.h"
#include "campaign_ingest.h"
#include "platform/closed_output.h"
#include "platform/folder_watch.h"
#include "platform/lock_file.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"

namespace campaign {

namespace {

// How long watch waits for an arrival before it looks again for days that
// have become final.
const int kFinalCheckMs = 60000;

// Another trokcampaign (a close, a status folding in a run) holds the
// campaign: watch waits for it rather than fail.
bool CampaignBusy(const std::string& campaign)
{
    CampaignFolder folder;
    std::string error;
    if (!OpenCampaign(campaign, false, folder, error) || !folder.run.IsOpen()) return false;
    platform::LockFile lock;
    return lock.TryTake(folder.run, "lock") == platform::LockFile::Result::Busy;
}

// Waits for the next arrival (or the next look for final days); false once
// a stop signal has come.
bool AwaitArrival(platform::FolderWatch& watch, const std::string& inbox)
{
    if (platform::StopSignals::Noted()) return false;
    platform::StopSignals::Await(watch.Fd(), kFinalCheckMs);
    if (platform::StopSignals::Noted()) return false;
    platform::FolderWatch::Arrivals got;
    std::string error;
    if (!watch.Take(got, error)) Fail(inbox + ": cannot follow the inbox: " + error);
    if (got.gone) Fail(inbox + ": the inbox was removed (or its file system unmounted)");
    return true;
}

} // namespace

int WatchCommand(const RunOptions& options)
{
    RunOptions o = options;
    o.quiet = true;
    platform::Folder inbox;
    std::string error;
    if (!inbox.OpenToRead(o.inbox, error)) toolkit::Fail("cannot use the inbox: " + error);
    try {
        const platform::StopSignals stops(true);
        const platform::ClosedOutputGuard pipes;
        if (!stops.Ready()) Fail("cannot make a pipe");
        // Watching from before the first look, so that nothing arriving
        // meanwhile is missed.
        platform::FolderWatch watch;
        if (!watch.Open(inbox.Fd(), error)) Fail(inbox.Path() + ": cannot watch the inbox: " + error);
        InputsCache inputs;
        do {
            while (CampaignBusy(o.out) && !platform::StopSignals::Noted()) platform::StopSignals::Doze(500);
            if (platform::StopSignals::Noted()) break;
            IngestOnce(o, inbox, inputs);
        } while (AwaitArrival(watch, inbox.Path()));
        return 0;
    } catch (const Failure& f) {
        toolkit::Fail(f.message);
    }
}

} // namespace campaign
