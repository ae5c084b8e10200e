#ifndef PLATFORM_TEMP_REGISTRY_H
#define PLATFORM_TEMP_REGISTRY_H

#include <string>

namespace platform {

// The temporaries of the atomic files not yet committed, kept where a
// signal handler may read them: fixed slots, each filled before it is
// marked in use and marked free before its folder is closed. Up to 64 at
// once; single-threaded use, except RemoveTemporaries, which a signal
// handler may call at any time.

// Registers the temporary `name` in the folder `dirfd`; its slot, or -1
// when all are taken or the name is longer than a folder entry can be.
int RegisterTemporary(int dirfd, const std::string& name);

// Frees the slot, unless RemoveTemporaries already freed it and another
// temporary took it since.
void UnregisterTemporary(int slot, int dirfd, const std::string& name);

// Removes every temporary still registered and frees its slot.
// Async-signal-safe; safe to call more than once.
void RemoveTemporaries();

} // namespace platform

#endif
