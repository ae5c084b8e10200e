#ifndef CAMPAIGN_RESULT_FILE_H
#define CAMPAIGN_RESULT_FILE_H

#include <string>
#include <vector>

#include "campaign_record.h"

// A day's result file (ResultText, campaign_record.h): the task writes it,
// the engines and the driver read it. A task makes a day's files in
// CAMPAIGN/run/work/DAY/ and, once the day has its verdict, puts the folder
// in place of CAMPAIGN/days/DAY/ in one step, its result.txt with it; a day
// that came to no verdict (stopped, no space) leaves its work and its result
// in run/work/DAY/ until the next run. A result belongs to a run by the
// run's number and its token, which nobody can guess.
namespace campaign {

// CAMPAIGN/days/DAY/result.txt
std::string ResultPath(const std::string& campaignDir, const std::string& day);

// The day's result of run `runId` with token `token`: from days/DAY (a day
// put in place), else from run/work/DAY (a day that came to no verdict).
// False when it has none (the task ended before it, or the result is of
// another run, or not a file of the user's own). A result put in place
// gets its hash and identity (result_sha256, products_signature).
bool ReadResult(const std::string& campaignDir, long long runId, const std::string& token, const std::string& day,
                DayRecord& record, std::vector<Node>& nodes);
bool HasResult(const std::string& campaignDir, long long runId, const std::string& token, const std::string& day);

} // namespace campaign

#endif
