#ifndef PLATFORM_FILE_SIGNATURE_H
#define PLATFORM_FILE_SIGNATURE_H

#include <cstdint>
#include <string>

namespace platform {

// A file's identity and state as one text: device, inode, size,
// modification and change times (nanoseconds). Any write, rename over it
// or replacement changes it, so that a program can tell a file it saw
// before from one that changed without reading either. False when the path
// is not a regular file (or does not exist); its size in `size` when given.
bool FileSignature(const std::string& path, std::string& signature, uint64_t* size = nullptr);

} // namespace platform

#endif
