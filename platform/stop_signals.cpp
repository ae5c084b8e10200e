#include "platform/stop_signals.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

volatile sig_atomic_t noted = 0;
volatile time_t notedAt = 0;
int wakeFd = -1;   // the wake-up pipe's writing end
int dozeFd = -1;   // and its reading end

extern "C" void OnStopSignal(int sig)
{
    const int saved = errno;
    if (sig != SIGCHLD) {
        noted = sig;
        notedAt = time(nullptr);
    }
    const char c = 0;
    if (wakeFd >= 0) (void)!write(wakeFd, &c, 1);
    errno = saved;
}

// The pipe exists before the handlers do, and outlives them.
bool MakePipe()
{
    noted = 0;
    notedAt = 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    dozeFd = fds[0];
    wakeFd = fds[1];
    return true;
}

} // namespace

SignalHandlers::SignalHandlers(void (*handler)(int), std::initializer_list<int> signals)
{
    for (int sig : signals) {
        struct sigaction sa = {}, old;
        sa.sa_handler = handler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        if (sigaction(sig, &sa, &old) == 0) replaced.emplace_back(sig, old);
    }
}

SignalHandlers::~SignalHandlers()
{
    for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) sigaction(it->first, &it->second, nullptr);
}

StopSignals::StopSignals(bool wakeOnChild)
    : ready(MakePipe()),
      handlers(OnStopSignal, wakeOnChild ? std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP, SIGCHLD}
                                         : std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP})
{
}

StopSignals::~StopSignals()
{
    // The pipe goes before the handlers (the member's destructor runs after
    // this one): the signals are held back while it is taken from them, so
    // that no handler writes to it once it is closed (or its number reused).
    sigset_t stops, saved;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &saved);
    const int w = wakeFd, d = dozeFd;
    wakeFd = dozeFd = -1;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (w >= 0) close(w);
    if (d >= 0) close(d);
}

int StopSignals::Noted() { return noted; }

time_t StopSignals::NotedAt() { return notedAt; }

void StopSignals::Doze(int ms)
{
    if (dozeFd < 0) {
        poll(nullptr, 0, ms);
        return;
    }
    pollfd p{dozeFd, POLLIN, 0};
    poll(&p, 1, ms);
    char buf[256];
    while (read(dozeFd, buf, sizeof buf) > 0) {
    }
}

bool StopSignals::Await(int fd, int ms)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {dozeFd, POLLIN, 0}};
    const int n = poll(p, dozeFd >= 0 ? 2 : 1, ms);
    if (dozeFd >= 0 && (p[1].revents & POLLIN)) {
        char buf[256];
        while (read(dozeFd, buf, sizeof buf) > 0) {
        }
    }
    return n > 0 && (p[0].revents & POLLIN) != 0;
}

} // namespace platform
