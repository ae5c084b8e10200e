#ifndef CAMPAIGN_REPORT_H
#define CAMPAIGN_REPORT_H

#include <map>
#include <string>
#include <vector>

#include "campaign_catalog.h"

namespace campaign {

// CAMPAIGN/report.html, a view of the catalog's days that reaches no
// engine: one page without outside files: counts per outcome, a calendar
// coloured by outcome (the reason on hover), trends per day, the breaks
// between days, the days that are not ok with the command that redoes one,
// and links to the days' quicklook pages; for a campaign of recorder dumps,
// each day's level, version, dumps and what it still expects, with nrt,
// final and revised days marked in the calendar.
std::string ReportHtml(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                       const CampaignSettings& settings, const std::vector<VersionRow>& versions = {});
bool WriteReport(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                 const CampaignSettings& settings, std::string& error, const std::vector<VersionRow>& versions = {});

} // namespace campaign

#endif
