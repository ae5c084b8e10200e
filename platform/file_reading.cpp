#include "platform/file_reading.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {

bool ReadInSteps(const std::string& path, size_t step, bool regularOnly,
                 const std::function<void(const char*, size_t)>& take, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0));
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (regularOnly && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        error = "not a regular file";
        close(fd);
        return false;
    }
    std::vector<char> buf(step);
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        take(buf.data(), static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error)
{
    text.clear();
    return ReadInSteps(path, 65536, true, [&](const char* s, size_t n) { text.append(s, n); }, error);
}

} // namespace platform
