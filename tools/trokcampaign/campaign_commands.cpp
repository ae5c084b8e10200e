#include "campaign_commands.h"

#include <unistd.h>

#include <map>

#include "campaign_catalog.h"
#include "campaign_folder.h"
#include "campaign_foldin.h"
#include "campaign_report.h"
#include "campaign_status.h"
#include "platform/lock_file.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

// The catalog of an existing campaign, opened only to be read, with what a
// run left unfinished (a Slurm job of run --no-wait, a killed driver's
// tasks) folded in when no other trokcampaign holds the campaign (then
// through a catalog opened for writing; otherwise only looked at).
void OpenExisting(const std::string& campaign, CampaignFolder& folder, Catalog& catalog,
                  std::map<std::string, DayRecord>& days, SlurmView& view)
{
    std::string error;
    if (!OpenCampaign(campaign, false, folder, error)) toolkit::Fail("cannot use the campaign folder: " + error);
    if (!catalog.Open(folder.top, CatalogAccess::ReadOnly, error) || !catalog.LoadDays(days, error))
        toolkit::Fail(error);
    platform::LockFile lock;
    const bool mine = folder.run.IsOpen() && lock.TryTake(folder.run, "lock") == platform::LockFile::Result::Taken;
    RunRow last;
    const bool unfinished = catalog.LastRun(last) && (last.status == "running" || last.status == "submitted");
    std::string why;
    if (!unfinished) return;
    if (!mine) {
        if (!FoldInEarlierRun(catalog, folder.Path(), days, false, false, view, why))
            toolkit::Warn(campaign + ": " + why + "; the catalog as it stands");
        return;
    }
    Catalog writable;
    if (!writable.Open(folder.top, CatalogAccess::Existing, why) ||
        !FoldInEarlierRun(writable, folder.Path(), days, true, DaysStillHeld(folder).empty(), view, why))
        toolkit::Warn(why + "; the catalog as it stands");
}

} // namespace

int StatusCommand(const std::string& campaign, bool json)
{
    CampaignFolder folder;
    Catalog catalog;
    std::map<std::string, DayRecord> days;
    SlurmView view;
    OpenExisting(campaign, folder, catalog, days, view);
    // On a terminal, no name in the text can move the cursor or recolour it
    // (JSON escapes control characters itself).
    if (json) toolkit::PrintOut(StatusJson(folder.Path(), days, view));
    else if (isatty(STDOUT_FILENO)) toolkit::PrintOut(toolkit::TerminalText(StatusText(days, view)));
    else toolkit::PrintOut(StatusText(days, view));
    toolkit::FinishOutput();
    return 0;
}

int ReportCommand(const std::string& campaign)
{
    CampaignFolder folder;
    Catalog catalog;
    std::map<std::string, DayRecord> days;
    SlurmView view;
    OpenExisting(campaign, folder, catalog, days, view);
    std::string error;
    std::vector<VersionRow> versions;
    if (!catalog.LoadVersions(versions, error)) toolkit::Fail(error);
    if (!WriteReport(folder.Path(), days, catalog.LoadSettings(), error, versions))
        toolkit::Fail(folder.Path() + "/report.html: cannot write: " + error);
    return 0;
}

} // namespace campaign
