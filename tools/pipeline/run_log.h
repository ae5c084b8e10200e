#ifndef PIPELINE_RUN_LOG_H
#define PIPELINE_RUN_LOG_H

#include <ctime>
#include <string>

#include "pipeline/outcome.h"

// The run log of the jobs: one tab-separated line per run, nine fields:
// end time (UTC), host, packet file, exit status, outcome, records, orbits,
// seconds, reason ("-" when the job went well; at most 300 characters, then
// "..."). Each field is escaped as toolkit/cli/tab_fields.h says, so that
// every line keeps its fields and a name reads back exactly.
namespace pipeline {

struct RunLogLine {
    time_t end = 0;
    std::string host, packet;
    int status = 0;
    Outcome outcome = Outcome::Ok;
    std::string records = "-", orbits = "-";   // from the check, "-" when there is none
    double seconds = 0;
    std::string reason;
};

// The line, its line break included.
std::string RunLogText(const RunLogLine& line);

// This machine's name, "" when it has none.
std::string HostName();

// Appends the line to the log with one write(2), so that the lines of jobs
// sharing a log on one machine do not mix. The log is refused as
// platform/append_file.h says (another user's link or file). False with the
// message to give: "LOG: <why>; the run line is not written", or "LOG:
// cannot append the run line".
bool AppendRunLog(const std::string& log, const std::string& text, std::string& message);

} // namespace pipeline

#endif
