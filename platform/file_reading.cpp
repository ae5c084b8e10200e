#include "platform/file_reading.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/input_file.h"

namespace platform {

bool ReadDescriptor(int fd, size_t step, const std::function<void(const char*, size_t)>& take,
                    std::string& error)
{
    std::vector<char> buf(step > 0 ? step : 1);
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        take(buf.data(), static_cast<size_t>(n));
    }
}

bool ReadInSteps(const std::string& path, size_t step, bool regularOnly,
                 const std::function<void(const char*, size_t)>& take, std::string& error)
{
    const int fd = regularOnly ? OpenInput(path, error) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (!regularOnly) error = std::strerror(errno);
        return false;
    }
    const bool ok = ReadDescriptor(fd, step, take, error);
    close(fd);
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error)
{
    text.clear();
    return ReadInSteps(path, 65536, true, [&](const char* s, size_t n) { text.append(s, n); }, error);
}

bool ReadOwnFile(const std::string& path, std::string& text, std::string& error)
{
    text.clear();
    struct stat st;
    const int fd = OpenInput(path, error, &st);
    if (fd < 0) return false;
    bool ok = st.st_uid == geteuid();
    if (!ok) error = "another user's file";
    else ok = ReadDescriptor(fd, 65536, [&](const char* s, size_t n) { text.append(s, n); }, error);
    close(fd);
    return ok;
}

} // namespace platform
