#ifndef PLATFORM_CHILD_CAPTURE_H
#define PLATFORM_CHILD_CAPTURE_H

#include <string>

#include "platform/child_process.h"

namespace platform {

// A child whose standard output and standard error are taken in apart, as
// they come (RunChild takes one stream, or both mixed): a program's report
// on one and its messages on the other.
struct ChildCapture {
    // Standard output collected here; nullptr: it goes to launch.out as usual.
    std::string* out = nullptr;
    // Standard error collected here; nullptr: it goes to launch.err as usual.
    std::string* err = nullptr;
    // What is collected of standard error is also written to this
    // descriptor as it comes (a log, the caller's own standard error); -1:
    // nowhere.
    int errCopy = -1;
};

// Runs the child to its end under the launch's time limit.
ChildEnd RunChildCapturing(const ChildSpec& launch, const ChildCapture& capture);

} // namespace platform

#endif
