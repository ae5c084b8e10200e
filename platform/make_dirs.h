#ifndef PLATFORM_MAKE_DIRS_H
#define PLATFORM_MAKE_DIRS_H

#include <string>

namespace platform {

// What MakeDirs did.
struct MadeDirs {
    bool ok = false;     // `path` is a folder now
    bool made = false;   // `path` itself was made by this call
    std::string at;      // when not ok: the folder that could not be made
    int err = 0;         // and why: the system's error, ENOTDIR for a name that exists and is not a folder

    // Why, in words: "it exists and is not a folder", or the system's text.
    std::string Reason() const;
};

// mkdir -p: makes `path` and its missing parents, each with mode 0777 less
// the umask. A folder on the way that exists is taken as it is, reached
// through links as the system follows them; so is `path` itself, unless
// `noLink`: then it must be a folder itself, not a link to one (ENOTDIR).
// Whether the folders may be trusted is the caller's rule
// (CheckOwnFolder, path_trust.h).
MadeDirs MakeDirs(const std::string& path, bool noLink = false);

} // namespace platform

#endif
