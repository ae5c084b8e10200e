#ifndef PIPELINE_DAY_JOB_H
#define PIPELINE_DAY_JOB_H

#include <string>

// trokday's job: one packet file to checked products in a folder, with one
// line in a run log and a record of what made them (made_record.h).
namespace pipeline {

// What a job is asked to do (trokday's command line).
struct JobRequest {
    std::string packet, elements, outdir;
    std::string config = "/dev/null";
    std::string runlog;          // "": OUTDIR/runlog.tsv
    std::string name;            // the products' name; "": from the packet file
    std::string maxElementAge;   // for the check, as given; "": its default
    bool skipDone = false, exports = false, plots = false;
    double timeLimit = 0;        // seconds from the job's start; 0: none
};

// The job's exit statuses, besides 128 + n for a stop by signal n and
// trokproc's own for a trokproc that failed otherwise.
constexpr int kJobOk = 0;
constexpr int kJobUsage = 2;        // wrong arguments, a program not found: nothing logged
constexpr int kJobCheckFailed = 3;
constexpr int kJobRefused = 255;    // trokproc refused the input

// Runs the job: stale temporaries of its products removed, trokproc, the
// check, the exports and the quicklook page, the record, the run log's
// line. Messages name the program as toolkit::ProgramName() gives it.
// `started`: the job's start (seconds since 1970), for its time limit.
int RunJob(const JobRequest& request, double started);

} // namespace pipeline

#endif
