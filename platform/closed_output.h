#ifndef PLATFORM_CLOSED_OUTPUT_H
#define PLATFORM_CLOSED_OUTPUT_H

#include <csignal>

namespace platform {

// For a program that must finish its work and keep its record when its
// output goes away (`run ... | head -1`, a terminal closed): while one of
// these lives SIGPIPE is ignored, so that a write to a pipe or socket that
// nobody reads any more fails with EPIPE instead of ending the process;
// when it goes, SIGPIPE gets back the action it replaced (the clean-up
// policy's, exit_cleanup.h, or the default). Children start with SIGPIPE
// at its default action all the same (child_process.h).
//
// A closed terminal sends SIGHUP (StopSignals notes it, stop_signals.h),
// and writes to it fail with EIO from then on.
class ClosedOutputGuard
{
public:
    ClosedOutputGuard();
    ~ClosedOutputGuard();
    ClosedOutputGuard(const ClosedOutputGuard&) = delete;
    ClosedOutputGuard& operator=(const ClosedOutputGuard&) = delete;

private:
    struct sigaction replaced;
    bool saved = false;
};

// Nothing written to `fd` can reach anyone any more: a pipe or socket with
// no reader, a terminal hung up, a descriptor not open. Asks without
// blocking or writing; a file, /dev/null or a pipe still read say false.
bool OutputGone(int fd);

} // namespace platform

#endif
