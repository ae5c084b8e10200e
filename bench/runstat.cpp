// Runs a command and reports its wall time, processor times and peak
// resident set size:
//
//   runstat COMMAND [ARG...]
//       prints "WALL_SECONDS USER_SECONDS SYSTEM_SECONDS PEAK_RSS_KIB" on stderr
//
// The wall time less the user and system times is the time the command
// spent waiting (on the disk, mostly, or for a processor on a busy machine).
// A small process of its own forks the command, so the peak RSS that wait4
// reports is the command's and not that of a large parent (a forked child
// keeps its parent's high-water mark across exec). Standard output of the
// command is passed through; the exit status is the command's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: runstat COMMAND [ARG...]\n");
        return 2;
    }
    timespec t0{}, t1{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("runstat: fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        std::perror("runstat: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("runstat: wait4");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    const double wall = static_cast<double>(t1.tv_sec - t0.tv_sec) + 1e-9 * static_cast<double>(t1.tv_nsec - t0.tv_nsec);
    const auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + 1e-6 * static_cast<double>(tv.tv_usec);
    };
    std::fprintf(stderr, "%.6f %.6f %.6f %ld\n", wall, seconds(usage.ru_utime), seconds(usage.ru_stime),
                 usage.ru_maxrss);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
