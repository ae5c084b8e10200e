#ifndef TESTS_CAMPAIGN_DUMPS_H
#define TESTS_CAMPAIGN_DUMPS_H

#include <string>
#include <vector>

// What the tests of ingestion share: a day as trokgen's recorder dumps,
// the clean day run as a campaign, and looks into a campaign's catalog.

// A simulated day (trokgen --seed 21, gaps, repeats, other APIDs) in
// `dir`: dumps/ (14 files in arrival order, one resent), el.tle, and the
// campaign clean/ made by `run` from the clean day file.
struct DumpedDay {
    std::string dir, dumps, history, clean;
    std::vector<std::string> arrival;   // the dumps' names, in arrival order
    std::string resent;                 // the name of the resent copy
    std::string day = "2026-06-01";
};
DumpedDay MakeDumpedDay(const std::string& dir);

// A file of the dumps put into the inbox as a sender does: written under a
// name ending in .part, then renamed.
void Deliver(const std::string& from, const std::string& inbox, const std::string& name);

// The rows of a query on CAMPAIGN/catalog.sqlite: columns joined by '|',
// a line per row.
std::string Sql(const std::string& campaignDir, const std::string& query);

// The day's eph and att products of a campaign, byte for byte.
std::string Products(const std::string& campaignDir, const std::string& day);

// How many of the records of `campaignDir`'s products of the day that were
// not interpolated differ from `cleanDir`'s record at the same time (or
// have none there); `compared` counts the records looked at.
size_t MeasuredRecordsDiffering(const std::string& campaignDir, const std::string& cleanDir, const std::string& day,
                                size_t& compared);

#endif
