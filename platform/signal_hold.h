#ifndef PLATFORM_SIGNAL_HOLD_H
#define PLATFORM_SIGNAL_HOLD_H

#include <csignal>

namespace platform {

// Holds back every blockable signal for its lifetime: what comes meanwhile
// is delivered when it goes, so that the steps between cannot be cut apart
// (a temporary created and registered, a set of renames).
class SignalHold
{
public:
    SignalHold()
    {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &saved);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t saved;
};

} // namespace platform

#endif
