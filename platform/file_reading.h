#ifndef PLATFORM_FILE_READING_H
#define PLATFORM_FILE_READING_H

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// Reads the file at `path` from start to end in steps of up to `step`
// bytes, each handed to `take`. With `regularOnly`, anything but a regular
// file is refused ("not a regular file") and opening it never blocks (a
// FIFO planted under the name cannot hold the program). False with the
// reason in `error`.
bool ReadInSteps(const std::string& path, size_t step, bool regularOnly,
                 const std::function<void(const char*, size_t)>& take, std::string& error);

// A regular file read whole into `text`.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

} // namespace platform

#endif
