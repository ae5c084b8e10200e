#ifndef CAMPAIGN_SOURCES_H
#define CAMPAIGN_SOURCES_H

#include <map>
#include <string>

#include "campaign_run.h"

// Where a run's days come from: an archive DIR/YYYY/MM/DD.pkt or a list of
// packet files, each day with its file.
namespace campaign {

// The days of the archive or the list, each with its packet file; days
// between the archive's first and last without one have "". A name in the
// archive's form that is no day of the calendar (2026/02/30.pkt) is left
// out with a warning. A listed file whose name holds no day is dated by its
// first packet, opened as an input: a FIFO, device or folder is refused
// unopened. Throws Failure.
std::map<std::string, std::string> PlannedDays(const RunOptions& o);

} // namespace campaign

#endif
