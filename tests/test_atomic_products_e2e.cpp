// End-to-end runs of trokproc that fail, are stopped by a signal or name one
// file twice: an earlier product of the same name must survive byte for
// byte, and no temporary file may stay behind (except after SIGKILL).
#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "run_program.h"

namespace {

const std::string kProg = TROKPROC_PATH;
const std::string kGen = TROKGEN_PATH;
const std::string kEarlierEph = "earlier ephemeris product, kept whole";
const std::string kEarlierAtt = "earlier attitude product, kept whole";

// Generated input in `dir`: in.pkt, in.tle and run.cfg naming out.eph and
// out.att.
void Generate(const std::string& dir, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> argv{kGen, "--out", "in.pkt", "--tle", "in.tle", "--config",
                                  "run.cfg", "--eph", "out.eph", "--att", "out.att"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const ProgramResult gen = RunProgram(argv, dir);
    ASSERT_EQ(gen.status, 0) << gen.err;
}

void PlaceEarlierProducts(const std::string& dir)
{
    WriteFile(dir + "/out.eph", kEarlierEph);
    WriteFile(dir + "/out.att", kEarlierAtt);
}

void ExpectEarlierProducts(const std::string& dir)
{
    EXPECT_EQ(ReadFile(dir + "/out.eph"), kEarlierEph);
    EXPECT_EQ(ReadFile(dir + "/out.att"), kEarlierAtt);
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

std::vector<std::string> Temporaries(const std::string& dir)
{
    std::vector<std::string> found;
    for (const std::string& n : Entries(dir))
        if (n.find(".trokproc-tmp") != std::string::npos) found.push_back(n);
    return found;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string Sha256(const std::string& path)
{
    const ProgramResult r = RunProgram({"/usr/bin/sha256sum", path});
    return r.out.substr(0, 64);
}

std::string ReferenceHash(const std::string& name)
{
    std::ifstream f(std::string(TROK_SOURCE_DIR) + "/bench/reference.sha256");
    std::string digest, file;
    while (f >> digest >> file)
        if (file == name) return digest;
    return "";
}

TEST(AtomicProducts, FailedRunsLeaveEarlierProductsAndNoTemporaries)
{
    {   // The time-order fault ends the run halfway through the copy.
        const std::string dir = FreshTestDir();
        Generate(dir, {"--seconds", "4000", "--time-fault"});
        PlaceEarlierProducts(dir);
        const ProgramResult r = RunProgram({kProg, "-configfile", "run.cfg"}, dir);
        EXPECT_EQ(r.status, 255) << r.err;
        ExpectEarlierProducts(dir);
        EXPECT_TRUE(Temporaries(dir).empty());
    }
    {   // A packet file cut off inside a packet.
        const std::string dir = FreshTestDir();
        Generate(dir, {"--seconds", "4000"});
        std::string pkt = ReadFile(dir + "/in.pkt");
        WriteFile(dir + "/in.pkt", pkt.substr(0, pkt.size() / 2 + 37));
        PlaceEarlierProducts(dir);
        const ProgramResult r = RunProgram({kProg, "-configfile", "run.cfg"}, dir);
        EXPECT_EQ(r.status, 255) << r.err;
        ExpectEarlierProducts(dir);
        EXPECT_TRUE(Temporaries(dir).empty());
    }
    {   // The attitude product cannot be opened: the ephemeris temporary,
        // already written to, goes too.
        const std::string dir = FreshTestDir();
        Generate(dir, {"--seconds", "600"});
        PlaceEarlierProducts(dir);
        const ProgramResult r =
            RunProgram({kProg, "-configfile", "run.cfg", "-attitudefile", "nodir/out.att"}, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "\nFile Open failed for attitude file:  nodir/out.att\n");
        ExpectEarlierProducts(dir);
        EXPECT_TRUE(Temporaries(dir).empty());
    }
}

// A tmpfs too small for both products: the write fails near its end.
TEST(AtomicProducts, FullFileSystemLeavesEarlierProducts)
{
    const std::string dir = FreshTestDir();
    const std::string mnt = dir + "/small";
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=3m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    Generate(dir, {"--seconds", "30000"});   // two products of 1.9 MB each
    PlaceEarlierProducts(mnt);
    const ProgramResult r = RunProgram({kProg, "-configfile", "run.cfg", "-ephemerisfile",
                                        "small/out.eph", "-attitudefile", "small/out.att"},
                                       dir);
    const std::vector<std::string> left = Temporaries(mnt);
    const std::string eph = ReadFile(mnt + "/out.eph");
    const std::string att = ReadFile(mnt + "/out.att");
    umount(mnt.c_str());
    EXPECT_EQ(r.status, 255);
    // Both grow together; whichever is checked first reports the failure.
    EXPECT_EQ(r.err.rfind("\nFile Write failed for ", 0), 0u) << r.err;
    EXPECT_EQ(eph, kEarlierEph);
    EXPECT_EQ(att, kEarlierAtt);
    EXPECT_TRUE(left.empty());
}

// Starts trokproc in `dir` and stops it (SIGSTOP) as soon as its attitude
// temporary exists, so that the signal under test lands in the middle of
// the copy. Returns the pid, or -1 when the run ended first.
pid_t StartAndCatchMidRun(const std::string& dir)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(kProg.c_str(), kProg.c_str(), "-configfile", "run.cfg", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string temp = dir + "/.out.att." + std::to_string(pid) + ".trokproc-tmp";
    for (;;) {
        if (Exists(temp)) {
            kill(pid, SIGSTOP);
            return pid;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) return -1;
        usleep(200);
    }
}

TEST(AtomicProducts, SignalsLeaveEarlierProducts)
{
    const std::string dir = FreshTestDir();
    Generate(dir, {"--seconds", "86400"});
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(sig);
        PlaceEarlierProducts(dir);
        const pid_t pid = StartAndCatchMidRun(dir);
        ASSERT_GT(pid, 0) << "the run ended before it could be stopped";
        kill(pid, sig);
        kill(pid, SIGCONT);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        // Ended by the same signal, as without the clean-up.
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), sig);
        ExpectEarlierProducts(dir);
        const std::vector<std::string> left = Temporaries(dir);
        if (sig == SIGKILL) {
            // Nothing can clean up after SIGKILL; the strays carry the pid.
            const std::string tail = "." + std::to_string(pid) + ".trokproc-tmp";
            EXPECT_EQ(left.size(), 2u);
            for (const std::string& n : left) {
                EXPECT_EQ(n.substr(n.size() - tail.size()), tail);
                unlink((dir + "/" + n).c_str());
            }
        } else {
            EXPECT_TRUE(left.empty());
        }
    }
}

TEST(AtomicProducts, SuccessfulRunReplacesProductsWithReferenceBytes)
{
    const std::string dir = FreshTestDir();
    // The benchmark's one-day input (bench/run, on the two-body orbit the
    // reference was made with): its products have known hashes.
    Generate(dir, {"--seconds", "86400", "--small-gaps", "4", "--large-gaps", "1", "--repeats",
                   "2", "--other-apid", "20", "--seed", "4242", "--two-body"});
    PlaceEarlierProducts(dir);
    chmod((dir + "/out.eph").c_str(), 0640);
    WriteFile(dir + "/real.att", kEarlierAtt);
    unlink((dir + "/out.att").c_str());
    ASSERT_EQ(symlink("real.att", (dir + "/out.att").c_str()), 0);

    const ProgramResult r = RunProgram({kProg, "-configfile", "run.cfg"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sha256(dir + "/out.eph"), ReferenceHash("day1.eph"));
    EXPECT_EQ(Sha256(dir + "/real.att"), ReferenceHash("day1.att"));
    struct stat st;
    ASSERT_EQ(stat((dir + "/out.eph").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);   // the earlier file's permissions carry over
    ASSERT_EQ(lstat((dir + "/out.att").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));       // a link to the product stays a link
    EXPECT_TRUE(Temporaries(dir).empty());
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(AtomicProducts, NameClashesAreRefusedBeforeWriting)
{
    const std::string dir = FreshTestDir();
    Generate(dir, {"--seconds", "600"});
    mkdir((dir + "/sub").c_str(), 0755);
    const std::string pkt = ReadFile(dir + "/in.pkt");
    const std::string tle = ReadFile(dir + "/in.tle");
    ASSERT_EQ(link((dir + "/in.tle").c_str(), (dir + "/hard.tle").c_str()), 0);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-ephemerisfile", "same", "-attitudefile", "same"},
         "\nFile name clash: ephemeris file same and attitude file same are the same file\n"},
        {{"-ephemerisfile", "sub/../in.pkt"},
         "\nFile name clash: ephemeris file sub/../in.pkt and packet file in.pkt are the same file\n"},
        {{"-attitudefile", "hard.tle"},
         "\nFile name clash: attitude file hard.tle and norad file in.tle are the same file\n"},
        {{"-ephemerisfile", "sub/x", "-attitudefile", dir + "/sub/x"},
         "\nFile name clash: ephemeris file sub/x and attitude file " + dir +
             "/sub/x are the same file\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{kProg, "-configfile", "run.cfg"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramResult r = RunProgram(argv, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(ReadFile(dir + "/in.pkt"), pkt);
        EXPECT_EQ(ReadFile(dir + "/in.tle"), tle);
        EXPECT_FALSE(Exists(dir + "/same"));
        EXPECT_FALSE(Exists(dir + "/sub/x"));
        EXPECT_FALSE(Exists(dir + "/out.eph"));
        EXPECT_TRUE(Temporaries(dir).empty());
        EXPECT_TRUE(Temporaries(dir + "/sub").empty());
    }
    // Both products thrown away is no clash.
    const ProgramResult r = RunProgram(
        {kProg, "-configfile", "run.cfg", "-ephemerisfile", "/dev/null", "-attitudefile", "/dev/null"},
        dir);
    EXPECT_EQ(r.status, 0) << r.err;
}

} // namespace
