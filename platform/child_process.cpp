#include "platform/child_process.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// How often a child under a time limit is looked at.
const int kPollMs = 10;

// The signals a child starts with at their default actions.
const int kDefaultSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE};

// This process's environment with `env` set over it.
std::vector<std::string> Environment(const std::vector<std::pair<std::string, std::string>>& env)
{
    std::vector<std::string> all;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& kv : env)
            replaced = replaced || entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0;
        if (!replaced) all.push_back(entry);
    }
    for (const auto& kv : env) all.push_back(kv.first + "=" + kv.second);
    return all;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (const std::string& s : strings) p.push_back(const_cast<char*>(s.c_str()));
    p.push_back(nullptr);
    return p;
}

int Spawn(const ChildSpec& launch, pid_t& pid)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    if (launch.out >= 0) posix_spawn_file_actions_adddup2(&files, launch.out, 1);
    if (launch.err >= 0) posix_spawn_file_actions_adddup2(&files, launch.err, 2);
    // The same number on both sides: the descriptor stays open across exec.
    for (int fd : launch.keep) posix_spawn_file_actions_adddup2(&files, fd, fd);
    if (!launch.folder.empty()) posix_spawn_file_actions_addchdir_np(&files, launch.folder.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : kDefaultSignals) sigaddset(&defaults, sig);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const std::vector<std::string> env = Environment(launch.env);
    std::vector<char*> args = Pointers(launch.argv), envp = Pointers(env);
    const int spawned = launch.argv.empty() ? ENOENT : posix_spawn(&pid, args[0], &files, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    return spawned;
}

// `from` under the number `to`, kept open across exec (dup2 alone leaves
// the flags of a descriptor moved onto itself as they were).
bool MoveTo(int from, int to)
{
    if (from == to) return fcntl(to, F_SETFD, 0) == 0;
    return dup2(from, to) == to;
}

// The child's side of ForkExec, between fork and exec: only
// async-signal-safe calls. Returns the errno of the step that failed.
int BecomeChild(const ChildSpec& launch, pid_t parent, char* const* args, char* const* envp)
{
    if (prctl(PR_SET_PDEATHSIG, launch.parentDeathSignal) != 0) return errno;
    if (getppid() != parent) _exit(127);   // it died before the setting took
    // Handlers of the parent's must not run here: every caught signal to
    // its default action, as exec would, and those of kDefaultSignals too.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction sa;
        if (sigaction(sig, nullptr, &sa) != 0) continue;
        bool reset = sa.sa_handler != SIG_DFL && sa.sa_handler != SIG_IGN;
        for (int d : kDefaultSignals) reset = reset || d == sig;
        if (!reset) continue;
        sa = {};
        sa.sa_handler = SIG_DFL;
        sigaction(sig, &sa, nullptr);
    }
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0 || !MoveTo(null, 0)) return errno;
    if (launch.out >= 0 && !MoveTo(launch.out, 1)) return errno;
    if (launch.err >= 0 && !MoveTo(launch.err, 2)) return errno;
    for (int fd : launch.keep)
        if (!MoveTo(fd, fd)) return errno;
    if (!launch.folder.empty() && chdir(launch.folder.c_str()) != 0) return errno;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(args[0], args, envp);
    return errno;
}

// Starts the child with fork and exec, for what posix_spawn cannot set up
// (the parent-death signal). A failed start is told through a pipe that
// closes on exec, so that the caller learns it as posix_spawn tells it.
int ForkExec(const ChildSpec& launch, pid_t& pid)
{
    if (launch.argv.empty()) return ENOENT;
    const std::vector<std::string> env = Environment(launch.env);
    std::vector<char*> args = Pointers(launch.argv), envp = Pointers(env);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return errno;
    const pid_t parent = getpid();
    sigset_t all, saved;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &saved);
    pid = fork();
    if (pid == 0) {
        const int err = BecomeChild(launch, parent, args.data(), envp.data());
        (void)!write(report[1], &err, sizeof err);
        _exit(127);
    }
    const int forkErr = errno;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return forkErr;
    }
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n != static_cast<ssize_t>(sizeof err)) return 0;   // closed by exec: it runs
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return err;
}

} // namespace

bool Child::Start(const ChildSpec& launch)
{
    *this = Child();
    limit = launch.limit;
    grace = launch.grace;
    group = launch.group;
    started = Clock::now();
    const int spawned = launch.parentDeathSignal != 0 ? ForkExec(launch, pid) : Spawn(launch, pid);
    if (spawned == 0) {
        end.started = true;
        return true;
    }
    pid = -1;
    ended = true;
    end.error = spawned;
    end.status = 127;
    return false;
}

void Child::Terminate()
{
    if (termed || ended) return;
    kill(pid, SIGTERM);
    termed = true;
    termSent = Clock::now();
}

// Once a group leader sent SIGTERM has ended (pgsentry leaves as soon as it
// has passed the signal on), its group gets a moment to clean up; then
// what is left of it is killed.
void Child::EndGroup()
{
    bool left = kill(-pid, 0) == 0;
    for (long k = 0; k < std::lround(grace * 50) && left; ++k) {
        usleep(20000);
        left = kill(-pid, 0) == 0;
    }
    if (left) kill(-pid, SIGKILL);
}

bool Child::Reaped(int options)
{
    int ws = 0;
    pid_t done;
    while ((done = waitpid(pid, &ws, options)) < 0 && errno == EINTR) {
    }
    if (done == 0) return false;
    ended = true;   // also when it cannot be waited for (ECHILD): nothing more will come
    if (done != pid) return true;
    end.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (WIFEXITED(ws)) end.status = WEXITSTATUS(ws);
    if (WIFSIGNALED(ws)) end.signal = WTERMSIG(ws);
    if (termed && group) EndGroup();
    return true;
}

bool Child::Poll()
{
    if (ended) return true;
    if (Reaped(WNOHANG)) return true;
    const Clock::time_point now = Clock::now();
    if (!termed && limit > 0 && std::chrono::duration<double>(now - started).count() > limit) {
        end.timedOut = true;
        Terminate();
    } else if (termed && std::chrono::duration<double>(now - termSent).count() > grace) {
        if (group) kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
    }
    return false;
}

void Child::Wait()
{
    if (ended) return;
    if (limit <= 0 && !termed) {
        Reaped(0);
        return;
    }
    while (!Poll()) usleep(kPollMs * 1000);
}

ChildEnd RunChild(const ChildSpec& launch, std::string* output, bool errorsToo)
{
    Child child;
    if (!output) {
        if (child.Start(launch)) child.Wait();
        return child.End();
    }
    output->clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        ChildEnd failed;
        failed.error = errno;
        failed.status = 127;
        return failed;
    }
    ChildSpec s = launch;
    s.out = fds[1];
    if (errorsToo) s.err = fds[1];
    const bool started = child.Start(s);
    close(fds[1]);
    char buf[65536];
    while (started) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, launch.limit > 0 ? kPollMs : -1) > 0) {
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            output->append(buf, static_cast<size_t>(n));
        }
        if (launch.limit > 0) child.Poll();
    }
    close(fds[0]);
    child.Wait();
    return child.End();
}

} // namespace platform
