#include "platform/append_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/path_trust.h"

namespace platform {

namespace {

const char kOthersFile[] = "a file of another user";

bool Target(const std::string& name, OutputTarget& t, std::string& why, bool& refused)
{
    refused = false;
    if (BlankName(name)) {
        why = "no file name given";
        return refused = true, false;
    }
    return FindOutputTarget(name, t, why, refused);
}

} // namespace

int OpenForAppend(const std::string& name, std::string& why, bool& refused)
{
    OutputTarget t;
    if (!Target(name, t, why, refused)) return -1;
    const int flags = O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC;
    // A FIFO put under the name meanwhile must not hold the open: not
    // blocking until the file is known to be a regular one.
    const int fd = t.special ? openat(t.dirfd, t.base.c_str(), flags | (t.throughLink ? 0 : O_NOFOLLOW))
                             : openat(t.dirfd, t.base.c_str(), flags | O_CREAT | O_NOFOLLOW | O_NONBLOCK,
                                      static_cast<mode_t>(t.mode));
    const int err = errno;
    close(t.dirfd);
    if (fd < 0) {
        why = std::strerror(err);
        return -1;
    }
    struct stat st = {};
    if (!t.special && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())) {
        why = S_ISREG(st.st_mode) ? kOthersFile : "changed while being opened";
        refused = true;
        close(fd);
        return -1;
    }
    if (!t.special) fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

bool MayAppend(const std::string& name, std::string& why, bool& refused)
{
    OutputTarget t;
    if (!Target(name, t, why, refused)) return false;
    struct stat st;
    const bool others = !t.special && fstatat(t.dirfd, t.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISREG(st.st_mode) && st.st_uid != geteuid();
    close(t.dirfd);
    if (others) why = kOthersFile;
    refused = others;
    return !others;
}

} // namespace platform
