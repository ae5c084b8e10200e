#ifndef CAMPAIGN_COMMANDS_H
#define CAMPAIGN_COMMANDS_H

#include <string>

namespace campaign {

// `trokcampaign status CAMPAIGN [--json]` and `trokcampaign report
// CAMPAIGN`: the catalog opened, a Slurm job of the last run folded in
// (campaign_foldin.h) when no other trokcampaign holds the campaign, then
// the view. The exit status.
int StatusCommand(const std::string& campaign, bool json);
int ReportCommand(const std::string& campaign);

} // namespace campaign

#endif
