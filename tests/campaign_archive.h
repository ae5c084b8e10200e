#ifndef TESTS_CAMPAIGN_ARCHIVE_H
#define TESTS_CAMPAIGN_ARCHIVE_H

#include <string>
#include <vector>

// A 20-day archive made with trokgen, one run per day, of one continuous
// orbit (circular, so that the element sets may split the argument of
// latitude between perigee and mean anomaly as they like):
//   archive/YYYY/MM/DD.pkt from 2026-06-21 to 2026-07-10, with day 3 cut off
//   inside a packet, day 7 damaged by bytes that are no packet header, and
//   day 12 missing;
//   history.tle: element sets one hour before days 0 to 8, 18 and 19 (none
//   for days 9 to 17), shuffled, with one repeated set and one set of
//   another satellite; the set of day 5 has omega + M of 360 degrees or
//   more, so its orbits are numbered one higher.
// Each set's element number is 100 + its day. Made once for every test of
// the build, under a lock, and again when trokgen is newer.
struct CampaignArchive {
    std::string dir, archive, history;
    std::vector<std::string> days;        // the 20 days, YYYY-MM-DD
    std::vector<std::string> packetFiles; // per day ("" for the missing one)
};
const CampaignArchive& TestArchive();

// The packet file of day `index` as trokgen makes it, undamaged, written to `path`.
void MakeArchiveDay(int index, const std::string& path);

#endif
