#ifndef PLATFORM_STALE_TEMPORARIES_H
#define PLATFORM_STALE_TEMPORARIES_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// The temporaries that atomic files (atomic_file.h) leave behind when their
// program ends without its clean-up (SIGKILL, a power loss), and their
// removal by a later run of the same outputs.

// The process that made `entry`, a name in a folder whose names may have
// up to `nameMax` bytes, when it is a temporary of the file `name`:
// .<name>.<pid>.<6 letters or digits>.trokproc-tmp, the same with `name`
// cut short (the whole entry then exactly `nameMax` long), or
// .<name>.<pid>.trokproc-tmp as an earlier writer named them. 0 otherwise.
pid_t TemporaryOwner(const std::string& entry, const std::string& name, long nameMax);

// Removes from the folder `dir` the temporaries of the files `names` whose
// process is gone on this machine: only regular files of the user's own,
// never a link. Do not use it on a folder that a program on another
// machine writes the same files in.
void RemoveStaleTemporaries(const std::string& dir, const std::vector<std::string>& names);

} // namespace platform

#endif
