#include "vn_proc_AtomicProducts.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The temporary names, kept where a signal handler may read them: fixed
// slots that are filled before they are marked in use.
const int kSlots = 4;
char tempSlot[kSlots][PATH_MAX];
volatile sig_atomic_t slotUsed[kSlots];

// Temporary name and the final file it becomes (a link's target resolved).
std::vector<std::pair<std::string, std::string>> pending;

const int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGABRT};

extern "C" void RemoveAtExit() { RemoveProductTemporaries(); }

extern "C" void RemoveAndReraise(int sig)
{
    const int savedErrno = errno;
    RemoveProductTemporaries();
    // Default action again; the signal stays blocked until the handler
    // returns and then ends the process as it would have without us.
    signal(sig, SIG_DFL);
    raise(sig);
    errno = savedErrno;
}

void InstallCleanup()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    std::atexit(RemoveAtExit);
    for (int sig : kCleanupSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0) continue;
        if (old.sa_handler == SIG_IGN) continue;   // nohup and the like: stay ignored
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = RemoveAndReraise;
        sigemptyset(&sa.sa_mask);
        for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
        sigaction(sig, &sa, nullptr);
    }
}

bool Register(const std::string& temp)
{
    if (temp.size() >= PATH_MAX) return false;
    for (int i = 0; i < kSlots; ++i) {
        if (slotUsed[i]) continue;
        std::memcpy(tempSlot[i], temp.c_str(), temp.size() + 1);
        slotUsed[i] = 1;
        return true;
    }
    return false;
}

void Unregister(const std::string& temp)
{
    for (int i = 0; i < kSlots; ++i)
        if (slotUsed[i] && temp == tempSlot[i]) slotUsed[i] = 0;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string DirName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) == nullptr) return "";
    return buf;
}

// The absolute, link-free form of `name`, also for a file that does not
// exist yet (its folder resolved, its own name appended); "" when even the
// folder cannot be resolved.
std::string Resolved(const std::string& name)
{
    std::string r = RealPath(name);
    if (!r.empty()) return r;
    const std::string base = BaseName(name);
    if (base.empty() || base == "." || base == "..") return "";
    const std::string dir = RealPath(DirName(name));
    if (dir.empty()) return "";
    return dir == "/" ? "/" + base : dir + "/" + base;
}

bool IsBlank(const std::string& name)
{
    return name.find_first_not_of(" \t") == std::string::npos;
}

bool SyncFile(const std::string& path, std::string& reason)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::string("open for sync: ") + std::strerror(errno);
        return false;
    }
    const bool ok = fsync(fd) == 0;
    if (!ok) reason = std::string("fsync: ") + std::strerror(errno);
    close(fd);
    return ok;
}

} // namespace

std::string ProductWritePath(const std::string& finalName)
{
    if (IsBlank(finalName) || StartsWith(finalName, "/dev/") || StartsWith(finalName, "/proc/"))
        return finalName;
    std::string target = finalName;
    struct stat st;
    if (stat(finalName.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return finalName;
        struct stat lst;
        if (lstat(finalName.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            target = RealPath(finalName);
            if (target.empty()) return finalName;
        }
    } else if (lstat(finalName.c_str(), &st) == 0) {
        return finalName;   // a link to nothing: let the open decide, as before
    }
    const std::string base = BaseName(target);
    if (base.empty() || base == "." || base == "..") return finalName;

    const std::string dir = DirName(target);
    std::string temp = "." + base + "." + std::to_string(getpid()) + ".trokproc-tmp";
    if (target.find('/') != std::string::npos) temp = (dir == "/" ? "/" : dir + "/") + temp;
    InstallCleanup();
    if (!Register(temp)) return finalName;
    pending.emplace_back(temp, target);
    return temp;
}

std::string ProductTarget(const std::string& writePath)
{
    for (const auto& p : pending)
        if (p.first == writePath) return p.second;
    return "";
}

bool SyncProduct(const std::string& writePath, std::string& reason)
{
    struct stat st;
    if (stat(writePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;   // /dev/null, a FIFO
    return SyncFile(writePath, reason);
}

bool CommitProduct(const std::string& writePath, std::string& reason)
{
    const std::string target = ProductTarget(writePath);
    if (target.empty()) return true;   // written directly
    // A product replacing an earlier one keeps that file's permissions.
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        chmod(writePath.c_str(), st.st_mode & 07777);
    if (rename(writePath.c_str(), target.c_str()) != 0) {
        reason = std::string("rename: ") + std::strerror(errno);
        return false;
    }
    Unregister(writePath);
    // Make the new name itself durable; the product is in place either way.
    const int dfd = open(DirName(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

void RemoveProductTemporaries()
{
    for (int i = 0; i < kSlots; ++i) {
        if (!slotUsed[i]) continue;
        unlink(tempSlot[i]);
        slotUsed[i] = 0;
    }
}

bool SameFile(const std::string& a, const std::string& b)
{
    if (IsBlank(a) || IsBlank(b)) return false;
    struct stat sa, sb;
    const bool haveA = stat(a.c_str(), &sa) == 0;
    const bool haveB = stat(b.c_str(), &sb) == 0;
    if (haveA && S_ISCHR(sa.st_mode)) return false;
    if (haveB && S_ISCHR(sb.st_mode)) return false;
    if (haveA && haveB && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
    if (a == b) return true;
    const std::string ra = Resolved(a);
    return !ra.empty() && ra == Resolved(b);
}
