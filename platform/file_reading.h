#ifndef PLATFORM_FILE_READING_H
#define PLATFORM_FILE_READING_H

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

// Reads the file at `path` from start to end in steps of up to `step`
// bytes, each handed to `take`. With `regularOnly`, the file is opened as
// an input (OpenInput, input_file.h): anything but a regular file is
// refused ("a FIFO, not a regular file") without being opened, so that a
// FIFO planted under the name cannot hold the program. False with the
// reason in `error`.
bool ReadInSteps(const std::string& path, size_t step, bool regularOnly,
                 const std::function<void(const char*, size_t)>& take, std::string& error);

// A regular file read whole into `text`.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

// A regular file of the user's own read whole (a file of another user, as
// one planted in a folder that was once open to others, is refused: "... is
// another user's file").
bool ReadOwnFile(const std::string& path, std::string& text, std::string& error);

// What is left to read on the open descriptor `fd`, in steps as above (the
// descriptor stays open).
bool ReadDescriptor(int fd, size_t step, const std::function<void(const char*, size_t)>& take,
                    std::string& error);

} // namespace platform

#endif
