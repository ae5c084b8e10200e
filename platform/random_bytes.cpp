#include "platform/random_bytes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <vector>

namespace platform {

bool RandomBytes(unsigned char* out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t k = getrandom(out + got, n - got, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        got += static_cast<size_t>(k);
    }
    if (got == n) return true;
    // A kernel without getrandom.
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    got = 0;
    while (got < n) {
        const ssize_t k = read(fd, out + got, n - got);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) break;
        got += static_cast<size_t>(k);
    }
    close(fd);
    return got == n;
}

std::string RandomHex(size_t bytes)
{
    std::vector<unsigned char> raw(bytes);
    if (!RandomBytes(raw.data(), raw.size())) return "";
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : raw) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

} // namespace platform
