#ifndef CAMPAIGN_TASK_H
#define CAMPAIGN_TASK_H

#include <map>
#include <string>
#include <vector>

namespace campaign {

// What the driver hands every task of a run: CAMPAIGN/run/plan.tsv, the
// settings as "key<TAB>value" lines, then one "day<TAB>DAY<TAB>PACKETFILE"
// line per day to run.
struct Plan {
    std::map<std::string, std::string> settings;
    std::vector<std::pair<std::string, std::string>> days;   // day, packet file
};
std::string PlanText(const Plan& plan);
bool ParsePlan(const std::string& text, Plan& plan);

// The plan's file in a campaign folder.
std::string PlanPath(const std::string& campaign);

// `trokcampaign task CAMPAIGN DAY...`: runs the days, one after the other,
// each ending with its result file; returns the exit status (0 when every
// day got its result, 143 when stopped by SIGTERM, 255 when the plan cannot
// be read).
int RunTask(const std::string& campaign, const std::vector<std::string>& days);

} // namespace campaign

#endif
