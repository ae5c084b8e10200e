#include "campaign_failure.h"

namespace campaign {

void Fail(const std::string& message) { throw Failure{message}; }

} // namespace campaign
