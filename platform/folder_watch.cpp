#include "platform/folder_watch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_set>

namespace platform {

FolderWatch::~FolderWatch() { Close(); }

void FolderWatch::Close()
{
    if (fd >= 0) close(fd);
    if (folder >= 0) close(folder);
    fd = folder = -1;
}

bool FolderWatch::Open(int dirfd, std::string& error)
{
    Close();
    folder = fcntl(dirfd, F_DUPFD_CLOEXEC, 3);
    if (folder < 0) {
        error = std::string("the folder: ") + std::strerror(errno);
        return false;
    }
    fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
        error = std::string("inotify_init1: ") + std::strerror(errno);
        Close();
        return false;
    }
    const std::string held = "/proc/self/fd/" + std::to_string(dirfd);
    const int watch = inotify_add_watch(fd, held.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR);
    if (watch < 0) {
        error = std::string("inotify_add_watch: ") + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

bool FolderWatch::Take(Arrivals& got, std::string& error)
{
    got = Arrivals();
    if (fd < 0) {
        error = "not watching";
        return false;
    }
    alignas(inotify_event) char buf[65536];
    std::unordered_set<std::string> seen;
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // A folder removed while held tells inotify nothing until it
            // is let go; its count of names tells.
            struct stat st;
            if (fstat(folder, &st) == 0 && st.st_nlink == 0) got.gone = true;
            return true;
        }
        if (n <= 0) {
            error = std::string("reading the folder's watch: ") + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        for (ssize_t at = 0; at < n;) {
            const inotify_event* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) got.rescan = true;
            if (e->mask & (IN_IGNORED | IN_UNMOUNT)) got.gone = true;
            if (!(e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) || e->len == 0 || (e->mask & IN_ISDIR)) continue;
            const std::string name = e->name;   // padded with NULs
            if (seen.insert(name).second) got.names.push_back(name);
        }
    }
}

} // namespace platform
