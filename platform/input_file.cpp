#include "platform/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

std::string NotRegularReason(mode_t mode)
{
    if (S_ISREG(mode)) return "";
    const char* what = S_ISFIFO(mode)                    ? "a FIFO"
                       : S_ISDIR(mode)                   ? "a folder"
                       : S_ISCHR(mode) || S_ISBLK(mode)  ? "a device"
                       : S_ISSOCK(mode)                  ? "a socket"
                       : S_ISLNK(mode)                   ? "a link"
                                                         : "a special file";
    return std::string(what) + ", not a regular file";
}

int OpenInputAt(int dirfd, const std::string& name, bool noLink, std::string& error, struct stat* out)
{
    struct stat before, st;
    if (fstatat(dirfd, name.c_str(), &before, noLink ? AT_SYMLINK_NOFOLLOW : 0) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (S_ISLNK(before.st_mode)) {
        error = "a link, not followed";
        return -1;
    }
    error = NotRegularReason(before.st_mode);
    if (!error.empty()) return -1;
    const int fd = openat(dirfd, name.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (noLink ? O_NOFOLLOW : 0));
    if (fd < 0) {
        error = errno == ELOOP && noLink ? "a link, not followed" : std::strerror(errno);
        return -1;
    }
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode) || st.st_dev != before.st_dev || st.st_ino != before.st_ino) {
        error = "changed while being opened";
        close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (out) *out = st;
    error.clear();
    return fd;
}

int OpenInput(const std::string& path, std::string& error, struct stat* st)
{
    return OpenInputAt(AT_FDCWD, path, false, error, st);
}

} // namespace platform
