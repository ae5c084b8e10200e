#include "pipeline/outcome.h"

namespace pipeline {

namespace {

const struct {
    Outcome outcome;
    const char* name;
} kNames[] = {
    {Outcome::Ok, "ok"},
    {Outcome::Skipped, "skipped"},
    {Outcome::InputRefused, "input-refused"},
    {Outcome::CheckFailed, "check-failed"},
    {Outcome::NoElements, "no-elements"},
    {Outcome::Failed, "failed"},
    {Outcome::Stopped, "stopped"},
    {Outcome::TimeLimit, "time-limit"},
    {Outcome::Missing, "missing"},
    {Outcome::NoSpace, "no-space"},
};

} // namespace

const char* OutcomeName(Outcome outcome)
{
    for (const auto& n : kNames)
        if (n.outcome == outcome) return n.name;
    return "?";
}

bool ParseOutcome(const std::string& name, Outcome& outcome)
{
    for (const auto& n : kNames)
        if (name == n.name) {
            outcome = n.outcome;
            return true;
        }
    return false;
}

} // namespace pipeline
