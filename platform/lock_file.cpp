#include "platform/lock_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

LockFile::~LockFile() { Release(); }

void LockFile::Release()
{
    if (fd >= 0) close(fd);   // the lock goes with the last descriptor
    fd = -1;
    held = false;
}

bool LockFile::Opened(const Folder& folder, const std::string& name)
{
    Release();
    error.clear();
    fd = folder.OpenOwnFile(name, 0600, true, error);
    return fd >= 0;
}

LockFile::Result LockFile::TryTake(const Folder& folder, const std::string& name)
{
    if (!Opened(folder, name)) return Result::Failed;
    int done;
    while ((done = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (done != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) return Result::Busy;   // the file stays open for Holder()
        error = folder.PathOf(name) + ": " + std::strerror(err);
        Release();
        return Result::Failed;
    }
    held = true;
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds without it; only a waiter's message lacks the id.
    }
    return Result::Taken;
}

LockFile::Result LockFile::Take(const Folder& folder, const std::string& name,
                                const std::function<bool(pid_t)>& waiting, int everyMs)
{
    for (;;) {
        const Result r = TryTake(folder, name);
        if (r != Result::Busy) return r;
        if (!waiting(Holder())) return Result::Busy;
        poll(nullptr, 0, everyMs);   // a signal ends it early
    }
}

pid_t LockFile::Holder() const
{
    if (fd < 0) return 0;
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

} // namespace platform
