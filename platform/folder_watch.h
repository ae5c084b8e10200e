#ifndef PLATFORM_FOLDER_WATCH_H
#define PLATFORM_FOLDER_WATCH_H

#include <string>
#include <vector>

namespace platform {

// Files arriving in one folder, as inotify(7) tells them: a file closed
// after being written (IN_CLOSE_WRITE) or renamed into the folder
// (IN_MOVED_TO), as a sender that writes under a temporary name and
// renames does. Only the folder itself is watched, not its subfolders.
//
// The kernel's queue is bounded: when it overflows, events are lost and
// the caller is told to look at the whole folder again (`rescan`). A
// program starts watching before it first lists the folder, so that
// nothing arriving in between is missed.
//
// Fd() is readable when something has come: poll it with other
// descriptors, or wait for it and the stop signals together
// (StopSignals::Await, stop_signals.h).
class FolderWatch
{
public:
    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the folder held open as `dirfd` (folder.h), reached through
    // its descriptor (/proc/self/fd), never by a path looked up again.
    // False with the reason in `error` ("inotify_add_watch: No space left on
    // device": the user's watches are all taken).
    bool Open(int dirfd, std::string& error);
    int Fd() const { return fd; }

    struct Arrivals {
        std::vector<std::string> names;   // each once, in the order they came
        bool rescan = false;   // events were lost: list the folder again
        bool gone = false;     // the folder was removed, or its file system unmounted
    };
    // What has come since the last call, without blocking (nothing when
    // nothing has). False with `error` when the watch cannot be read.
    bool Take(Arrivals& got, std::string& error);

    void Close();

private:
    int fd = -1;       // the inotify instance
    int folder = -1;   // the folder watched
};

} // namespace platform

#endif
