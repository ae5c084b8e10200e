#include "vn_class_outputfile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Registered temporaries, kept where a signal handler may read them: fixed
// slots filled before they are marked in use and marked free before their
// folder is closed.
const int kSlots = 64;
struct Slot {
    volatile sig_atomic_t used;
    int dirfd;
    char name[NAME_MAX + 1];
};
Slot slots[kSlots];

const int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGXFSZ, SIGABRT};
const char kTempSuffix[] = ".trokproc-tmp";
const int kMaxLinks = 40;   // as the kernel allows in one path

extern "C" void RemoveAtExit() { RemoveOutputTemporaries(); }

extern "C" void RemoveAndReraise(int sig)
{
    const int savedErrno = errno;
    RemoveOutputTemporaries();
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

// Holds back every blockable signal for its lifetime.
class SignalHold
{
public:
    SignalHold()
    {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &saved);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t saved;
};

int Register(int dirfd, const std::string& name)
{
    if (name.size() > NAME_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (slots[i].used) continue;
        std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
        slots[i].dirfd = dirfd;
        std::atomic_signal_fence(std::memory_order_seq_cst);   // filled before marked
        slots[i].used = 1;
        return i;
    }
    return -1;
}

// The folder is on /proc, where links stand for the process's own
// descriptors rather than for paths.
bool OnProc(int dirfd)
{
    struct stat proc, dir;
    return stat("/proc", &proc) == 0 && fstat(dirfd, &dir) == 0 && dir.st_dev == proc.st_dev;
}

// Frees a slot unless the exit clean-up already freed it and another file
// took it since.
void Unregister(int slot, int dirfd, const std::string& name)
{
    if (slots[slot].used && slots[slot].dirfd == dirfd && name == slots[slot].name)
        slots[slot].used = 0;
}

// The owners whose links and devices the user may follow and write: the
// user, and root, whom no one else can impersonate.
bool Trusted(uid_t owner) { return owner == geteuid() || owner == 0; }

void SplitName(const std::string& path, std::string& dir, std::string& base)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
}

