#ifndef TESTS_CAMPAIGN_ARCHIVE_H
#define TESTS_CAMPAIGN_ARCHIVE_H

#include <string>
#include <vector>

// A 20-day archive from trokgen --archive (one continuous orbit and its
// element-set history), archive/YYYY/MM/DD.pkt from 2026-06-21 to
// 2026-07-10 (days 0 to 19 here), with
//   day 3 (06-24) cut short inside a packet (--cut-days),
//   day 7 (06-28) with one bit of a position flipped (--flip-days): its
//     products fail the check,
//   day 9 (06-30) with a packet whose time does not increase
//     (--time-fault-days),
//   day 11 (07-02) missing (its file removed),
//   no element set with its epoch on days 10 to 17 (--tle-gap-days), so
//     that days 16 to 18 lie more than 7 days from the last set before them;
// history.tle: trokgen's sets (shuffled, one of them twice), one set of
// another satellite, and the set of 06-26 (number 1002, which serves day 6)
// written by hand as the same orbit with omega + M of 360 degrees or more
// (perigee and mean anomaly each half a turn on), so that day 6's orbits
// are numbered one higher than its neighbours'.
// sound/: the same archive without the flipped bit (every other day the
// same bytes). element.tle: the first set of the history alone. Made once
// for every test of the build, under a lock, and again when trokgen is
// newer.
struct CampaignArchive {
    std::string dir, archive, history, sound, element;
    std::vector<std::string> days;         // the 20 days, YYYY-MM-DD
    std::vector<std::string> packetFiles;  // per day ("" for the missing one)
    // The day's packet file in the archive without the flipped bit.
    std::string SoundFile(int day) const;
};
const CampaignArchive& TestArchive();

#endif
