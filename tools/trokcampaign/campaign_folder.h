#ifndef CAMPAIGN_FOLDER_H
#define CAMPAIGN_FOLDER_H

#include <string>
#include <vector>

#include "platform/folder.h"

// The campaign folder as every command holds it. CAMPAIGN must be a folder
// of the user's own that nobody else can write to, under folders nobody
// else can write to but root's sticky ones (/tmp), reached through no link
// of another user (the rule of platform/private_folder.h, as ssh's
// StrictModes): then a name under it, checked once, names the same file for
// good, and nobody else can plant, replace or swap anything in it. Below
// it, every folder and file is reached through the held folders, never
// through a link or a folder of another user.
//
// CAMPAIGN/
//   catalog.sqlite   the catalog (campaign_catalog.h), the user's alone
//   report.html
//   days/DAY/        a day's files, replaced whole once a new verdict is made
//   run/             the record of the last run: lock, plan.tsv,
//                    elements.tle, configfile, tasks.log, days.list, slurm/,
//                    work/DAY/ (a day being made, its lock work/DAY.lock;
//                    left there when the day came to no verdict),
//                    replaced/DAY/ (the earlier files of a day that its new
//                    verdict no longer has), until the next run
namespace campaign {

struct CampaignFolder {
    platform::Folder top, run, days;
    const std::string& Path() const { return top.Path(); }
};

// Opens CAMPAIGN: with `create` (run) it and run/ and days/ are made when
// missing; otherwise (status, report, a task) it must exist, and run/ and
// days/ are held when they exist. False with the reason, which names the
// folder at fault ("/srv is writable by others").
bool OpenCampaign(const std::string& path, bool create, CampaignFolder& folder, std::string& error);

// The day lock a task holds while it works on a day (run/work/DAY.lock).
std::string DayLockName(const std::string& day);
// A day's earlier folder set aside in run/work/ while a file system that
// cannot swap two folders in one step takes the new one.
std::string EarlierName(const std::string& day);

// The days that a task of an earlier run still works on (it holds the
// day's lock): "DAY (process N)" each. A lock file that cannot be used (not
// the user's own) is listed with its reason.
std::vector<std::string> DaysStillHeld(const CampaignFolder& folder);

// The record of the last run cleared for the next one: run/work/ and
// run/replaced/ removed (a day swapped in halfway on a file system that
// cannot swap folders in one step is put back first), and the temporaries
// that killed programs left in CAMPAIGN and run/ removed. False with a
// reason.
bool ClearRunRecord(const CampaignFolder& folder, std::string& error);

} // namespace campaign

#endif
