#include "platform/stale_temporaries.h"

#include <cctype>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

const std::string kSuffix = ".trokproc-tmp";

// "<pid>" or "<pid>.<6 letters or digits>" (only the latter when `random`
// is required) as the whole of `tail`; the pid, or 0.
pid_t PidAndRandom(const std::string& tail, bool random)
{
    size_t digits = 0;
    while (digits < tail.size() && std::isdigit(static_cast<unsigned char>(tail[digits]))) ++digits;
    if (digits == 0 || digits > 9) return 0;
    if (digits == tail.size()) {
        if (random) return 0;
    } else {
        if (tail.size() != digits + 7 || tail[digits] != '.') return 0;
        for (size_t i = digits + 1; i < tail.size(); ++i)
            if (!std::isalnum(static_cast<unsigned char>(tail[i]))) return 0;
    }
    return static_cast<pid_t>(std::stol(tail.substr(0, digits)));
}

bool Gone(pid_t pid)
{
    return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0 && kill(pid, 0) != 0;
}

} // namespace

pid_t TemporaryOwner(const std::string& entry, const std::string& name, long nameMax)
{
    if (name.empty() || entry.size() < name.size() + 2 + kSuffix.size() || entry[0] != '.' ||
        entry.compare(entry.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return 0;
    const std::string middle = entry.substr(1, entry.size() - 1 - kSuffix.size());
    if (middle.compare(0, name.size() + 1, name + ".") == 0)
        return PidAndRandom(middle.substr(name.size() + 1), false);
    // Cut short: ".<cut>.<pid>.<random>.trokproc-tmp" of the folder's limit.
    const size_t dot = middle.rfind('.', middle.size() > 7 ? middle.size() - 8 : 0);
    if (static_cast<long>(entry.size()) != nameMax || dot == std::string::npos || dot == 0 || dot >= name.size() ||
        name.compare(0, dot, middle, 0, dot) != 0)
        return 0;
    return PidAndRandom(middle.substr(dot + 1), true);
}

void RemoveStaleTemporaries(const std::string& dir, const std::vector<std::string>& names)
{
    const int dirfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0) return;
    long nameMax = fpathconf(dirfd, _PC_NAME_MAX);
    if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;
    DIR* d = fdopendir(dup(dirfd));
    std::vector<std::string> stale;
    while (d) {
        const dirent* e = readdir(d);
        if (!e) break;
        const std::string entry = e->d_name;
        struct stat st;
        if (entry[0] != '.' || fstatat(dirfd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != geteuid())
            continue;
        for (const std::string& name : names) {
            const pid_t pid = TemporaryOwner(entry, name, nameMax);
            if (pid == 0) continue;
            if (Gone(pid)) stale.push_back(entry);
            break;
        }
    }
    if (d) closedir(d);
    for (const std::string& entry : stale) unlinkat(dirfd, entry.c_str(), 0);
    close(dirfd);
}

} // namespace platform
