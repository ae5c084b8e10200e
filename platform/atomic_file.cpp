#include "platform/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/path_trust.h"
#include "platform/random_bytes.h"
#include "platform/signal_hold.h"
#include "platform/temp_registry.h"

namespace platform {

namespace {

const char kTempSuffix[] = ".trokproc-tmp";

// Six letters or digits from the kernel's random source.
bool RandomLetters(char out[6])
{
    static const char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    if (!RandomBytes(bytes, sizeof bytes)) return false;
    for (int i = 0; i < 6; ++i) out[i] = kLetters[bytes[i] % 62];
    return true;
}

// ".<base>.<pid>.<random>.trokproc-tmp", with the base cut short when the
// whole would exceed the folder's name limit.
std::string TemporaryName(int dirfd, const std::string& base, const char random[6])
{
    long nameMax = fpathconf(dirfd, _PC_NAME_MAX);
    if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;
    const std::string tail =
        "." + std::to_string(getpid()) + "." + std::string(random, 6) + kTempSuffix;
    const size_t limit = static_cast<size_t>(nameMax);
    const size_t room = limit > tail.size() + 2 ? limit - 1 - tail.size() : 1;
    return "." + base.substr(0, room) + tail;
}

} // namespace

std::string ErrorText(const std::string& what, int err)
{
    return what.empty() ? std::strerror(err) : what + ": " + std::strerror(err);
}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Fail(const std::string& what, int err)
{
    error = ErrorText(what, err);
    refused = false;
    Discard();
    return false;
}

bool AtomicFile::Refuse(const std::string& why)
{
    error = why;
    refused = true;
    Discard();
    return false;
}

bool AtomicFile::CreateTemporary(const std::string& base, unsigned mode)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        char random[6];
        if (!RandomLetters(random)) return Fail("random temporary name", errno ? errno : EIO);
        const std::string candidate = TemporaryName(dirfd, base, random);
        // Created and registered with the signals held back, so that no
        // signal can leave it behind unregistered.
        SignalHold hold;
        fd = openat(dirfd, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return Fail("", errno);
        }
        slot = RegisterTemporary(dirfd, candidate);
        if (slot < 0) {
            unlinkat(dirfd, candidate.c_str(), 0);
            Discard();
            error = "too many output files at once";
            refused = false;
            return false;
        }
        temp = candidate;
        break;
    }
    if (fd < 0) return Fail("", EEXIST);
    // The mode is set on the file we created, never looked up by name.
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0) return Fail("fchmod", errno);
    return true;
}

// Written in place. The object must still be the one checked when the name
// was followed; a regular file behind a descriptor of ours is written from
// its start.
bool AtomicFile::OpenInPlace(const std::string& base, bool throughLink)
{
    struct stat before;
    if (fstatat(dirfd, base.c_str(), &before, throughLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return Fail("", errno);
    const bool regular = S_ISREG(before.st_mode);
    if (regular && !throughLink) return Refuse("changed while being opened");
    fd = openat(dirfd, base.c_str(),
                O_WRONLY | O_NOCTTY | O_CLOEXEC | (throughLink ? 0 : O_NOFOLLOW) |
                    (regular ? O_TRUNC : 0));
    if (fd < 0) return Fail("", errno);
    struct stat now;
    if (fstat(fd, &now) != 0) return Fail("", errno);
    if (now.st_dev != before.st_dev || now.st_ino != before.st_ino)
        return Refuse("changed while being opened");
    direct = true;
    return true;
}

bool AtomicFile::Open(const std::string& fileName)
{
    Discard();
    name = fileName;
    error.clear();
    refused = false;
    if (BlankName(name)) return Refuse("no file name given");
    OutputTarget t;
    if (!FindOutputTarget(name, t, error, refused)) {
        Discard();
        return false;
    }
    dirfd = t.dirfd;
    target = t.base;
    if (!t.special) return CreateTemporary(t.base, t.mode);
    return OpenInPlace(t.base, t.throughLink);
}

bool AtomicFile::OpenAt(int at, const std::string& fileName, int mode)
{
    Discard();
    name = fileName;
    error.clear();
    refused = false;
    if (BlankName(name)) return Refuse("no file name given");
    if (name.find('/') != std::string::npos || name == "." || name == "..")
        return Refuse("not a name of a file in the folder");
    dirfd = fcntl(at, F_DUPFD_CLOEXEC, 3);
    if (dirfd < 0) return Fail("", errno);
    target = name;
    unsigned m = mode >= 0 ? static_cast<unsigned>(mode) & 07777 : DefaultFileMode();
    struct stat st;
    if (mode < 0 && fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && KeepsItsMode(st))
        m = st.st_mode & 0777;
    return CreateTemporary(name, m);
}

bool AtomicFile::Finish()
{
    if (fd < 0) {
        error = "not open";
        return false;
    }
    if (!direct && fsync(fd) != 0) {
        error = ErrorText("fsync", errno);
        return false;
    }
    const int closing = fd;
    fd = -1;
    if (close(closing) != 0 && errno != EINTR) {
        error = ErrorText("close", errno);
        return false;
    }
    return true;
}

bool AtomicFile::Publish()
{
    if (!direct) {
        if (temp.empty()) {
            error = "not open";
            return false;
        }
        if (renameat(dirfd, temp.c_str(), dirfd, target.c_str()) != 0) {
            error = ErrorText("rename", errno);
            return false;
        }
        UnregisterTemporary(slot, dirfd, temp);
        slot = -1;
        temp.clear();
        // Make the new name itself durable; the file is in place either way.
        fsync(dirfd);
    }
    close(dirfd);
    dirfd = -1;
    direct = false;
    return true;
}

bool AtomicFile::Commit()
{
    if (!Finish()) return false;
    SignalHold hold;
    return Publish();
}

void AtomicFile::Discard()
{
    if (fd >= 0) close(fd);
    fd = -1;
    if (slot >= 0) {
        unlinkat(dirfd, temp.c_str(), 0);
        UnregisterTemporary(slot, dirfd, temp);
        slot = -1;
    }
    temp.clear();
    if (dirfd >= 0) close(dirfd);
    dirfd = -1;
    direct = false;
}

bool CommitFilesTogether(const std::vector<AtomicFile*>& files, size_t& failed)
{
    for (size_t i = 0; i < files.size(); ++i)
        if (!files[i]->Finish()) {
            failed = i;
            return false;
        }
    SignalHold hold;
    for (size_t i = 0; i < files.size(); ++i)
        if (!files[i]->Publish()) {
            failed = i;
            return false;
        }
    return true;
}

} // namespace platform
