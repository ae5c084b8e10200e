// Early write-back of output files: descriptors it does not apply to are left
// alone, bytes are never changed, and a disk that fails while the data is
// being written back makes the file (and a trokproc run) fail, whether the
// failure shows while the file is written or only at the final sync.
//
// The failing disk is an ext4 file system without a journal on a loop
// device whose image is a sparse file on a small tmpfs: the file system takes
// the data into memory, and writing it back fails (ENOSPC) once the tmpfs is
// full. It is made in a private mount namespace of a child process, as root.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "run_program.h"
#include "platform/write_back.h"

namespace {

const std::string kProg = TROKPROC_PATH;
const std::string kGen = TROKGEN_PATH;

// Writes `size` bytes of a repeating pattern through `wb`, in 64 KiB
// writes; false at the first failed write() or Written().
bool WritePattern(int fd, platform::WriteBack& wb, size_t size)
{
    std::vector<char> block(64 * 1024);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 3);
    for (size_t done = 0; done < size; done += block.size()) {
        if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) return false;
        if (!wb.Written(fd, block.size())) return false;
    }
    return true;
}

std::string FirstExisting(const std::vector<std::string>& paths)
{
    for (const std::string& p : paths)
        if (access(p.c_str(), X_OK) == 0) return p;
    return "";
}

// Why the failing disk cannot be made here, or "" when it can.
std::string FailingDiskUnavailable()
{
    if (geteuid() != 0) return "needs root (mount namespaces, tmpfs and loop mounts)";
    if (FirstExisting({"/usr/sbin/mkfs.ext4", "/sbin/mkfs.ext4"}).empty())
        return "mkfs.ext4 is missing (apt-get install e2fsprogs)";
    if (FirstExisting({"/usr/bin/mount", "/bin/mount"}).empty()) return "mount is missing";
    if (access("/dev/loop-control", F_OK) != 0) return "no loop devices here";
    return "";
}

// In a new private mount namespace: makes the failing disk at `dir`/disk/fs
// with room for `roomKiB` KiB of data, runs `body` on it, and returns what
// the body returns, or "skip: <why>" when the disk cannot be made.
std::string InFailingDisk(const std::string& dir, unsigned roomKiB,
                          const std::function<std::string(const std::string& fs)>& body)
{
    const std::string disk = dir + "/disk", image = disk + "/image", fs = disk + "/fs";
    if (unshare(CLONE_NEWNS) != 0) return std::string("skip: unshare: ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("skip: private mounts: ") + std::strerror(errno);
    mkdir(disk.c_str(), 0755);
    // The image's metadata takes about 60 KiB of the tmpfs.
    const std::string size = "size=" + std::to_string(roomKiB + 64) + "k";
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()) != 0)
        return std::string("skip: tmpfs: ") + std::strerror(errno);
    const int img = open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (img < 0 || ftruncate(img, 256 << 20) != 0) return "skip: cannot make the image";
    close(img);
    ProgramResult made = RunProgram({FirstExisting({"/usr/sbin/mkfs.ext4", "/sbin/mkfs.ext4"}), "-q",
                                     "-F", "-O", "^has_journal,^resize_inode", "-N", "64", "-E",
                                     "lazy_itable_init=0,nodiscard", image});
    mkdir(fs.c_str(), 0755);
    if (made.status == 0)
        made = RunProgram({FirstExisting({"/usr/bin/mount", "/bin/mount"}), "-o", "loop", image, fs});
    if (made.status != 0) {
        umount2(disk.c_str(), MNT_DETACH);
        return "skip: mkfs or loop mount: " + made.err;
    }
    const std::string text = body(fs);
    umount2(fs.c_str(), 0);   // the loop device goes with it
    umount2(disk.c_str(), 0);
    return text;
}

