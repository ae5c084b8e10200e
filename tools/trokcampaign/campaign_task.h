#ifndef CAMPAIGN_TASK_H
#define CAMPAIGN_TASK_H

#include <string>
#include <vector>

namespace campaign {

// `trokcampaign task CAMPAIGN DAY...`: runs the days of the run's plan, one
// after the other, each ending with its result file; returns the exit
// status (0 when every day got its result, 128 + the signal when stopped,
// 255 when the plan or the element sets cannot be read).
int RunTask(const std::string& campaign, const std::vector<std::string>& days);

} // namespace campaign

#endif
