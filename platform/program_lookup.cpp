#include "platform/program_lookup.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/path_names.h"

namespace platform {

namespace {

bool Executable(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string SelfPath()
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = '\0';
    return self;
}

std::string FindOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string p = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t a = 0; a <= p.size();) {
        size_t b = p.find(':', a);
        if (b == std::string::npos) b = p.size();
        const std::string candidate = (b > a ? p.substr(a, b - a) : ".") + "/" + name;
        if (Executable(candidate)) return AbsolutePath(candidate);
        a = b + 1;
    }
    return "";
}

std::string FindOwnProgram(const std::string& name, const char* var)
{
    if (const char* v = std::getenv(var))
        if (*v) return v;
    const std::string self = SelfPath();
    if (!self.empty()) {
        const std::string beside = DirName(self) + "/" + name;
        if (Executable(beside)) return beside;
    }
    return FindOnPath(name);
}

} // namespace platform
