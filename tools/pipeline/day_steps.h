#ifndef PIPELINE_DAY_STEPS_H
#define PIPELINE_DAY_STEPS_H

#include <string>
#include <utility>
#include <vector>

#include "pipeline/check_report.h"
#include "pipeline/outcome.h"
#include "pipeline/programs.h"
#include "pipeline/time_limit.h"
#include "platform/child_process.h"

// A packet file's work once its inputs are settled: trokproc, the check of
// the pair as JSON, the exports and the quicklook page, each program a
// child of this process, in its process group (so that a stop signal to
// the group reaches the program that runs).
namespace pipeline {

struct DayWork {
    Programs programs;
    std::string packet, elements, config;    // the inputs
    std::string eph, att;                    // the products
    std::string oem, aem;                    // the exports to make ("" for none)
    std::string quicklook;                   // the quicklook page's folder ("" for none)
    std::string maxElementAge;               // the check's --max-element-age ("": its default)
    bool checkWithElements = false;          // the check reads the element file too (--tle)
    std::vector<std::pair<std::string, std::string>> env;   // set for every program
    // Where the programs' output goes: their standard output to `out`,
    // their standard error (also kept) copied to `err` as it comes, and
    // each command before it runs as a line "$ COMMAND" to `commands`
    // (-1: this process's own standard output and error, and nowhere).
    int out = -1, err = -1, commands = -1;
    TimeLimit limit;
};

// One program of the day, as it ran.
struct Step {
    std::string command;   // as a shell takes it ("" when it did not run)
    platform::ChildEnd end;
    std::string said;      // its standard error
    bool Ran() const { return !command.empty(); }
};

// How the day's work ended.
struct DayRun {
    Outcome outcome = Outcome::Ok;
    Step trokproc, check, oem, aem, plot;
    CheckReport report;              // the check's, when it ran
    bool quicklookMade = false;
    // A stop (Stopped, TimeLimit): its signal, whether this process got it
    // (otherwise it ended a program of the day: the group got it), and the
    // program that ran ("trokproc", "the check", "an export", "qlrplot").
    int signal = 0;
    bool noted = false;
    std::string during;
    std::vector<std::string> commands;   // every command run, in order
};

// The four steps, each after the one before it unless that ended the day:
// the exports only for a pair that passed, the quicklook page for any pair
// trokproc made. Once a stop signal has come no program starts, and the day
// is stopped at the step it reached.
DayRun RunDay(const DayWork& work);
void RunTrokproc(const DayWork& work, DayRun& run);
void RunCheck(const DayWork& work, DayRun& run);
void RunExports(const DayWork& work, DayRun& run);
void RunPlots(const DayWork& work, DayRun& run);

// A program's message: the first line of what it said that is neither
// blank nor a warning, "" when there is none.
std::string FirstMessage(const std::string& said);

// "status N", or "signal N" for a program that a signal ended.
std::string Ending(const platform::ChildEnd& end);

} // namespace pipeline

#endif
