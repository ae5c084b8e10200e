#ifndef CAMPAIGN_LEVEL0_H
#define CAMPAIGN_LEVEL0_H

#include <string>
#include <vector>

#include "campaign_catalog.h"
#include "campaign_folder.h"

// A day's level-0 file in a campaign of recorder dumps: the telemetry
// packets of all the day's kept dumps merged (toolkit/packets/pktmerge.h)
// into CAMPAIGN/level0/YYYY/MM/DD.pkt, the packet file the day's run takes,
// and beside it DD.json: the day's level and version, its dumps and the
// merge's report, which the day's manifest carries.
namespace campaign {

struct DayLevel0 {
    std::string path;          // the packet file
    std::string sha256;        // of its bytes
    std::string gaps;          // what the merge found missing: "START-END" TAI93 seconds joined by ';'
    std::string reportJson;    // the merge's report
    std::vector<const DumpRow*> dumps;
};

// The day's level-0 path in the campaign (whether or not it exists).
std::string Level0Path(const std::string& campaignDir, const std::string& day);

// Merges the day's dumps (their kept copies in CAMPAIGN/dumps/) into its
// level-0 file, written only when its bytes change. False with a reason.
bool MergeDayDumps(const CampaignFolder& folder, const std::string& day, const std::vector<const DumpRow*>& dumps,
                   DayLevel0& out, std::string& error);

// The note beside the level-0 file for the version about to be made.
bool WriteLevel0Note(const CampaignFolder& folder, const std::string& day, const std::string& level,
                     long long version, const DayLevel0& merged, std::string& error);

// The note's text for a day's manifest, "" when the packet file is no
// level-0 file of the campaign or has no note.
std::string Level0NoteFor(const std::string& campaignDir, const std::string& packetPath);

} // namespace campaign

#endif
