#ifndef CAMPAIGN_FAILURE_H
#define CAMPAIGN_FAILURE_H

#include <string>

namespace campaign {

// A failure that ends `trokcampaign run` with its message and status 255:
// thrown where it is found, so that the driver's callers decide how it ends
// (the run fails; status and report warn and show the catalog as it is).
struct Failure {
    std::string message;
};
[[noreturn]] void Fail(const std::string& message);

} // namespace campaign

#endif
