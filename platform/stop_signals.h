#ifndef PLATFORM_STOP_SIGNALS_H
#define PLATFORM_STOP_SIGNALS_H

#include <csignal>
#include <ctime>
#include <initializer_list>
#include <utility>
#include <vector>

namespace platform {

// A program's own handler for some signals, for a while: from construction
// on, each of `signals` goes to `handler` (restarting interrupted calls);
// when the object goes, each gets back the action it replaced, whatever
// that was (the clean-up policy's, a default, an ignore).
class SignalHandlers
{
public:
    SignalHandlers(void (*handler)(int), std::initializer_list<int> signals);
    ~SignalHandlers();
    SignalHandlers(const SignalHandlers&) = delete;
    SignalHandlers& operator=(const SignalHandlers&) = delete;

private:
    std::vector<std::pair<int, struct sigaction>> replaced;
};

// The stop signals of a program that ends its work itself rather than at
// once (a driver that stops its tasks and writes what they did): while one
// of these is in place, SIGINT, SIGTERM and SIGHUP are noted instead of
// ending the process (the last one that came, and when), and they cut a
// Doze short; with `wakeOnChild` SIGCHLD does too, without being noted, so
// that a program waiting for its children wakes when one ends. When it goes,
// the actions it replaced are back: the clean-up policy's
// (exit_cleanup.h), which still removes the temporaries at exit. One at a
// time in a process; the state it notes is the process's, hence static.
class StopSignals
{
public:
    explicit StopSignals(bool wakeOnChild = false);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when its wake-up pipe could not be made: Doze then sleeps the
    // whole time.
    bool Ready() const { return ready; }

    // The last stop signal that came, 0 before one; and when it came
    // (seconds since 1970, 0 before one).
    static int Noted();
    static time_t NotedAt();

    // Waits up to `ms` milliseconds, or until a signal comes.
    static void Doze(int ms);
    // The same, and until `fd` has something to read (a FolderWatch, a
    // pipe): true when it has. Without a StopSignals in place, waits for
    // `fd` alone.
    static bool Await(int fd, int ms);

private:
    bool ready = false;
    SignalHandlers handlers;
};

} // namespace platform

#endif
