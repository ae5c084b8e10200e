#ifndef CAMPAIGN_REPORT_H
#define CAMPAIGN_REPORT_H

#include <map>
#include <string>

#include "campaign_catalog.h"

namespace campaign {

// CAMPAIGN/report.html: one page without outside files: counts per outcome,
// a calendar coloured by outcome (the reason on hover), trends per day, the
// breaks between days, the days that are not ok with the command that redoes
// one, and links to the days' quicklook pages.
std::string ReportHtml(const std::string& campaignDir, const std::map<std::string, DayRow>& days,
                       const std::map<std::string, std::string>& settings);
bool WriteReport(const std::string& campaignDir, const std::map<std::string, DayRow>& days,
                 const std::map<std::string, std::string>& settings, std::string& error);
// The campaign's settings that the report shows, from its catalog.
std::map<std::string, std::string> ReportSettings(Catalog& catalog);

// `trokcampaign status CAMPAIGN [--json]` and `trokcampaign report CAMPAIGN`.
int StatusCommand(const std::string& campaign, bool json);
int ReportCommand(const std::string& campaign);

} // namespace campaign

#endif
