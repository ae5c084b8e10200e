#include "platform/make_dirs.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace platform {

namespace {

bool IsFolder(const std::string& path, bool noLink)
{
    struct stat st;
    return (noLink ? lstat(path.c_str(), &st) : stat(path.c_str(), &st)) == 0 && S_ISDIR(st.st_mode);
}

// One folder whose parent is there: made, or there already. 0, or why not.
int MakeOne(const std::string& path, bool noLink, bool& made)
{
    struct stat st;
    if ((noLink ? lstat(path.c_str(), &st) : stat(path.c_str(), &st)) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT) return errno;
    if (mkdir(path.c_str(), 0777) == 0) {
        made = true;
        return 0;
    }
    // Made meanwhile by someone else, or a dangling link.
    if (errno == EEXIST) return IsFolder(path, noLink) ? 0 : ENOTDIR;
    return errno;
}

} // namespace

std::string MadeDirs::Reason() const
{
    return err == ENOTDIR ? "it exists and is not a folder" : std::strerror(err);
}

MadeDirs MakeDirs(const std::string& name, bool noLink)
{
    MadeDirs r;
    std::string path = name;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) {
        r.err = ENOENT;
        return r;
    }
    if (IsFolder(path, noLink)) {
        r.ok = true;
        return r;
    }
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const bool last = slash == std::string::npos;
        const std::string step = last ? path : path.substr(0, slash);
        bool made = false;
        // "a//b": the empty name between the slashes is no folder.
        if (!last && path[slash - 1] == '/') continue;
        r.err = MakeOne(step, last && noLink, made);
        if (r.err != 0) {
            r.at = step;
            return r;
        }
        if (last) {
            r.made = made;
            r.ok = true;
            return r;
        }
    }
}

} // namespace platform
