#ifndef CAMPAIGN_REPORT_H
#define CAMPAIGN_REPORT_H

#include <map>
#include <string>

#include "campaign_catalog.h"

namespace campaign {

// CAMPAIGN/report.html, a view of the catalog's days that reaches no
// engine: one page without outside files: counts per outcome, a calendar
// coloured by outcome (the reason on hover), trends per day, the breaks
// between days, the days that are not ok with the command that redoes one,
// and links to the days' quicklook pages.
std::string ReportHtml(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                       const CampaignSettings& settings);
bool WriteReport(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                 const CampaignSettings& settings, std::string& error);

} // namespace campaign

#endif
