#include "campaign_commands.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "campaign_catalog.h"
#include "campaign_foldin.h"
#include "campaign_report.h"
#include "campaign_status.h"
#include "platform/path_names.h"
#include "toolkit/cli/cli.h"

namespace campaign {

namespace {

// The catalog of an existing campaign, with what a Slurm job left running
// by run --no-wait has finished folded in when no other trokcampaign holds
// the campaign (otherwise only looked at).
void OpenExisting(const std::string& campaign, Catalog& catalog, std::map<std::string, DayRecord>& days,
                  SlurmView& view)
{
    std::string error;
    const std::string dir = platform::AbsolutePath(campaign);
    const std::string path = dir + "/catalog.sqlite";
    struct stat st;
    if (stat(path.c_str(), &st) != 0) toolkit::Fail(campaign + ": not a campaign (no catalog.sqlite)");
    if (!catalog.Open(path, CatalogAccess::Existing, error) || !catalog.LoadDays(days, error))
        toolkit::Fail(path + ": " + error);
    const int lock = open((dir + "/run/lock").c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const bool mine = lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0;
    std::string why;
    if (!FoldInSlurmJob(catalog, dir, days, mine, view, why))
        toolkit::Warn(campaign + ": " + why + "; the catalog as it stands");
    if (lock >= 0) close(lock);
}

} // namespace

int StatusCommand(const std::string& campaign, bool json)
{
    Catalog catalog;
    std::map<std::string, DayRecord> days;
    SlurmView view;
    OpenExisting(campaign, catalog, days, view);
    toolkit::PrintOut(json ? StatusJson(platform::AbsolutePath(campaign), days, view) : StatusText(days, view));
    toolkit::FinishOutput();
    return 0;
}

int ReportCommand(const std::string& campaign)
{
    Catalog catalog;
    std::map<std::string, DayRecord> days;
    SlurmView view;
    OpenExisting(campaign, catalog, days, view);
    std::string error;
    if (!WriteReport(platform::AbsolutePath(campaign), days, catalog.LoadSettings(), error))
        toolkit::Fail(campaign + "/report.html: cannot write: " + error);
    return 0;
}

} // namespace campaign
