#include "campaign_result_file.h"

#include "platform/file_reading.h"
#include "platform/file_signature.h"
#include "toolkit/hashing/sha256.h"

namespace campaign {

namespace {

bool ReadAt(const std::string& path, long long runId, const std::string& token, DayRecord& record,
            std::vector<Node>& nodes, std::string& text)
{
    std::string theirs, error;
    std::vector<Node> read;
    if (!platform::ReadOwnFile(path, text, error) || !ParseResult(text, record, read, &theirs) || token.empty() || theirs != token ||
        record.run_id != runId)
        return false;
    nodes = read;
    return true;
}

} // namespace

std::string ResultPath(const std::string& campaignDir, const std::string& day)
{
    return campaignDir + "/days/" + day + "/result.txt";
}

bool ReadResult(const std::string& campaignDir, long long runId, const std::string& token, const std::string& day,
                DayRecord& record, std::vector<Node>& nodes)
{
    std::string text, signature;
    const std::string placed = ResultPath(campaignDir, day);
    DayRecord fresh = record;
    if (ReadAt(placed, runId, token, fresh, nodes, text)) {
        fresh.result_sha256 = toolkit::Sha256Hex(text);
        if (fresh.MadeProducts() && platform::FileSignature(placed, signature))
            fresh.products_signature = fresh.products_signature.value_or("") + "days/" + day + "/result.txt=" +
                                       signature + ";";
        record = fresh;
        return true;
    }
    fresh = record;
    if (ReadAt(campaignDir + "/run/work/" + day + "/result.txt", runId, token, fresh, nodes, text) &&
        fresh.Unfinished()) {
        record = fresh;
        return true;
    }
    return false;
}

bool HasResult(const std::string& campaignDir, long long runId, const std::string& token, const std::string& day)
{
    DayRecord record;
    std::vector<Node> nodes;
    return ReadResult(campaignDir, runId, token, day, record, nodes);
}

} // namespace campaign