// InFailingDisk in a child process, so that the namespace and its mounts end
// with it; its text comes back through a pipe.
std::string OnFailingDisk(const std::string& dir, unsigned roomKiB,
                          const std::function<std::string(const std::string& fs)>& body)
{
    int fds[2];
    if (pipe(fds) != 0) return "skip: pipe failed";
    const pid_t pid = fork();
    if (pid < 0) return "skip: fork failed";
    if (pid == 0) {
        // The child never returns into the test framework.
        close(fds[0]);
        std::string text;
        try {
            text = InFailingDisk(dir, roomKiB, body);
        } catch (const std::exception& e) {
            text = std::string("child failed: ") + e.what();
        }
        (void)!write(fds[1], text.data(), text.size());
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
        if (n > 0) text.append(buf, static_cast<size_t>(n));
        else if (errno != EINTR) break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + text;
    return text;
}

// The names in a folder other than "." and "..", sorted, one a line.
std::string Listing(const std::string& dir)
{
    const ProgramResult ls = RunProgram({"/bin/ls", "-A", dir});
    return ls.out;
}

TEST(WriteBack, DescriptorsItDoesNotApplyToAreLeftAlone)
{
    // Many stretches' worth said to be written to a pipe: no write-back, no
    // error.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    platform::WriteBack wb;
    for (int i = 0; i < 400; ++i) EXPECT_TRUE(wb.Written(fds[1], 64 * 1024));
    EXPECT_EQ(wb.Errno(), 0);
    close(fds[0]);
    close(fds[1]);

    const int null = open("/dev/null", O_WRONLY);
    ASSERT_GE(null, 0);
    platform::WriteBack toNull;
    EXPECT_TRUE(WritePattern(null, toNull, 20 << 20));
    EXPECT_EQ(toNull.Errno(), 0);
    close(null);
}

// A regular file on a working disk, long enough for the writer to wait for
// earlier stretches, and a second file on the same descriptor number: the
// bytes read back are those written.
TEST(WriteBack, FilesKeepTheirBytes)
{
    const std::string dir = FreshTestDir();
    platform::WriteBack wb;
    for (const char* name : {"/first", "/second"}) {
        const std::string path = dir + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        const size_t size = name[1] == 'f' ? (12 << 20) : (3 << 20) + 512;
        ASSERT_TRUE(WritePattern(fd, wb, size));
        EXPECT_EQ(wb.Errno(), 0);
        ASSERT_EQ(fsync(fd), 0);
        close(fd);
        const std::string bytes = ReadFile(path);
        ASSERT_EQ(bytes.size(), (size + 65535) / 65536 * 65536);
        size_t wrong = 0;
        for (size_t i = 0; i < bytes.size(); ++i)
            wrong += bytes[i] != static_cast<char>((i % 65536) * 7 + 3);
        EXPECT_EQ(wrong, 0u) << path;
    }
}

// Whatever the write-back reports while the file is written, a failing
// disk is never taken for a good one: the write-back or the final sync
// fails, and with ENOSPC or EIO.
TEST(WriteBack, AFailingDiskFailsTheWriteBackOrTheSync)
{
    const std::string why = FailingDiskUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const std::string dir = FreshTestDir();
    for (const size_t size : {size_t(3) << 20, size_t(24) << 20}) {
        const std::string out = OnFailingDisk(dir, 1024, [&](const std::string& fs) {
            const int fd = open((fs + "/data").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0) return std::string("open failed");
            platform::WriteBack wb;
            const bool written = WritePattern(fd, wb, size);
            const int writeErr = wb.Errno();
            const bool synced = fsync(fd) == 0;
            const int syncErr = synced ? 0 : errno;
            close(fd);
            return std::string(written ? "written" : "write failed") + " " +
                   (writeErr == 0 ? "" : std::strerror(writeErr)) + "|" +
                   (synced ? "synced" : std::string("sync failed ") + std::strerror(syncErr));
        });
        if (out.rfind("skip: ", 0) == 0) GTEST_SKIP() << out;
        const bool failedOnce = out.find("write failed") != std::string::npos ||
                                out.find("sync failed") != std::string::npos;
        EXPECT_TRUE(failedOnce) << size << ": " << out;
        EXPECT_TRUE(out.find("No space left on device") != std::string::npos ||
                    out.find("Input/output error") != std::string::npos)
            << out;
        if (size > platform::WriteBack::behind + platform::WriteBack::stretch) {
            EXPECT_EQ(out.rfind("write failed", 0), 0u) << "not seen while writing: " << out;
        }
    }
}

// trokproc writing its products onto the failing disk: status 255, the
// write failure message, no final name (or the earlier products, whole), no
// temporary. Small products fail at their sync; large ones while being
// written back.
TEST(WriteBack, AProductWhoseSyncFailsIsAFailedRun)
{
    const std::string why = FailingDiskUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    struct Case {
        const char* seconds;   // 64 bytes a second in each product
        bool earlier;          // earlier products in place
    };
    for (const Case c : {Case{"30000", false}, Case{"30000", true}, Case{"200000", false}}) {
        const std::string dir = FreshTestDir();
        const ProgramResult gen = RunProgram({kGen, "--out", "in.pkt", "--tle", "in.tle", "--config",
                                              "run.cfg", "--seconds", c.seconds}, dir);
        ASSERT_EQ(gen.status, 0) << gen.err;
        const std::string out = OnFailingDisk(dir, 1024, [&](const std::string& fs) {
            if (c.earlier) {
                WriteFile(fs + "/out.eph", "earlier ephemeris");
                WriteFile(fs + "/out.att", "earlier attitude");
            }
            const ProgramResult r = RunProgram({kProg, "-configfile", "run.cfg", "-ephemerisfile",
                                                fs + "/out.eph", "-attitudefile", fs + "/out.att"},
                                               dir);
            std::string kept;
            if (c.earlier) kept = ReadFile(fs + "/out.eph") + "+" + ReadFile(fs + "/out.att");
            return std::to_string(r.status) + "\n" + r.err + "\n--\n" + Listing(fs) + "--\n" + kept;
        });
        if (out.rfind("skip: ", 0) == 0) GTEST_SKIP() << out;
        SCOPED_TRACE(std::string(c.seconds) + (c.earlier ? " s, earlier products" : " s"));
        EXPECT_EQ(out.rfind("255\n\nFile Write failed for ", 0), 0u) << out;
        const std::string listing = out.substr(out.find("\n--\n") + 4);
        if (c.earlier)
            EXPECT_EQ(listing, "lost+found\nout.att\nout.eph\n--\nearlier ephemeris+earlier attitude");
        else
            EXPECT_EQ(listing, "lost+found\n--\n");
    }
}

} // namespace
