#include "campaign_result_file.h"

#include "platform/file_reading.h"

namespace campaign {

std::string ResultPath(const std::string& campaignDir, const std::string& day)
{
    return campaignDir + "/days/" + day + "/result.txt";
}

bool ReadResult(const std::string& campaignDir, long long runId, const std::string& day, DayRecord& record,
                std::vector<Node>& nodes)
{
    std::string text, error;
    return platform::ReadWholeFile(ResultPath(campaignDir, day), text, error) && ParseResult(text, record, nodes) &&
           record.run_id == runId;
}

bool HasResult(const std::string& campaignDir, long long runId, const std::string& day)
{
    DayRecord record;
    std::vector<Node> nodes;
    return ReadResult(campaignDir, runId, day, record, nodes);
}

} // namespace campaign
