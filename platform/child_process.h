#ifndef PLATFORM_CHILD_PROCESS_H
#define PLATFORM_CHILD_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Child processes: started with posix_spawn (no copy of a large parent's
// memory), standard input from /dev/null, SIGINT, SIGTERM, SIGHUP, SIGCHLD
// and SIGPIPE at their default actions and no signal held back, whatever
// the parent does with them.

// Between SIGTERM and SIGKILL, unless a child is given another time.
const double kGraceSeconds = 2.0;

// How a child starts.
struct ChildSpec {
    std::vector<std::string> argv;   // argv[0]: the program's path (program_lookup.h)
    // Set in its environment, over this process's own.
    std::vector<std::pair<std::string, std::string>> env;
    int out = -1;   // standard output goes to this descriptor (above 2); -1: to ours
    int err = -1;   // standard error likewise
    std::string folder;      // its working folder; "": ours
    std::vector<int> keep;   // descriptors it keeps under their own numbers, close-on-exec or not
    // The time limit, seconds from the start (0: none): then SIGTERM, and
    // SIGKILL `grace` seconds after that if it is still there.
    double limit = 0;
    double grace = kGraceSeconds;
    // The child makes itself the leader of a process group of its own (as
    // pgsentry does): the SIGKILL goes to the whole group, and once a child
    // sent SIGTERM has ended, what is left of its group gets `grace` seconds
    // to go before it is killed.
    bool group = false;
    // The signal the child gets when its parent dies (0: none), so that a
    // driver's tasks end with it even when it is killed with SIGKILL: set
    // with prctl(PR_SET_PDEATHSIG) in the child before it runs the program
    // (such a child is started with fork and exec), and if the parent is
    // already gone by then the child ends at once. Linux sends it when the
    // thread that started the child ends: start such children from the
    // thread that lives as long as the program (its main thread). The
    // setting survives exec, but not a change of the user (a set-user-ID
    // program drops it).
    int parentDeathSignal = 0;
};

// How a child ended.
struct ChildEnd {
    bool started = false;   // false: it could not be started; `error` says why
    int error = 0;          // errno of the failed start
    int status = -1;        // exit status (127 when it could not be started), or -1
    int signal = 0;         // the signal that ended it, or 0
    bool timedOut = false;  // its time limit was reached
    double seconds = 0;     // from start to end

    // The exit status as a shell reports it: 128 + the signal for one that
    // a signal ended.
    int ShellStatus() const { return signal ? 128 + signal : status; }
};

// One child from Start until it has ended and been reaped. Copyable (the
// copies share the process); the destructor leaves a running child alone.
class Child
{
public:
    // Starts it; false when it could not be started (End() says why).
    bool Start(const ChildSpec& launch);
    pid_t Pid() const { return pid; }

    // Without blocking: applies the time limit, and reaps the child once it
    // has ended. True once it has (End() then holds how).
    bool Poll();
    // Blocks until it has ended, applying the time limit.
    void Wait();
    // SIGTERM, once; SIGKILL follows the grace time later (in Poll or Wait).
    void Terminate();
    bool Terminated() const { return termed; }

    const ChildEnd& End() const { return end; }

private:
    using Clock = std::chrono::steady_clock;
    bool Reaped(int options);
    void EndGroup();

    pid_t pid = -1;
    double limit = 0, grace = kGraceSeconds;
    bool group = false;
    bool termed = false, ended = false;
    Clock::time_point started, termSent;
    ChildEnd end;
};

// Runs a child to its end. With `output`, its standard output is collected
// there (and its standard error too with `errorsToo`; else it goes to
// launch.err as usual).
ChildEnd RunChild(const ChildSpec& launch, std::string* output = nullptr, bool errorsToo = false);

} // namespace platform

#endif
