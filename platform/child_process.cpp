#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// How often a child under a time limit is looked at.
const int kPollMs = 10;

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

int Spawn(const ChildSpec& spec, pid_t& pid)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    if (spec.out >= 0) posix_spawn_file_actions_adddup2(&files, spec.out, 1);
    if (spec.err >= 0) posix_spawn_file_actions_adddup2(&files, spec.err, 2);
    // The same number on both sides: the descriptor stays open across exec.
    for (int fd : spec.keep) posix_spawn_file_actions_adddup2(&files, fd, fd);
    if (!spec.folder.empty()) posix_spawn_file_actions_addchdir_np(&files, spec.folder.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const std::vector<std::string> env = Environment(spec.env);
    std::vector<char*> args = Pointers(spec.argv), envp = Pointers(env);
    const int spawned = spec.argv.empty() ? ENOENT : posix_spawn(&pid, args[0], &files, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    return spawned;
}

} // namespace

bool Child::Start(const ChildSpec& spec)
{
    *this = Child();
    limit = spec.limit;
    group = spec.group;
    started = Clock::now();
    const int spawned = Spawn(spec, pid);
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
    for (int k = 0; k < 100 && left; ++k) {
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
    } else if (termed && std::chrono::duration<double>(now - termSent).count() > kGraceSeconds) {
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

ChildEnd RunChild(const ChildSpec& spec, std::string* output, bool errorsToo)
{
    Child child;
    if (!output) {
        if (child.Start(spec)) child.Wait();
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
    ChildSpec s = spec;
    s.out = fds[1];
    if (errorsToo) s.err = fds[1];
    const bool started = child.Start(s);
    close(fds[1]);
    char buf[65536];
    while (started) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, spec.limit > 0 ? kPollMs : -1) > 0) {
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            output->append(buf, static_cast<size_t>(n));
        }
        if (spec.limit > 0) child.Poll();
    }
    close(fds[0]);
    child.Wait();
    return child.End();
}

} // namespace platform
