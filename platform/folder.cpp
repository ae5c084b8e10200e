#include "platform/folder.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/file_reading.h"
#include "platform/input_file.h"
#include "platform/path_names.h"
#include "platform/path_trust.h"
#include "platform/private_folder.h"

namespace platform {

namespace {

bool PlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string Joined(const std::string& dir, const std::string& name)
{
    return dir == "/" ? "/" + name : dir + "/" + name;
}

// The entries of the folder `fd`, but "." and "..", sorted. False with errno.
bool Entries(int fd, std::vector<std::string>& names)
{
    names.clear();
    const int own = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return false;
    DIR* d = fdopendir(own);
    if (d == nullptr) {
        const int err = errno;
        close(own);
        errno = err;
        return false;
    }
    errno = 0;
    while (const dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    const int err = errno;
    closedir(d);
    std::sort(names.begin(), names.end());
    errno = err;
    return err == 0;
}

// Removes `name` in `dirfd` and, for a folder, all it holds; no link is
// followed. False with errno.
bool RemoveAt(int dirfd, const std::string& name)
{
    struct stat st;
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkat(dirfd, name.c_str(), 0) == 0 || errno == ENOENT;
    const int sub = openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) return false;
    struct stat held;
    std::vector<std::string> names;
    bool ok = fstat(sub, &held) == 0 && held.st_ino == st.st_ino && held.st_dev == st.st_dev && Entries(sub, names);
    for (size_t i = 0; ok && i < names.size(); ++i) ok = RemoveAt(sub, names[i]);
    const int err = errno;
    close(sub);
    if (!ok) return errno = err ? err : EBUSY, false;
    return unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

} // namespace

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept : fd(other.fd), path(std::move(other.path)), owner(other.owner)
{
    other.fd = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        Close();
        fd = other.fd;
        path = std::move(other.path);
        owner = other.owner;
        other.fd = -1;
    }
    return *this;
}

void Folder::Close()
{
    if (fd >= 0) close(fd);
    fd = -1;
}

bool Folder::OpenPrivate(const std::string& name, std::string& error, bool create, unsigned mode)
{
    Close();
    FolderVerdict v;
    const int held = OpenPrivateFolder(name, create, mode, v);
    if (held < 0) {
        error = v.reason;
        return false;
    }
    fd = held;
    path = v.path;
    owner = geteuid();
    return true;
}

bool Folder::OpenToRead(const std::string& name, std::string& error)
{
    Close();
    if (BlankName(name)) {
        error = "no folder name given";
        return false;
    }
    const int held = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (held < 0 || fstat(held, &st) != 0) {
        error = name + ": " + std::strerror(errno);
        if (held >= 0) close(held);
        return false;
    }
    fd = held;
    path = AbsolutePath(name);
    owner = st.st_uid;
    return true;
}

std::string Folder::PathOf(const std::string& name) const { return Joined(path, name); }

std::string Folder::FdPath(const std::string& name) const
{
    return "/proc/self/fd/" + std::to_string(fd) + "/" + name;
}

bool Folder::Named(const std::string& name, std::string& error) const
{
    if (fd < 0) {
        error = "no folder is open";
        return false;
    }
    if (PlainName(name)) return true;
    error = "\"" + name + "\": not a name of an entry of " + path;
    return false;
}

bool Folder::Fail(const std::string& name, int err, std::string& error) const
{
    error = PathOf(name) + ": " + std::strerror(err);
    return false;
}

bool Folder::OpenSub(const std::string& name, Folder& sub, std::string& error, bool create, unsigned mode) const
{
    std::vector<std::string> parts;
    for (size_t start = 0; start <= name.size();) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        parts.push_back(name.substr(start, slash - start));
        start = slash + 1;
    }
    Folder here;
    const Folder* at = this;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (!at->Named(part, error)) return false;
        const std::string full = at->PathOf(part);
        struct stat st;
        if (fstatat(at->fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const mode_t made = (i + 1 == parts.size() ? static_cast<mode_t>(mode) : 0777) & 0777 & ~022;
            if (errno != ENOENT || !create || (mkdirat(at->fd, part.c_str(), made) != 0 && errno != EEXIST) ||
                fstatat(at->fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                return at->Fail(part, errno, error);
        }
        Folder next;
        if (S_ISLNK(st.st_mode)) {
            if (!TrustedOwner(st.st_uid)) {
                error = full + " is a link of another user (" + UserName(st.st_uid) + ")";
                return false;
            }
            std::string to(PATH_MAX, '\0');
            const ssize_t n = readlinkat(at->fd, part.c_str(), &to[0], to.size());
            if (n <= 0 || static_cast<size_t>(n) >= to.size()) return at->Fail(part, n < 0 ? errno : ENOENT, error);
            to.resize(static_cast<size_t>(n));
            // What the link leads to is held to the whole rule.
            if (!next.OpenPrivate(to[0] == '/' ? to : Joined(at->path, to), error)) return false;
        } else {
            if (!S_ISDIR(st.st_mode)) {
                error = full + " is not a folder";
                return false;
            }
            const int held = openat(at->fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (held < 0) return at->Fail(part, errno, error);
            next.fd = held;
            next.path = full;
            struct stat now;
            if (fstat(held, &now) != 0) return at->Fail(part, errno, error);
            next.owner = now.st_uid;
            const std::string fault = now.st_ino != st.st_ino || now.st_dev != st.st_dev
                                          ? std::string("changed while being opened")
                                          : PrivateFault(now, held);
            if (!fault.empty()) {
                error = full + " " + fault;
                return false;
            }
        }
        here = std::move(next);
        at = &here;
    }
    sub = std::move(here);
    return true;
}

int Folder::OpenFile(const std::string& name, std::string& error, struct stat* out) const
{
    if (!Named(name, error)) return -1;
    struct stat st;
    std::string why;
    const int file = OpenInputAt(fd, name, true, why, &st);
    if (file < 0) {
        error = PathOf(name) + ": " + why;
        return -1;
    }
    if (st.st_uid != owner && st.st_uid != 0) {
        close(file);
        error = PathOf(name) + " belongs to another user (" + UserName(st.st_uid) + ")";
        return -1;
    }
    if (out) *out = st;
    return file;
}

bool Folder::ReadInSteps(const std::string& name, size_t step, const std::function<void(const char*, size_t)>& take,
                         std::string& error) const
{
    const int file = OpenFile(name, error);
    if (file < 0) return false;
    std::string why;
    const bool ok = ReadDescriptor(file, step, take, why);
    close(file);
    if (!ok) error = PathOf(name) + ": " + why;
    return ok;
}

bool Folder::ReadWhole(const std::string& name, std::string& text, std::string& error) const
{
    text.clear();
    return ReadInSteps(name, 65536, [&](const char* s, size_t n) { text.append(s, n); }, error);
}

int Folder::OpenOwnFile(const std::string& name, unsigned mode, bool create, std::string& error) const
{
    if (!Named(name, error)) return -1;
    const int flags = O_RDWR | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;
    struct stat st;
    int file;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT || !create) return Fail(name, errno, error), -1;
        file = openat(fd, name.c_str(), flags | O_CREAT | O_EXCL, 0600);
        if (file < 0) return Fail(name, errno, error), -1;
    } else {
        const std::string kind = S_ISLNK(st.st_mode) ? "a link, not followed" : NotRegularReason(st.st_mode);
        std::string fault;
        if (!kind.empty())
            fault = ": " + kind;
        else if (st.st_uid != geteuid())
            fault = " belongs to another user (" + UserName(st.st_uid) + ")";
        else if (st.st_nlink != 1)
            fault = " has other names (hard links)";
        if (!fault.empty()) {
            error = PathOf(name) + fault;
            return -1;
        }
        file = openat(fd, name.c_str(), flags);
        if (file < 0) return Fail(name, errno, error), -1;
        struct stat now;
        if (fstat(file, &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev) {
            close(file);
            error = PathOf(name) + ": changed while being opened";
            return -1;
        }
    }
    const int fl = fcntl(file, F_GETFL);
    if (fchmod(file, static_cast<mode_t>(mode) & 07777) != 0 || fl < 0 || fcntl(file, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        const int err = errno;
        close(file);
        return Fail(name, err, error), -1;
    }
    return file;
}

bool Folder::List(std::vector<std::string>& names, std::string& error) const
{
    if (fd < 0) {
        error = "no folder is open";
        return false;
    }
    if (Entries(fd, names)) return true;
    error = path + ": " + std::strerror(errno);
    return false;
}

bool Folder::Stat(const std::string& name, struct stat& st) const
{
    std::string error;
    if (!Named(name, error)) return errno = EINVAL, false;
    return fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Folder::Exists(const std::string& name) const
{
    struct stat st;
    return Stat(name, st);
}

bool Folder::RenameTo(const std::string& from, const Folder& into, const std::string& to, std::string& error,
                      bool replace) const
{
    if (!Named(from, error) || !into.Named(to, error)) return false;
    const int done = replace ? renameat(fd, from.c_str(), into.fd, to.c_str())
                             : renameat2(fd, from.c_str(), into.fd, to.c_str(), RENAME_NOREPLACE);
    if (done == 0) return true;
    error = PathOf(from) + " to " + into.PathOf(to) + ": " + std::strerror(errno);
    return false;
}

bool Folder::Exchange(const std::string& from, const Folder& into, const std::string& to, std::string& error) const
{
    if (!Named(from, error) || !into.Named(to, error)) return false;
    if (renameat2(fd, from.c_str(), into.fd, to.c_str(), RENAME_EXCHANGE) == 0) return true;
    error = PathOf(from) + " and " + into.PathOf(to) + ": " + std::strerror(errno);
    return false;
}

bool Folder::Rename(const std::string& from, const std::string& to, std::string& error, bool replace) const
{
    return RenameTo(from, *this, to, error, replace);
}

bool Folder::Remove(const std::string& name, std::string& error) const
{
    if (!Named(name, error)) return false;
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT || Fail(name, errno, error);
    if (unlinkat(fd, name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT) return true;
    return Fail(name, errno, error);
}

bool Folder::RemoveTree(const std::string& name, std::string& error) const
{
    if (!Named(name, error)) return false;
    return RemoveAt(fd, name) || Fail(name, errno, error);
}

} // namespace platform
