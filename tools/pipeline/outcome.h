#ifndef PIPELINE_OUTCOME_H
#define PIPELINE_OUTCOME_H

#include <string>

// How a packet file's job ended: one vocabulary for trokday's run log and
// status, and trokcampaign's catalog.
namespace pipeline {

enum class Outcome {
    Ok,            // products made and checked (exported, plotted when asked)
    Skipped,       // products already made from the same inputs, and checked (--skip-done)
    InputRefused,  // trokproc refused the packet file (status 255)
    CheckFailed,   // the pair fails the check, or an export refused it
    NoElements,    // no element set within the age limit (the campaign's own choice of set)
    Failed,        // trokproc ended otherwise: another status, or a signal that is no stop
    Stopped,       // a stop signal (SIGTERM, SIGINT, SIGHUP, SIGKILL) ended the work
    TimeLimit,     // a SIGTERM at the batch system's time limit ended it
    Missing,       // no packet file
    NoSpace,       // the file system was full (the campaign's own verdict: the day runs again)
};

// The outcome's word: "ok", "skipped", "input-refused", "check-failed",
// "no-elements", "failed", "stopped", "time-limit", "missing", "no-space".
const char* OutcomeName(Outcome outcome);
// The outcome of a word; false for any other text.
bool ParseOutcome(const std::string& name, Outcome& outcome);

} // namespace pipeline

#endif
