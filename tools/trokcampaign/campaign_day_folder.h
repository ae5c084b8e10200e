#ifndef CAMPAIGN_DAY_FOLDER_H
#define CAMPAIGN_DAY_FOLDER_H

#include <string>

#include "campaign_folder.h"
#include "platform/folder.h"
#include "platform/lock_file.h"

// Where a task makes a day's files, and how they take the day's place: a
// fresh run/work/DAY/, the day's lock run/work/DAY.lock held meanwhile (a
// rerun refuses to start while a task of an earlier run holds one); once
// the day has its verdict, the work folder takes the place of days/DAY/ in
// one step, so that the day's earlier files stay whole until the new ones
// are all there, and a redo that does not finish (a stop, the time limit,
// a full disk) leaves them as they were.
namespace campaign {

class DayFolder
{
public:
    DayFolder() = default;
    // The day's lock goes with its file: the folder keeps no lock of a day
    // that nobody works on.
    ~DayFolder();
    DayFolder(const DayFolder&) = delete;
    DayFolder& operator=(const DayFolder&) = delete;

    // The day's lock taken (false with `busy` when a task holds it) and a
    // fresh work folder made. False with a reason.
    bool Begin(const CampaignFolder& campaign, const std::string& day, bool& busy, std::string& error);

    const platform::Folder& Work() const { return work; }

    // The work folder put in place of days/DAY. When the earlier folder
    // holds a product or quicklook page that the new one lacks (its verdict
    // changed), the earlier folder is kept as run/replaced/DAY until the
    // next run (`kept`); otherwise it goes. False with a reason when the
    // work could not be put in place; the earlier folder then stays.
    bool Commit(bool& kept, std::string& error);

    // What the day made, but its log and result: removed from the work
    // folder (to give back the space of a full file system).
    void DropProducts();

private:
    bool LacksEarlierFiles(const platform::Folder& earlier) const;
    bool SetAside(const std::string& name, bool keep, std::string& error);

    const CampaignFolder* campaign = nullptr;
    std::string day;
    platform::Folder workRoot, work;
    platform::LockFile lock;
};

} // namespace campaign

#endif
