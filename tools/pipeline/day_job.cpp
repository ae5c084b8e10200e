#include "pipeline/day_job.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "pipeline/day_steps.h"
#include "pipeline/made_record.h"
#include "pipeline/product_names.h"
#include "pipeline/run_log.h"
#include "platform/atomic_stream.h"
#include "platform/make_dirs.h"
#include "platform/stale_temporaries.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "vn_version.h"

namespace pipeline {

namespace {

// The job's names, settled from the request.
struct Job {
    JobRequest r;
    std::string name, record;
    DayWork work;
};

bool Settle(const JobRequest& r, double started, Job& job)
{
    job.r = r;
    std::string missing;
    if (!FindPrograms(r.plots, job.work.programs, missing)) {
        std::string var = missing;
        for (char& c : var) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        toolkit::Say("cannot find " + missing + " (set " + var + " or put it on PATH)");
        return false;
    }
    // A folder named like an option reaches the check as a path, not an option.
    if (job.r.outdir[0] == '-') job.r.outdir = "./" + job.r.outdir;
    const platform::MadeDirs made = platform::MakeDirs(job.r.outdir);
    if (!made.ok) {
        toolkit::Say(made.at + ": cannot make the output folder: " + made.Reason());
        return false;
    }
    job.name = r.name.empty() ? ProductName(r.packet) : r.name;
    const std::string base = job.r.outdir + "/" + job.name;
    if (job.r.runlog.empty()) job.r.runlog = job.r.outdir + "/runlog.tsv";
    job.record = MadeRecordPath(job.r.outdir, job.name);
    DayWork& w = job.work;
    w.packet = r.packet;
    w.elements = r.elements;
    w.config = r.config;
    w.eph = base + ".eph";
    w.att = base + ".att";
    if (r.exports) {
        w.oem = base + ".oem";
        w.aem = base + ".aem";
    }
    if (r.plots) w.quicklook = base + ".quicklook";
    w.maxElementAge = r.maxElementAge;
    w.limit = TimeLimit::FromEnvironment();
    if (r.timeLimit > 0) w.limit = w.limit.Earlier(TimeLimit::After(started, r.timeLimit));
    return true;
}

// The programs' versions, as the record keeps them.
std::string Versions(const Job& job)
{
    std::string text = "trokday " TROK_VERSION "\n", line;
    for (const std::string* p : {&job.work.programs.trokproc, &job.work.programs.qlrdump, &job.work.programs.qlrplot})
        if (!p->empty() && (p != &job.work.programs.qlrplot || job.r.plots))
            text += (ProgramVersion(*p, line) ? line : *p + ": no version") + "\n";
    return text;
}

// The files the record holds: inputs, then the products made.
std::vector<std::pair<std::string, std::string>> RecordedFiles(const Job& job, bool exports, bool plots)
{
    const DayWork& w = job.work;
    std::vector<std::pair<std::string, std::string>> files = {
        {"packet", w.packet}, {"elements", w.elements}, {"config", w.config}, {"eph", w.eph}, {"att", w.att}};
    if (exports) files.insert(files.end(), {{"oem", w.oem}, {"aem", w.aem}});
    if (plots) files.emplace_back("quicklook", w.quicklook + "/report.html");
    return files;
}

void WriteRecord(const Job& job, const MadeRecord& record)
{
    std::string error;
    if (!platform::WriteFileAtomically(job.record, MadeRecordText(record), error))
        toolkit::Warn(job.record + ": cannot write: " + error);
}

void RecordWhatMade(const Job& job, const std::string& versions, const DayRun& run)
{
    MadeRecord record;
    record.madeBy = "trokday " TROK_VERSION;
    record.programs = versions;
    const bool exports = run.aem.Ran() && run.outcome == Outcome::Ok;
    for (const auto& f : RecordedFiles(job, exports, run.quicklookMade)) {
        MadeFile file;
        if (!Identify(f.first, f.second, file)) return;   // the next job runs again
        record.files.push_back(file);
    }
    WriteRecord(job, record);
}

// --skip-done: the products were made from these inputs by these programs,
// are still the ones made, and pass the check (run quietly).
bool Done(const Job& job, const std::string& versions, DayRun& run)
{
    MadeRecord record;
    bool changed = false;
    if (access(job.work.eph.c_str(), F_OK) != 0 || access(job.work.att.c_str(), F_OK) != 0 ||
        !ReadMadeRecord(job.record, record) || record.programs != versions ||
        !SameFiles(record, RecordedFiles(job, job.r.exports, job.r.plots), changed))
        return false;
    DayWork quiet = job.work;
    quiet.err = open("/dev/null", O_WRONLY | O_CLOEXEC);
    RunCheck(quiet, run);
    if (quiet.err >= 0) close(quiet.err);
    if (run.outcome != Outcome::Ok) return run.outcome == Outcome::Stopped || run.outcome == Outcome::TimeLimit;
    if (changed) WriteRecord(job, record);
    run.outcome = Outcome::Skipped;
    return true;
}

// The check's findings on standard error, as qlrdump words them.
void SayFindings(const CheckReport& report)
{
    for (const std::string& f : report.faults) std::cerr << "qlrdump: check failed: " << f << "\n";
    for (const std::string& w : report.warnings) std::cerr << "qlrdump: check warning: " << w << "\n";
    std::cerr.flush();
}

void RunSteps(const Job& job, const std::string& versions, DayRun& run)
{
    RunTrokproc(job.work, run);
    if (run.outcome != Outcome::Ok) return;
    RecordWhatMade(job, versions, run);
    RunCheck(job.work, run);
    SayFindings(run.report);
    RunExports(job.work, run);
    RunPlots(job.work, run);
    if (run.aem.Ran() || run.quicklookMade) RecordWhatMade(job, versions, run);
}

const char* SignalName(int sig)
{
    return sig == SIGTERM ? "SIGTERM" : sig == SIGINT ? "SIGINT" : sig == SIGHUP ? "SIGHUP" : "SIGKILL";
}

// The program of a step, as it names itself.
const char* ProgramOf(const std::string& step)
{
    return step == "trokproc" ? "trokproc" : step == "qlrplot" ? "qlrplot" : "qlrdump";
}

// A stop: by a signal to the job, or one that ended a program of it.
std::string StopReason(const DayRun& run)
{
    if (run.outcome == Outcome::TimeLimit) return "SIGTERM at the time limit";
    if (run.noted) return std::string("stopped by ") + SignalName(run.signal);
    return std::string(ProgramOf(run.during)) + " ended by signal " + std::to_string(run.signal);
}

// The program's message, else `otherwise`.
std::string MessageOr(const Step& step, const std::string& otherwise)
{
    const std::string m = FirstMessage(step.said);
    return m.empty() ? otherwise : m;
}

// Why a check-failed job failed: the check's first fault, as qlrdump words
// it, or the refused export.
std::string CheckFailure(const DayRun& run)
{
    if (!run.oem.Ran()) {
        if (!run.report.faults.empty()) return "qlrdump: check failed: " + run.report.faults.front();
        return MessageOr(run.check, "the check ended with " + Ending(run.check.end));
    }
    const Step& refused = run.aem.Ran() ? run.aem : run.oem;
    return MessageOr(refused, std::string(run.aem.Ran() ? "AEM" : "OEM") + " export refused (" +
                                  Ending(refused.end) + ")");
}

// The exit status and the run log's fields of the job's end; what the job
// says of it on standard error.
int JobEnding(const std::string& packet, const std::string& eph, const std::string& att, const DayRun& run,
              RunLogLine& line)
{
    line.outcome = run.outcome;
    const CheckReport& c = run.report;
    if ((run.outcome == Outcome::Ok || run.outcome == Outcome::Skipped) && c.records && c.orbits) {
        line.records = std::to_string(*c.records);
        line.orbits = std::to_string(*c.orbits);
    }
    switch (run.outcome) {
    case Outcome::Ok:
    case Outcome::Skipped:
        if (run.plot.Ran() && !run.quicklookMade) {
            line.reason = "no quicklook page: qlrplot ended with " + Ending(run.plot.end);
            toolkit::Warn(packet + ": " + line.reason);
        }
        return line.status = kJobOk;
    case Outcome::InputRefused:
        line.reason = MessageOr(run.trokproc, "trokproc refused the input");
        return line.status = kJobRefused;
    case Outcome::CheckFailed:
        line.reason = CheckFailure(run);
        toolkit::Say(packet + ": " + (run.oem.Ran() ? "export of " + eph + " failed"
                                                    : "check of " + eph + " and " + att + " failed"));
        return line.status = kJobCheckFailed;
    case Outcome::Stopped:
    case Outcome::TimeLimit:
        line.reason = StopReason(run);
        toolkit::Say(packet + ": " + line.reason);
        return line.status = 128 + run.signal;
    default:   // Failed
        line.reason = MessageOr(run.trokproc, "trokproc ended with " + Ending(run.trokproc.end));
        toolkit::Say(packet + ": trokproc ended with " + Ending(run.trokproc.end));
        return line.status = run.trokproc.end.ShellStatus();
    }
}

} // namespace

int RunJob(const JobRequest& request, double started)
{
    // A stop signal is noted: the running program gets it through the
    // group, the job ends itself and writes its line.
    const platform::StopSignals stops;
    Job job;
    if (!Settle(request, started, job)) return kJobUsage;
    platform::RemoveStaleTemporaries(job.r.outdir, {job.name + ".eph", job.name + ".att"});
    const std::string versions = Versions(job);
    DayRun run;
    if (!job.r.skipDone || !Done(job, versions, run)) {
        run = DayRun();
        RunSteps(job, versions, run);
    }
    RunLogLine line;
    const int status = JobEnding(request.packet, job.work.eph, job.work.att, run, line);
    line.end = time(nullptr);
    line.host = HostName();
    line.packet = request.packet;
    line.seconds = Now() - started;
    std::string message;
    if (!AppendRunLog(job.r.runlog, RunLogText(line), message)) toolkit::Say(message);
    return status;
}

} // namespace pipeline
