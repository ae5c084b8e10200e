#ifndef PLATFORM_LOCK_FILE_H
#define PLATFORM_LOCK_FILE_H

#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/folder.h"

namespace platform {

// A lock that one process at a time holds: flock(2) on a file of a held
// folder (folder.h). The file is the user's own and readable and writable
// by the owner only (0600, set on an earlier file too), so that nobody else
// can take the lock, or hold it against us, just because they can read
// the folder; a link, a file of another user or one with other names in
// its place is refused (OpenOwnFile). The file stays when the lock goes;
// its content is the holder's process id, for the message of one who waits.
//
// The descriptor is close-on-exec: a child shares the lock only when given
// it (ChildSpec::keep), and then holds it until it too has ended.
class LockFile
{
public:
    enum class Result { Taken, Busy, Failed };

    LockFile() = default;
    ~LockFile();   // releases it
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Takes the lock `name` in `folder` if nobody holds it, without
    // waiting. Failed with Error() set when the file cannot be used.
    Result TryTake(const Folder& folder, const std::string& name);
    // Takes it, waiting while another holds it: `waiting` is called at once
    // when it is held (with the holder's process id, 0 when unknown), then
    // again every `everyMs` milliseconds and whenever a signal comes, until
    // the lock is taken; its false gives up (Busy).
    Result Take(const Folder& folder, const std::string& name, const std::function<bool(pid_t holder)>& waiting,
                int everyMs = 250);

    bool Held() const { return held; }
    int Fd() const { return fd; }
    const std::string& Error() const { return error; }
    // The process id written in the file by whoever holds the lock now, 0
    // when none is (another machine's holder writes its own).
    pid_t Holder() const;
    void Release();

private:
    bool Opened(const Folder& folder, const std::string& name);

    int fd = -1;
    bool held = false;
    std::string error;
};

} // namespace platform

#endif
