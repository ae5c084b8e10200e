#include "pipeline/day_steps.h"

#include <signal.h>
#include <unistd.h>

#include "platform/child_capture.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/shell_quote.h"

namespace pipeline {

namespace {

// The stop signal that ended a program: a stop reaches the whole process
// group, and a wrapper script reports it as status 128 + n.
int EndingSignal(const platform::ChildEnd& end)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL})
        if (end.signal == sig || end.status == 128 + sig) return sig;
    return 0;
}

// Runs one program of the day; its standard output into `out` when given.
// None starts once a stop signal has come: the day ends at this step.
Step Run(const DayWork& w, DayRun& run, const std::vector<std::string>& argv, std::string* out = nullptr)
{
    Step s;
    if (platform::StopSignals::Noted()) return s;
    s.command = toolkit::ShellCommand(argv);
    run.commands.push_back(s.command);
    if (w.commands >= 0) {
        const std::string header = "$ " + s.command + "\n";
        (void)!write(w.commands, header.data(), header.size());
    }
    platform::ChildSpec launch;
    launch.argv = argv;
    launch.env = w.env;
    launch.out = w.out;
    platform::ChildCapture capture;
    capture.out = out;
    capture.err = &s.said;
    capture.errCopy = w.err >= 0 ? w.err : 2;
    s.end = platform::RunChildCapturing(launch, capture);
    return s;
}

// A stop while `program` ran, from this process's own signal or from the
// signal that ended the program; false when there was none.
bool Stopped(const DayWork& w, const platform::ChildEnd& end, const char* program, DayRun& run)
{
    const int noted = platform::StopSignals::Noted();
    const int sig = noted ? noted : EndingSignal(end);
    if (!sig) return false;
    // Judged when the program has ended, which the signal ended (the moment
    // it was noted is kept to the second only).
    run.outcome = w.limit.Reached(sig, Now()) ? Outcome::TimeLimit : Outcome::Stopped;
    run.signal = sig;
    run.noted = noted != 0;
    run.during = program;
    return true;
}

bool Going(const DayRun& run) { return run.outcome == Outcome::Ok || run.outcome == Outcome::CheckFailed; }

} // namespace

std::string FirstMessage(const std::string& said)
{
    for (size_t a = 0; a < said.size();) {
        size_t b = said.find('\n', a);
        if (b == std::string::npos) b = said.size();
        const std::string line = said.substr(a, b - a);
        a = b + 1;
        if (line.find_first_not_of(" \t\r") != std::string::npos && line.find("warning:") == std::string::npos)
            return line;
    }
    return "";
}

std::string Ending(const platform::ChildEnd& end)
{
    return end.signal ? "signal " + std::to_string(end.signal) : "status " + std::to_string(end.status);
}

void RunTrokproc(const DayWork& w, DayRun& run)
{
    run.trokproc = Run(w, run, {w.programs.trokproc, "-configfile", w.config, "-packetfile", w.packet, "-noradfile",
                                w.elements, "-ephemerisfile", w.eph, "-attitudefile", w.att});
    const platform::ChildEnd& end = run.trokproc.end;
    if (Stopped(w, end, "trokproc", run) || (end.status == 0 && !end.signal)) return;
    run.outcome = end.status == 255 ? Outcome::InputRefused : Outcome::Failed;
}

void RunCheck(const DayWork& w, DayRun& run)
{
    std::vector<std::string> argv = {w.programs.qlrdump, "--check", "--json"};
    if (!w.maxElementAge.empty()) argv.insert(argv.end(), {"--max-element-age", w.maxElementAge});
    if (w.checkWithElements) argv.insert(argv.end(), {"--tle", w.elements});
    argv.insert(argv.end(), {w.eph, w.att});
    std::string json;
    run.check = Run(w, run, argv, &json);
    if (Stopped(w, run.check.end, "the check", run)) return;
    ReadCheckReport(json, run.report);
    const bool passed = run.report.verdict && run.report.passed && run.check.end.status == 0;
    run.outcome = passed ? Outcome::Ok : Outcome::CheckFailed;
}

void RunExports(const DayWork& w, DayRun& run)
{
    if (run.outcome != Outcome::Ok || w.oem.empty()) return;
    run.oem = Run(w, run, {w.programs.qlrdump, "--oem", w.eph, "--out", w.oem});
    const bool oemMade = run.oem.end.status == 0 && !run.oem.end.signal;
    if (oemMade) run.aem = Run(w, run, {w.programs.qlrdump, "--aem", w.eph, w.att, "--out", w.aem});
    if (Stopped(w, run.oem.end, "an export", run) || (run.aem.Ran() && Stopped(w, run.aem.end, "an export", run)))
        return;
    const bool aemMade = run.aem.Ran() && run.aem.end.status == 0 && !run.aem.end.signal;
    if (!oemMade || !aemMade) run.outcome = Outcome::CheckFailed;
}

void RunPlots(const DayWork& w, DayRun& run)
{
    if (!Going(run) || w.quicklook.empty()) return;
    run.plot = Run(w, run, {w.programs.qlrplot, w.eph, w.att, "-o", w.quicklook});
    if (Stopped(w, run.plot.end, "qlrplot", run)) return;
    run.quicklookMade = !run.plot.end.signal && (run.plot.end.status == 0 || run.plot.end.status == 1);
}

DayRun RunDay(const DayWork& w)
{
    DayRun run;
    RunTrokproc(w, run);
    if (run.outcome == Outcome::Ok) RunCheck(w, run);
    RunExports(w, run);
    RunPlots(w, run);
    return run;
}

} // namespace pipeline
