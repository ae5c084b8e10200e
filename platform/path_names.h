#ifndef PLATFORM_PATH_NAMES_H
#define PLATFORM_PATH_NAMES_H

#include <string>

namespace platform {

// File names taken apart and put together as text; only AbsolutePath and
// ResolvedPath ask the system (the working folder, the links).

// The folder and the last name of `path`: "a/b" gives "a" and "b", "b"
// gives "." and "b", "/b" gives "/" and "b", and "a/" gives "a" and ""
// (a name that ends in a slash names no file of its own).
void SplitPath(const std::string& path, std::string& dir, std::string& base);

// The folder part of `path`, as dirname(1) gives it, trailing slashes
// first dropped: "a/b/" gives "a", "b" gives ".", "/b" gives "/".
std::string DirName(const std::string& path);

// `path` from the root: as it is when it begins with "/", else after the
// working folder (leading "./" dropped); `path` itself when the working
// folder cannot be had.
std::string AbsolutePath(const std::string& path);

// The absolute, link-free form of `name` (realpath), also for a file that
// does not exist yet: its folder resolved, its own name appended. "" when
// even the folder cannot be resolved or the name ends in "/", "." or "..".
std::string ResolvedPath(const std::string& name);

} // namespace platform

#endif
