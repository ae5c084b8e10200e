#include "campaign_folder.h"

#include "platform/lock_file.h"
#include "platform/stale_temporaries.h"
#include "toolkit/time/utcday.h"

namespace campaign {

namespace {

const char kLockSuffix[] = ".lock";
const char kEarlierSuffix[] = ".earlier";

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The subfolder `name`, made with `create`, held when it exists otherwise.
bool Sub(const platform::Folder& top, const std::string& name, bool create, platform::Folder& sub,
         std::string& error)
{
    if (!create && !top.Exists(name)) return true;
    return top.OpenSub(name, sub, error, create, 0755);
}

} // namespace

bool OpenCampaign(const std::string& path, bool create, CampaignFolder& f, std::string& error)
{
    return f.top.OpenPrivate(path, error, create, 0755) && Sub(f.top, "run", create, f.run, error) &&
           Sub(f.top, "days", create, f.days, error);
}

std::string DayLockName(const std::string& day) { return day + kLockSuffix; }

std::string EarlierName(const std::string& day) { return day + kEarlierSuffix; }

std::vector<std::string> DaysStillHeld(const CampaignFolder& f)
{
    std::vector<std::string> held, names;
    platform::Folder work;
    std::string error;
    if (!f.run.IsOpen() || !f.run.Exists("work")) return held;
    if (!f.run.OpenSub("work", work, error) || !work.List(names, error)) return {error};
    for (const std::string& n : names) {
        if (!EndsWith(n, kLockSuffix)) continue;
        platform::LockFile lock;
        switch (lock.TryTake(work, n)) {
        case platform::LockFile::Result::Taken: break;
        case platform::LockFile::Result::Busy:
            held.push_back(n.substr(0, n.size() - std::string(kLockSuffix).size()) + " (process " +
                           std::to_string(lock.Holder()) + ")");
            break;
        case platform::LockFile::Result::Failed: held.push_back(lock.Error()); break;
        }
    }
    return held;
}

bool ClearRunRecord(const CampaignFolder& f, std::string& error)
{
    platform::Folder work;
    std::vector<std::string> names;
    if (f.run.Exists("work")) {
        if (!f.run.OpenSub("work", work, error) || !work.List(names, error)) return false;
        for (const std::string& n : names) {
            if (!EndsWith(n, kEarlierSuffix)) continue;
            const std::string day = n.substr(0, n.size() - std::string(kEarlierSuffix).size());
            if (toolkit::ValidDay(day) && !f.days.Exists(day) &&
                !work.RenameTo(n, f.days, day, error, false))
                return false;
        }
        work.Close();
    }
    if (!f.run.RemoveTree("work", error) || !f.run.RemoveTree("replaced", error)) return false;
    platform::RemoveStaleTemporaries(f.top.Path(), {"report.html"});
    platform::RemoveStaleTemporaries(f.run.Path(),
                                     {"plan.tsv", "elements.tle", "configfile", "tasks.log", "days.list"});
    return true;
}

} // namespace campaign
