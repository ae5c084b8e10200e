#include "platform/path_trust.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/path_names.h"

namespace platform {

namespace {

const int kMaxLinks = 40;   // as the kernel allows in one path

// The folder is on /proc, where links stand for the process's own
// descriptors rather than for paths.
bool OnProc(int dirfd)
{
    struct stat proc, dir;
    return stat("/proc", &proc) == 0 && fstat(dirfd, &dir) == 0 && dir.st_dev == proc.st_dev;
}

// Opens a folder to work in: readable where allowed (so that it can be
// synced), else for its name only.
int OpenFolder(int at, const std::string& dir)
{
    int fd = openat(at, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = openat(at, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

bool ReadLinkAt(int dirfd, const std::string& base, std::string& target)
{
    std::string buf(PATH_MAX, '\0');
    const ssize_t n = readlinkat(dirfd, base.c_str(), &buf[0], buf.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) >= buf.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    target.assign(buf, 0, static_cast<size_t>(n));
    return true;
}

// Follows the name from t.dirfd/t.base on; the step of FindOutputTarget
// that may fail. False with `why` set for a refusal, else with errno.
bool Follow(OutputTarget& t, std::string& why)
{
    bool viaLink = false;
    for (int links = 0;; ++links) {
        if (t.base.empty() || t.base == "." || t.base == "..") return errno = EISDIR, false;
        struct stat st;
        if (fstatat(t.dirfd, t.base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;   // new
        if (S_ISREG(st.st_mode)) {
            if (KeepsItsMode(st)) {
                t.mode = st.st_mode & 0777;
            } else if (st.st_uid != geteuid() && viaLink) {
                why = "a link to a file of another user";
                return false;
            }
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) return errno = EISDIR, false;
            if (!TrustedOwner(st.st_uid)) {
                why = "a device or FIFO of another user";
                return false;
            }
            t.special = true;
            return true;
        }
        if (!TrustedOwner(st.st_uid)) {
            why = "a link of another user";
            return false;
        }
        if (OnProc(t.dirfd)) {
            // /dev/stdout, /dev/fd/N: a descriptor the process holds, written
            // through the link whatever it leads to (a terminal, a pipe, the
            // file standard output was sent to).
            struct stat obj;
            if (fstatat(t.dirfd, t.base.c_str(), &obj, 0) != 0) return false;
            if (S_ISDIR(obj.st_mode)) return errno = EISDIR, false;
            t.special = t.throughLink = true;
            return true;
        }
        if (links == kMaxLinks) return errno = ELOOP, false;
        viaLink = true;
        std::string to;
        if (!ReadLinkAt(t.dirfd, t.base, to)) return false;
        if (to.empty()) return errno = ENOENT, false;
        std::string toDir;
        SplitPath(to, toDir, t.base);
        const int next = OpenFolder(to[0] == '/' ? AT_FDCWD : t.dirfd, toDir);
        if (next < 0) return false;
        close(t.dirfd);
        t.dirfd = next;
    }
}

} // namespace

bool TrustedOwner(uid_t owner) { return owner == geteuid() || owner == 0; }

unsigned DefaultFileMode()
{
    // Read afresh: the program may have changed it.
    const mode_t mask = umask(0);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

// An earlier file of ours keeps its permissions (a second name of it could
// be another user's doing).
bool KeepsItsMode(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1; }

bool BlankName(const std::string& name) { return name.find_first_not_of(" \t") == std::string::npos; }

bool SameFile(const std::string& a, const std::string& b)
{
    if (BlankName(a) || BlankName(b)) return false;
    struct stat sa, sb;
    const bool haveA = stat(a.c_str(), &sa) == 0;
    const bool haveB = stat(b.c_str(), &sb) == 0;
    if (haveA && S_ISCHR(sa.st_mode)) return false;
    if (haveB && S_ISCHR(sb.st_mode)) return false;
    if (haveA && haveB && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
    if (a == b) return true;
    const std::string ra = ResolvedPath(a);
    return !ra.empty() && ra == ResolvedPath(b);
}

bool FindOutputTarget(const std::string& name, OutputTarget& t, std::string& error, bool& refused)
{
    t = OutputTarget();
    error.clear();
    refused = false;
    std::string dir;
    SplitPath(name, dir, t.base);
    t.dirfd = OpenFolder(AT_FDCWD, dir);
    if (t.dirfd < 0) {
        error = std::strerror(errno);
        return false;
    }
    t.mode = DefaultFileMode();
    if (Follow(t, error)) return true;
    refused = !error.empty();
    if (!refused) error = std::strerror(errno);
    close(t.dirfd);
    t.dirfd = -1;
    return false;
}

FolderTrust CheckOwnFolder(const std::string& dir, bool madeNow, int& err)
{
    err = 0;
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) {
        err = errno;
        return FolderTrust::Unreadable;
    }
    if (S_ISLNK(st.st_mode)) {
        if (!TrustedOwner(st.st_uid)) return FolderTrust::OthersLink;
        if (stat(dir.c_str(), &st) != 0) {
            err = errno;
            return FolderTrust::Unreadable;
        }
    }
    if (!S_ISDIR(st.st_mode)) return FolderTrust::NotAFolder;
    if (st.st_uid != geteuid()) return FolderTrust::OthersFolder;
    // A folder made just now has the mode the umask gives.
    if (!madeNow && (st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)) return FolderTrust::OpenToOthers;
    return FolderTrust::Own;
}

} // namespace platform
