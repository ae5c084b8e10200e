#include "campaign_day_folder.h"

#include <cerrno>
#include <sys/stat.h>

namespace campaign {

namespace {

// The names of a day's products in its folder.
std::vector<std::string> ProductNames(const std::string& day)
{
    return {day + ".eph", day + ".att", day + ".oem", day + ".aem", day + ".tle", "quicklook"};
}

} // namespace

DayFolder::~DayFolder()
{
    std::string ignored;
    if (lock.Held()) workRoot.Remove(DayLockName(day), ignored);
}

bool DayFolder::Begin(const CampaignFolder& c, const std::string& d, bool& busy, std::string& error)
{
    campaign = &c;
    day = d;
    busy = false;
    if (!c.run.OpenSub("work", workRoot, error, true, 0755)) return false;
    switch (lock.TryTake(workRoot, DayLockName(day))) {
    case platform::LockFile::Result::Taken: break;
    case platform::LockFile::Result::Busy:
        busy = true;
        error = day + ": another task (process " + std::to_string(lock.Holder()) + ") works on it";
        return false;
    case platform::LockFile::Result::Failed: error = lock.Error(); return false;
    }
    return workRoot.RemoveTree(day, error) && workRoot.OpenSub(day, work, error, true, 0755);
}

bool DayFolder::LacksEarlierFiles(const platform::Folder& earlier) const
{
    for (const std::string& name : ProductNames(day))
        if (name != day + ".tle" && earlier.Exists(name) && !work.Exists(name)) return true;
    return false;
}

// The earlier folder, now at `name` in run/work/, kept as run/replaced/DAY
// or removed.
bool DayFolder::SetAside(const std::string& name, bool keep, std::string& error)
{
    if (!keep) return workRoot.RemoveTree(name, error);
    platform::Folder replaced;
    return campaign->run.OpenSub("replaced", replaced, error, true, 0755) && replaced.RemoveTree(day, error) &&
           workRoot.RenameTo(name, replaced, day, error, false);
}

bool DayFolder::Commit(bool& kept, std::string& error)
{
    kept = false;
    const platform::Folder& days = campaign->days;
    struct stat st;
    if (!days.Stat(day, st)) {
        if (errno != ENOENT) {
            error = days.PathOf(day) + ": cannot be looked at";
            return false;
        }
        return workRoot.RenameTo(day, days, day, error, false);
    }
    platform::Folder earlier;
    if (!days.OpenSub(day, earlier, error)) return false;
    kept = LacksEarlierFiles(earlier);
    earlier.Close();
    if (workRoot.Exchange(day, days, day, error)) return SetAside(day, kept, error);
    if (errno != EINVAL) return false;
    // A file system that cannot swap two folders: the earlier one is set
    // aside first (a run that finds it there with no day in its place puts
    // it back), then the new one takes its name.
    const std::string aside = EarlierName(day);
    if (!workRoot.RemoveTree(aside, error) || !days.RenameTo(day, workRoot, aside, error, false)) return false;
    if (!workRoot.RenameTo(day, days, day, error, false)) {
        std::string ignored;
        workRoot.RenameTo(aside, days, day, ignored, false);
        return false;
    }
    return SetAside(aside, kept, error);
}

void DayFolder::DropProducts()
{
    std::string ignored;
    for (const std::string& name : ProductNames(day)) work.RemoveTree(name, ignored);
}

} // namespace campaign
