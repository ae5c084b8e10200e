#include "platform/file_signature.h"

#include <cstdio>
#include <sys/stat.h>

namespace platform {

bool FileSignature(const std::string& path, std::string& signature, uint64_t* size)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%llu:%llu:%llu:%lld.%09ld:%lld.%09ld",
                  static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
    signature = buf;
    if (size) *size = static_cast<uint64_t>(st.st_size);
    return true;
}

} // namespace platform
