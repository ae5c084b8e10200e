#include "pipeline/time_limit.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

namespace pipeline {

TimeLimit TimeLimit::After(double start, double seconds)
{
    TimeLimit t;
    t.at = start + seconds;
    return t;
}

TimeLimit TimeLimit::FromEnvironment()
{
    TimeLimit t;
    const char* text = std::getenv("TROK_TIME_LIMIT_AT");
    if (!text || !*text || std::string(text).find_first_not_of("0123456789") != std::string::npos ||
        std::string(text).size() > 15)
        return t;
    t.at = static_cast<double>(std::atoll(text));
    return t;
}

TimeLimit TimeLimit::Earlier(const TimeLimit& other) const
{
    if (!Set()) return other;
    if (!other.Set()) return *this;
    return other.at < at ? other : *this;
}

bool TimeLimit::Reached(int sig, double when) const { return Set() && sig == SIGTERM && when + 1 >= at; }

double Now()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace pipeline
