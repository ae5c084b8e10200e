#include "platform/private_folder.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <deque>
#include <vector>

#include "platform/path_trust.h"

namespace platform {

namespace {

const int kMaxLinks = 40;

// No user but this one has `gid` as primary group or is listed in it.
bool GroupOfUserAlone(gid_t gid)
{
    const uid_t me = geteuid();
    const passwd* mine = getpwuid(me);
    const group* gr = getgrgid(gid);
    if (mine == nullptr || gr == nullptr) return false;
    const std::string myName = mine->pw_name;
    bool member = false;
    for (char** m = gr->gr_mem; *m != nullptr; ++m) {
        if (myName != *m) return false;
        member = true;
    }
    bool alone = true;
    setpwent();
    while (const passwd* pw = getpwent()) {
        if (pw->pw_gid != gid) continue;
        if (pw->pw_uid != me) alone = false;
        member = true;
    }
    endpwent();
    return alone && member;
}

// The folder has an access list, which may let users other than its group
// write (the group bits are then the list's mask).
bool HasAccessList(int fd)
{
    if (fd < 0) return true;   // cannot look: assume the worst
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = getxattr(proc.c_str(), "system.posix_acl_access", nullptr, 0);
    return n > 0 || (n < 0 && errno != ENODATA && errno != ENOTSUP);
}

// The write bits for group and others, when the folder is not root's sticky one.
std::string WriteFault(const struct stat& st, int fd)
{
    if (st.st_mode & S_IWOTH) return "is writable by others";
    if ((st.st_mode & S_IWGRP) && (!GroupOfUserAlone(st.st_gid) || HasAccessList(fd)))
        return "is writable by its group (" + GroupName(st.st_gid) + ")";
    return "";
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string p;
    for (const std::string& n : names) p += "/" + n;
    return p.empty() ? "/" : p;
}

// The walk: a stack of folders held open (O_PATH: no permission needed
// beyond searching), from the root down.
class Walk
{
public:
    ~Walk()
    {
        for (int fd : fds) close(fd);
    }

    int Top() const { return fds.back(); }
    std::string Path() const { return Joined(names); }
    std::string PathOf(const std::string& name) const { return names.empty() ? "/" + name : Path() + "/" + name; }

    // Holds the root; false with errno.
    bool Root()
    {
        const int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        fds.push_back(fd);
        return true;
    }
    void Push(int fd, const std::string& name)
    {
        fds.push_back(fd);
        names.push_back(name);
    }
    void Up()
    {
        if (names.empty()) return;   // the root's parent is the root
        close(fds.back());
        fds.pop_back();
        names.pop_back();
    }
    void ToRoot()
    {
        while (!names.empty()) Up();
    }
private:
    std::vector<int> fds;
    std::vector<std::string> names;
};

void Split(const std::string& path, std::deque<std::string>& into, bool front)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    if (front)
        into.insert(into.begin(), parts.begin(), parts.end());
    else
        into.insert(into.end(), parts.begin(), parts.end());
}

std::string SysText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

int Refuse(FolderVerdict& v, const std::string& reason)
{
    v.ok = false;
    v.reason = reason;
    return -1;
}

} // namespace

std::string UserName(uid_t uid)
{
    const passwd* pw = getpwuid(uid);
    return pw ? pw->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid)
{
    const group* gr = getgrgid(gid);
    return gr ? gr->gr_name : std::to_string(gid);
}

std::string AncestorFault(const struct stat& st, int fd)
{
    if (!TrustedOwner(st.st_uid)) return "belongs to another user (" + UserName(st.st_uid) + ")";
    if ((st.st_mode & S_ISVTX) && st.st_uid == 0) return "";
    return WriteFault(st, fd);
}

std::string PrivateFault(const struct stat& st, int fd)
{
    if (st.st_uid != geteuid()) return "belongs to another user (" + UserName(st.st_uid) + ")";
    return WriteFault(st, fd);
}

int OpenPrivateFolder(const std::string& path, bool create, unsigned mode, FolderVerdict& v)
{
    v = FolderVerdict();
    if (BlankName(path)) return Refuse(v, "no folder name given");
    std::deque<std::string> pending;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) return Refuse(v, SysText("the working folder", errno));
        Split(cwd, pending, false);
    }
    Split(path, pending, false);
    Walk walk;
    if (!walk.Root()) return Refuse(v, SysText("/", errno));
    struct stat st;
    if (fstat(walk.Top(), &st) != 0) return Refuse(v, SysText("/", errno));
    std::string fault = AncestorFault(st, walk.Top());
    if (!fault.empty()) return Refuse(v, "/ " + fault);
    int links = 0;
    const mode_t inner = 0777 & ~022, last = static_cast<mode_t>(mode) & 0777 & ~022;
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            walk.Up();
            continue;
        }
        const std::string here = walk.PathOf(name);
        v.path = here;
        if (fstatat(walk.Top(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !create) return Refuse(v, SysText(here, errno));
            // Made here; one made meanwhile by someone else is looked at as found.
            if (mkdirat(walk.Top(), name.c_str(), pending.empty() ? last : inner) != 0 && errno != EEXIST)
                return Refuse(v, SysText(here, errno));
            if (fstatat(walk.Top(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                return Refuse(v, SysText(here, errno));
        }
        if (S_ISLNK(st.st_mode)) {
            if (!TrustedOwner(st.st_uid))
                return Refuse(v, here + " is a link of another user (" + UserName(st.st_uid) + ")");
            if (++links > kMaxLinks) return Refuse(v, here + ": too many levels of links");
            std::string to(PATH_MAX, '\0');
            const ssize_t n = readlinkat(walk.Top(), name.c_str(), &to[0], to.size());
            if (n < 0 || static_cast<size_t>(n) >= to.size())
                return Refuse(v, SysText(here, n < 0 ? errno : ENAMETOOLONG));
            to.resize(static_cast<size_t>(n));
            if (to.empty()) return Refuse(v, SysText(here, ENOENT));
            if (to[0] == '/') walk.ToRoot();
            Split(to, pending, true);
            continue;
        }
        if (!S_ISDIR(st.st_mode)) return Refuse(v, here + " is not a folder");
        const int fd = openat(walk.Top(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return Refuse(v, SysText(here, errno));
        struct stat held;
        if (fstat(fd, &held) != 0 || held.st_dev != st.st_dev || held.st_ino != st.st_ino) {
            close(fd);
            return Refuse(v, here + " changed while being looked at");
        }
        walk.Push(fd, name);
        fault = AncestorFault(held, fd);
        if (!fault.empty()) return Refuse(v, here + " " + fault);
    }
    v.path = walk.Path();
    if (fstat(walk.Top(), &st) != 0) return Refuse(v, SysText(v.path, errno));
    fault = PrivateFault(st, walk.Top());
    if (!fault.empty()) return Refuse(v, v.path + " " + fault);
    const int fd = openat(walk.Top(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Refuse(v, SysText(v.path, errno));
    v.ok = true;
    return fd;
}

FolderVerdict CheckPrivateFolder(const std::string& path)
{
    FolderVerdict v;
    const int fd = OpenPrivateFolder(path, false, 0, v);
    if (fd >= 0) close(fd);
    return v;
}

} // namespace platform
