#include "platform/path_names.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) == nullptr) return "";
    return buf;
}

} // namespace

void SplitPath(const std::string& path, std::string& dir, std::string& base)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
}

std::string DirName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/') return path;
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return path;
    std::string p = path;
    while (p.compare(0, 2, "./") == 0) p.erase(0, 2);
    return p.empty() || p == "." ? std::string(buf) : std::string(buf) + "/" + p;
}

std::string ResolvedPath(const std::string& name)
{
    std::string r = RealPath(name);
    if (!r.empty()) return r;
    std::string dir, base;
    SplitPath(name, dir, base);
    if (base.empty() || base == "." || base == "..") return "";
    dir = RealPath(dir);
    if (dir.empty()) return "";
    return dir == "/" ? "/" + base : dir + "/" + base;
}

} // namespace platform
