#ifndef PLATFORM_INPUT_FILE_H
#define PLATFORM_INPUT_FILE_H

#include <sys/stat.h>

#include <string>

namespace platform {

// Opening a named input for reading, whoever may have put it there: only
// a regular file is opened, and opening never blocks. What the name leads
// to is looked at first, and a FIFO, device, socket or folder is refused
// without being opened; the file is then opened with O_NONBLOCK and
// O_NOCTTY and looked at again on its descriptor (a FIFO swapped in
// meanwhile is refused, and did not block the open), after which
// O_NONBLOCK is cleared. The descriptor is close-on-exec.
//
// The descriptor, or -1 with the reason in `error`: "a FIFO, not a regular
// file" (a device, a socket, a folder), "a link, not followed", "changed
// while being opened", or the system's text ("No such file or directory").
// With `st`, the file's status from its descriptor.
int OpenInput(const std::string& path, std::string& error, struct stat* st = nullptr);

// The same for `name` in the folder `dirfd`; with `noLink`, a symbolic
// link under the name is refused rather than followed.
int OpenInputAt(int dirfd, const std::string& name, bool noLink, std::string& error, struct stat* st = nullptr);

// Why a file of this type is no input: "" for a regular file, else "a
// FIFO, not a regular file" and the like.
std::string NotRegularReason(mode_t mode);

} // namespace platform

#endif
