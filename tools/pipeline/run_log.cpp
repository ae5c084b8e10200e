#include "pipeline/run_log.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "platform/append_file.h"
#include "toolkit/cli/tab_fields.h"

namespace pipeline {

namespace {

const size_t kReasonCharacters = 300;

// The first `n` characters of UTF-8 text (a byte that begins no character
// counts as one), "..." after them when there were more.
std::string CutText(const std::string& text, size_t n)
{
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80 && i > 0) continue;   // inside a character
        if (++characters > n) return text.substr(0, i) + "...";
    }
    return text;
}

} // namespace

std::string RunLogText(const RunLogLine& l)
{
    char when[32] = "";
    struct tm utc;
    if (gmtime_r(&l.end, &utc)) strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    const long long ms = static_cast<long long>(std::floor(std::max(0.0, l.seconds) * 1000));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lld.%03lld", ms / 1000, ms % 1000);
    return std::string(when) + "\t" + toolkit::TabField(l.host) + "\t" + toolkit::TabField(l.packet) + "\t" +
           std::to_string(l.status) + "\t" + OutcomeName(l.outcome) + "\t" + l.records + "\t" + l.orbits + "\t" +
           seconds + "\t" + (l.reason.empty() ? "-" : toolkit::TabField(CutText(l.reason, kReasonCharacters))) + "\n";
}

std::string HostName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "";
    return buf;
}

bool AppendRunLog(const std::string& log, const std::string& text, std::string& message)
{
    std::string why;
    bool refused = false;
    const int fd = platform::OpenForAppend(log, why, refused);
    if (fd < 0) {
        message = log + (refused ? ": " + why + "; the run line is not written" : ": cannot append the run line");
        return false;
    }
    ssize_t n;
    while ((n = write(fd, text.data(), text.size())) < 0 && errno == EINTR) {
    }
    const bool closed = close(fd) == 0;
    if (n != static_cast<ssize_t>(text.size()) || !closed) {
        message = log + ": cannot append the run line";
        return false;
    }
    return true;
}

} // namespace pipeline
