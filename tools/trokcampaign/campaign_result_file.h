#ifndef CAMPAIGN_RESULT_FILE_H
#define CAMPAIGN_RESULT_FILE_H

#include <string>
#include <vector>

#include "campaign_record.h"

// A day's result file, CAMPAIGN/days/DAY/result.txt (ResultText,
// campaign_record.h): the task writes it, the engines and the driver read
// it.
namespace campaign {

std::string ResultPath(const std::string& campaignDir, const std::string& day);

// The day's result of run `runId`; false when it has none (the task ended
// before it, or the result is of an earlier run).
bool ReadResult(const std::string& campaignDir, long long runId, const std::string& day, DayRecord& record,
                std::vector<Node>& nodes);
bool HasResult(const std::string& campaignDir, long long runId, const std::string& day);

} // namespace campaign

#endif
