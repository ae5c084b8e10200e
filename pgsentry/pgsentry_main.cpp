// pgsentry: runs one command as its child inside a process group that the
// wrapper leads, and passes the command's exit status on. A SIGTERM sent to
// the wrapper is passed on to the whole group, so that a scheduler stopping
// the wrapper stops the command and everything the command started with it.
//
//   pgsentry command [argument ...]
//   pgsentry --help | --version      (only as the one argument)
//
// Exit status: the command's exit code; 128 + the signal number when the
// command was ended by a signal; 15 when the wrapper itself got SIGTERM;
// 255 when there is no command, the fork fails, or the command cannot be run.

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vn_version.h"

namespace {

static_assert(sizeof(pid_t) <= sizeof(sig_atomic_t), "a process id must fit a sig_atomic_t");

// The wrapper's own process id, which is also the id of the group it leads.
// Written once before the SIGTERM handler is installed.
volatile sig_atomic_t mypgrp = 0;

// Nonzero when the wrapper leads its process group, so that signalling the
// group reaches the command and its descendants but nobody outside.
volatile sig_atomic_t leadsGroup = 0;

// The command's process id once known, else 0. Written only while SIGTERM is
// blocked, so the handler never sees a child running without its id.
volatile sig_atomic_t childPid = 0;

const int execFailedStatus = 255;

// SIGTERM handler. Passes the signal on and ends the wrapper with status 15.
// Only async-signal-safe calls here. When the wrapper leads the group, the
// signal it sends itself through killpg stays blocked while the handler runs
// and _exit ends the wrapper before it is taken. When the wrapper could not
// make its own group, the inherited group may hold unrelated processes
// (the shell, the scheduler), so only the command is signalled.
extern "C" void killeveryone(int sig)
{
    if (leadsGroup) {
        killpg(static_cast<pid_t>(mypgrp), sig);
    } else if (childPid > 0) {
        kill(static_cast<pid_t>(childPid), sig);
    }
    _exit(sig);
}

// Maps a wait status to the wrapper's exit status, as shells do.
int PassedOnStatus(int wstatus)
{
    if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
    return 255;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fputs("usage: pgsentry command [argument ...]\n", stderr);
        return 255;
    }
    // As the one argument these are the wrapper's own options; anywhere else
    // they belong to the command.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs("usage: pgsentry command [argument ...]\n"
                   "Runs the command in a process group that pgsentry leads and passes a\n"
                   "SIGTERM it receives on to the whole group.\n"
                   "Status: the command's; 128 + N when the command was killed by signal N;\n"
                   "15 when pgsentry got SIGTERM; 255 when the command cannot be run.\n",
                   stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 255;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("pgsentry " TROK_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 255;
    }

    mypgrp = getpid();
    if (setpgid(static_cast<pid_t>(mypgrp), static_cast<pid_t>(mypgrp)) != 0) {
        std::perror("pgsentry setpgrp");
    }
    // A session leader cannot change its group (setpgid fails) but already
    // leads a group of its own id; the group may be signalled as a whole then.
    leadsGroup = getpgrp() == static_cast<pid_t>(mypgrp) ? 1 : 0;

    // SIGTERM stays blocked from before the handler is installed until the
    // child's id is stored, so a signal in between is taken only once the
    // handler can reach the child.
    sigset_t termOnly, savedMask;
    sigemptyset(&termOnly);
    sigaddset(&termOnly, SIGTERM);
    sigprocmask(SIG_BLOCK, &termOnly, &savedMask);

    struct sigaction action = {};
    action.sa_handler = killeveryone;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        std::perror("pgsentry fork");
        return 255;
    }
    if (pid == 0) {
        // The default action, as execvp would leave a caught signal: a
        // SIGTERM taken before the command runs ends the child at once.
        signal(SIGTERM, SIG_DFL);
        sigprocmask(SIG_SETMASK, &savedMask, nullptr);
        execvp(argv[1], argv + 1);
        // _exit, not exit: the parent's buffered output must not be
        // flushed a second time by the child.
        _exit(execFailedStatus);
    }
    childPid = pid;
    sigprocmask(SIG_SETMASK, &savedMask, nullptr);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) {
            std::perror("pgsentry waitpid");
            return 255;
        }
    }
    return PassedOnStatus(wstatus);
}