// Opens a folder to work in: readable where allowed (so that it can be
// synced), else for its name only.
int OpenFolder(int at, const std::string& dir)
{
    int fd = openat(at, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = openat(at, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

bool ReadLinkAt(int dirfd, const std::string& base, std::string& target)
{
    std::string buf(PATH_MAX, '\0');
    const ssize_t n = readlinkat(dirfd, base.c_str(), &buf[0], buf.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) >= buf.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    target.assign(buf, 0, static_cast<size_t>(n));
    return true;
}

// 0666 less the umask, read afresh: the program may have changed it.
unsigned DefaultMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

// Six letters or digits from the kernel's random source.
bool RandomLetters(char out[6])
{
    static const char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < sizeof bytes) {   // a kernel without getrandom
        const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        got = 0;
        while (got < sizeof bytes) {
            const ssize_t n = read(fd, bytes + got, sizeof bytes - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        close(fd);
        if (got < sizeof bytes) return false;
    }
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

std::string Reason(const std::string& what, int err)
{
    return what.empty() ? std::strerror(err) : what + ": " + std::strerror(err);
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
    std::string dir, base;
    SplitName(name, dir, base);
    if (base.empty() || base == "." || base == "..") return "";
    dir = RealPath(dir);
    if (dir.empty()) return "";
    return dir == "/" ? "/" + base : dir + "/" + base;
}

} // namespace

outputfile::~outputfile() { Discard(); }

bool outputfile::Fail(const std::string& what, int err)
{
    error = Reason(what, err);
    refused = false;
    Discard();
    return false;
}

bool outputfile::Refuse(const std::string& why)
{
    error = why;
    refused = true;
    Discard();
    return false;
}

// Follows the name to the file it stands for and leaves dirfd open on that
// file's folder: `base` its name there, `special` for a device or FIFO
// (written in place), `mode` the mode a new file gets. Links and special
// files must be of a trusted owner; each link is checked before it is
// followed, and the folder reached is held open, so nothing is looked up
// again by path afterwards.
bool outputfile::Resolve(std::string& base, bool& special, bool& throughLink, unsigned& mode)
{
    std::string dir;
    SplitName(name, dir, base);
    dirfd = OpenFolder(AT_FDCWD, dir);
    if (dirfd < 0) return Fail("", errno);
    bool viaLink = false;
    special = throughLink = false;
    mode = DefaultMode();
    for (int links = 0;; ++links) {
        if (base.empty() || base == "." || base == "..") return Fail("", EISDIR);
        struct stat st;
        if (fstatat(dirfd, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) return true;   // a new file
            return Fail("", errno);
        }
        if (S_ISREG(st.st_mode)) {
            if (st.st_uid == geteuid() && st.st_nlink == 1) {
                // An earlier file of ours keeps its permissions (a second
                // name of it could be another user's doing).
                mode = st.st_mode & 0777;
            } else if (st.st_uid != geteuid() && viaLink) {
                return Refuse("a link to a file of another user");
            }
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) return Fail("", EISDIR);
            if (!Trusted(st.st_uid)) return Refuse("a device or FIFO of another user");
            special = true;
            return true;
        }
        if (!Trusted(st.st_uid)) return Refuse("a link of another user");
        if (OnProc(dirfd)) {
            // /dev/stdout, /dev/fd/N: a descriptor the process holds, written
            // through the link whatever it leads to (a terminal, a pipe, the
            // file standard output was sent to).
            struct stat obj;
            if (fstatat(dirfd, base.c_str(), &obj, 0) != 0) return Fail("", errno);
            if (S_ISDIR(obj.st_mode)) return Fail("", EISDIR);
            special = throughLink = true;
            return true;
        }
        if (links == kMaxLinks) return Fail("", ELOOP);
        viaLink = true;
        std::string to;
        if (!ReadLinkAt(dirfd, base, to)) return Fail("", errno);
        if (to.empty()) return Fail("", ENOENT);
        std::string toDir;
        SplitName(to, toDir, base);
        const int next = OpenFolder(to[0] == '/' ? AT_FDCWD : dirfd, toDir);
        if (next < 0) return Fail("", errno);
        close(dirfd);
        dirfd = next;
    }
}

bool outputfile::CreateTemporary(const std::string& base, unsigned mode)
{
    InstallCleanup();
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
        slot = Register(dirfd, candidate);
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

bool outputfile::Open(const std::string& fileName)
{
    Discard();
    name = fileName;
    error.clear();
    refused = false;
    if (BlankName(name)) return Refuse("no file name given");
    std::string base;
    bool special = false, throughLink = false;
    unsigned mode = 0;
    if (!Resolve(base, special, throughLink, mode)) return false;
    target = base;
    if (!special) return CreateTemporary(base, mode);

    // Written in place. The object must still be the one checked above; a
    // regular file behind a descriptor of ours is written from its start.
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

bool outputfile::Finish()
{
    if (fd < 0) {
        error = "not open";
        return false;
    }
    if (!direct && fsync(fd) != 0) {
        error = Reason("fsync", errno);
        return false;
    }
    const int closing = fd;
    fd = -1;
    if (close(closing) != 0 && errno != EINTR) {
        error = Reason("close", errno);
        return false;
    }
    return true;
}

bool outputfile::Publish()
{
    if (!direct) {
        if (temp.empty()) {
            error = "not open";
            return false;
        }
        if (renameat(dirfd, temp.c_str(), dirfd, target.c_str()) != 0) {
            error = Reason("rename", errno);
            return false;
        }
        Unregister(slot, dirfd, temp);
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

bool outputfile::Commit()
{
    if (!Finish()) return false;
    SignalHold hold;
    return Publish();
}

void outputfile::Discard()
{
    if (fd >= 0) close(fd);
    fd = -1;
    if (slot >= 0) {
        unlinkat(dirfd, temp.c_str(), 0);
        Unregister(slot, dirfd, temp);
        slot = -1;
    }
    temp.clear();
    if (dirfd >= 0) close(dirfd);
    dirfd = -1;
    direct = false;
}

bool CommitFilesTogether(const std::vector<outputfile*>& files, size_t& failed)
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

outputbuf::outputbuf(const outputfile& f) : file(f), own(8192)
{
    setp(own.data(), own.data() + own.size());
}

bool outputbuf::WriteAll(const char* s, size_t n)
{
    const size_t total = n;
    while (n > 0) {
        const int fd = file.Fd();
        if (fd < 0) {
            if (err == 0) err = EBADF;
            return false;
        }
        const ssize_t w = write(fd, s, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (err == 0) err = errno;
            return false;
        }
        s += w;
        n -= static_cast<size_t>(w);
    }
    if (file.Direct() || early.Written(file.Fd(), total)) return true;
    if (err == 0) err = early.Errno();
    return false;
}

bool outputbuf::Drain()
{
    const size_t n = static_cast<size_t>(pptr() - pbase());
    const bool ok = WriteAll(pbase(), n);
    setp(pbase(), epptr());   // written or dropped
    return ok;
}

outputbuf::int_type outputbuf::overflow(int_type c)
{
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (pbase() == epptr()) {   // no buffer at all
        const char ch = traits_type::to_char_type(c);
        return WriteAll(&ch, 1) ? c : traits_type::eof();
    }
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize outputbuf::xsputn(const char* s, std::streamsize n)
{
    const std::streamsize room = epptr() - pptr();
    if (n <= room) {
        traits_type::copy(pptr(), s, static_cast<size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    // Larger than the room left: out with the buffer and then the bytes.
    if (!Drain()) return 0;
    if (n < epptr() - pbase()) {
        traits_type::copy(pptr(), s, static_cast<size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    return WriteAll(s, static_cast<size_t>(n)) ? n : 0;
}

int outputbuf::sync() { return Drain() ? 0 : -1; }

outputbuf::pos_type outputbuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                       std::ios_base::openmode which)
{
    if (!(which & std::ios_base::out) || !Drain()) return pos_type(off_type(-1));
    const int whence = dir == std::ios_base::beg ? SEEK_SET
                       : dir == std::ios_base::cur ? SEEK_CUR
                                                   : SEEK_END;
    const off_t at = lseek(file.Fd(), static_cast<off_t>(off), whence);
    if (at < 0) {
        if (err == 0) err = errno;
        return pos_type(off_type(-1));
    }
    return pos_type(static_cast<off_type>(at));
}

outputbuf::pos_type outputbuf::seekpos(pos_type pos, std::ios_base::openmode which)
{
    return seekoff(off_type(pos), std::ios_base::beg, which);
}

std::streambuf* outputbuf::setbuf(char* s, std::streamsize n)
{
    if (!Drain()) return nullptr;
    if (s == nullptr || n <= 0)
        setp(own.data(), own.data() + own.size());
    else
        setp(s, s + n);
    return this;
}

outputstream::outputstream() : std::ostream(nullptr), buf(file) { rdbuf(&buf); }

outputstream::outputstream(const std::string& fileName) : outputstream() { Open(fileName); }

outputstream::~outputstream() { Discard(); }

bool outputstream::Open(const std::string& fileName)
{
    writeError.clear();
    if (file.Open(fileName)) {
        clear();
        return true;
    }
    setstate(std::ios::failbit);
    return false;
}

bool outputstream::Flushed()
{
    if (!file.IsOpen()) {
        if (file.Error().empty()) writeError = "not open";
        return false;
    }
    flush();
    if (!fail()) return true;
    writeError = Reason("write", buf.Errno() != 0 ? buf.Errno() : EIO);
    return false;
}

bool outputstream::Commit()
{
    if (!Flushed()) {
        Discard();
        return false;
    }
    if (file.Commit()) return true;
    file.Discard();
    return false;
}

void outputstream::Discard() { file.Discard(); }

std::string outputstream::Error() const
{
    return writeError.empty() ? file.Error() : writeError;
}

bool CommitTogether(const std::vector<outputstream*>& streams, size_t& failed)
{
    std::vector<outputfile*> files;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (!streams[i]->Flushed()) {
            failed = i;
            return false;
        }
        files.push_back(&streams[i]->File());
    }
    return CommitFilesTogether(files, failed);
}

void RemoveOutputTemporaries()
{
    for (int i = 0; i < kSlots; ++i) {
        if (!slots[i].used) continue;
        unlinkat(slots[i].dirfd, slots[i].name, 0);
        slots[i].used = 0;
    }
}

bool BlankName(const std::string& name)
{
    return name.find_first_not_of(" \t") == std::string::npos;
}

bool SameFile(const std::string& a, const std::string& b)
{
    if (BlankName(a) || BlankName(b)) return false;
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
