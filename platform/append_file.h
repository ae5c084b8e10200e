#ifndef PLATFORM_APPEND_FILE_H
#define PLATFORM_APPEND_FILE_H

#include <string>

namespace platform {

// A log that lines are added to (a run log, a job log), on a machine others
// share. The name is followed as the atomic file follows it
// (FindOutputTarget, path_trust.h): through links of trusted owners only,
// to a device or FIFO of a trusted owner, or to a regular file, which must
// then be the user's own: another user's file is never written to, nor one
// that a link of another user leads to. A new name is made with mode 0666
// less the umask.

// Opens the log for appending; its descriptor (close-on-exec), or -1 with
// `why` set: a refusal by the rule above ("a link of another user", "a file
// of another user"), with `refused` set, or the system's reason.
int OpenForAppend(const std::string& name, std::string& why, bool& refused);

// The same rule for a log that another program opens by name: false with
// `why` (and `refused`, as above) when it may not be written. Nothing is
// made or opened for writing.
bool MayAppend(const std::string& name, std::string& why, bool& refused);

} // namespace platform

#endif
