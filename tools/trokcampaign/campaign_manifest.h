#ifndef CAMPAIGN_MANIFEST_H
#define CAMPAIGN_MANIFEST_H

#include <string>
#include <utility>
#include <vector>

#include "campaign_record.h"
#include "campaign_run_plan.h"

// A day's days/DAY/manifest.json: every input with its hash (packet file,
// element set, configuration text), the program versions, the environment
// the day's programs got, every command run and the hash of every output.
namespace campaign {

struct ManifestFacts {
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> commands;
    std::vector<std::pair<std::string, std::string>> outputs;   // name, SHA-256
};

std::string ManifestText(const DayRecord& record, const RunSettings& settings, const ManifestFacts& facts);

} // namespace campaign

#endif
