#ifndef PIPELINE_CHECK_REPORT_H
#define PIPELINE_CHECK_REPORT_H

#include <optional>
#include <string>
#include <vector>

// What `qlrdump --check --json` says of a product pair, read from its JSON.
namespace pipeline {

struct CheckReport {
    bool verdict = false;   // the JSON could be read
    bool passed = false;    // as the JSON says (the caller also looks at the status)
    std::optional<long long> records, orbits;
    std::vector<std::string> faults;     // the messages, in order
    std::vector<std::string> warnings;
    std::vector<std::string> numbering;  // the warnings on orbit numbers
    // Every orbit after the first, as the numbering model judges it
    // (toolkit/numbering/orbitnumbers.h).
    struct Node {
        long long orbit = 0, record = 0;
        double offsetSeconds = 0;   // observed crossing minus predicted node
        int numbering = 0;          // -1, 0, 1: which revolution's number it carries
        double crossingTai93 = 0;
    };
    std::vector<Node> nodes;
    std::optional<int> firstOrbitNumbering;
};

// False (verdict false) when `json` is no check report.
bool ReadCheckReport(const std::string& json, CheckReport& report);

} // namespace pipeline

#endif
