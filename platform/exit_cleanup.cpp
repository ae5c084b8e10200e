#include "platform/exit_cleanup.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/temp_registry.h"

namespace platform {

namespace {

const int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGXFSZ, SIGABRT};

extern "C" void RemoveAtExit() { RemoveTemporaries(); }

extern "C" void RemoveAndReraise(int sig)
{
    const int savedErrno = errno;
    RemoveTemporaries();
    // Default action again; the signal stays blocked until the handler
    // returns and then ends the process as it would have without us.
    signal(sig, SIG_DFL);
    raise(sig);
    errno = savedErrno;
}

} // namespace

void InstallExitCleanup()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    std::atexit(RemoveAtExit);
    for (int sig : kCleanupSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0) continue;
        if (old.sa_handler == SIG_IGN) continue;   // nohup and the like: stay ignored
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = RemoveAndReraise;
        sigemptyset(&sa.sa_mask);
        for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
        sigaction(sig, &sa, nullptr);
    }
}

} // namespace platform
