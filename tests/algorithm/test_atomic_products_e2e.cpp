// End-to-end runs of trokproc that fail, are stopped by a signal or name one
// file twice: an earlier product of the same name must survive byte for
// byte, and no temporary file may stay behind (except after SIGKILL).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
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

// The signal lands mid-copy: the attitude product goes to a FIFO that
// nobody reads, so the run stands still there with the ephemeris temporary
// partly written.
TEST(AtomicProducts, SignalsLeaveEarlierProducts)
{
    const std::string dir = FreshTestDir();
    Generate(dir, {"--seconds", "86400"});
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(sig);
        WriteFile(dir + "/out.eph", kEarlierEph);
        unlink((dir + "/out.att").c_str());
        int reader = -1;
        const pid_t pid = StartBlockedOnFifo({kProg, "-configfile", "run.cfg"}, dir,
                                             dir + "/out.att", reader);
        ASSERT_GT(pid, 0) << "the run ended before the signal";
        ASSERT_EQ(Temporaries(dir).size(), 1u);
        kill(pid, sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        close(reader);
        // Ended by the same signal, as without the clean-up.
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(ReadFile(dir + "/out.eph"), kEarlierEph);
        const std::vector<std::string> left = Temporaries(dir);
        if (sig == SIGKILL) {
            // Nothing can clean up after SIGKILL; the stray carries the pid.
            ASSERT_EQ(left.size(), 1u);
            EXPECT_EQ(left[0].rfind(".out.eph." + std::to_string(pid) + ".", 0), 0u) << left[0];
            unlink((dir + "/" + left[0]).c_str());
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

TEST(AtomicProducts, NameClashesAndBlankNamesAreRefusedBeforeWriting)
{
    const std::string dir = FreshTestDir();
    Generate(dir, {"--seconds", "600"});
    mkdir((dir + "/sub").c_str(), 0755);
    const std::string pkt = ReadFile(dir + "/in.pkt");
    const std::string tle = ReadFile(dir + "/in.tle");
    const std::string cfg = ReadFile(dir + "/run.cfg");
    WriteFile(dir + "/ ", pkt);   // a file a blank name would reach
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
        {{"-attitudefile", "./run.cfg"},
         "\nFile name clash: attitude file ./run.cfg and configuration file run.cfg are the "
         "same file\n"},
        {{"-ephemerisfile", " ", "-attitudefile", " "},
         "\nFile Open failed for ephemeris file:  no file name given\n"},
        {{"-packetfile", " ", "-ephemerisfile", " "},
         "\nFile Open failed for packet file:  no file name given\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{kProg, "-configfile", "run.cfg"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramResult r = RunProgram(argv, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(ReadFile(dir + "/in.pkt"), pkt);
        EXPECT_EQ(ReadFile(dir + "/in.tle"), tle);
        EXPECT_EQ(ReadFile(dir + "/run.cfg"), cfg);
        EXPECT_EQ(ReadFile(dir + "/ "), pkt);
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

// A SIGTERM that arrives between the two renames (the first one held up for
// three seconds under strace) waits for the second: the run ends by the
// signal with both new products in place.
TEST(AtomicProducts, PairCommitsTogetherUnderASignal)
{
    const std::string strace = "/usr/bin/strace";
    if (RunProgram({strace, "-qq", "-o", "/dev/null", "/bin/true"}).status != 0)
        GTEST_SKIP() << "strace is missing or cannot trace here (apt-get install strace)";
    const std::string dir = FreshTestDir();
    Generate(dir, {"--seconds", "600"});
    ASSERT_EQ(RunProgram({kProg, "-configfile", "run.cfg"}, dir).status, 0);
    const std::string newEph = ReadFile(dir + "/out.eph"), newAtt = ReadFile(dir + "/out.att");
    PlaceEarlierProducts(dir);

    const pid_t tracer = fork();
    if (tracer == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(dir.c_str()) != 0) _exit(127);
        execl(strace.c_str(), "strace", "-qq", "-o", "/dev/null", "-e",
              "trace=rename,renameat,renameat2", "-e",
              "inject=rename,renameat,renameat2:delay_exit=3s:when=1", kProg.c_str(),
              "-configfile", "run.cfg", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The first rename is done once the new ephemeris product is in place.
    struct stat st;
    for (int ms = 0; ms < 60000; ++ms) {
        if (stat((dir + "/out.eph").c_str(), &st) == 0 && st.st_size != off_t(kEarlierEph.size()))
            break;
        usleep(1000);
    }
    const std::vector<std::string> temps = Temporaries(dir);
    ASSERT_EQ(temps.size(), 1u) << "no run between its two renames";
    const std::string& temp = temps[0];   // .out.att.<pid>.<random>.trokproc-tmp
    const pid_t pid = std::stoi(temp.substr(std::string(".out.att.").size()));
    kill(pid, SIGTERM);
    const bool inWindow = Exists(dir + "/" + temp);
    int status = 0;
    ASSERT_EQ(waitpid(tracer, &status, 0), tracer);
    ASSERT_TRUE(inWindow) << "the signal came after the second rename";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(ReadFile(dir + "/out.eph") == newEph);
    EXPECT_TRUE(ReadFile(dir + "/out.att") == newAtt);
    EXPECT_TRUE(Temporaries(dir).empty());
}

// Targets once written in place now get a temporary too: under /dev/shm, a
// 240-byte name, a path that leaves no room for a temporary's full path. A
// failed run leaves the earlier products; a good one writes the new ones.
TEST(AtomicProducts, ShmAndLongNamesGetTheAtomicWrite)
{
    const std::string dir = FreshTestDir();
    Generate(dir, {"--seconds", "600"});
    ASSERT_EQ(RunProgram({kProg, "-configfile", "run.cfg"}, dir).status, 0);
    const std::string newEph = ReadFile(dir + "/out.eph"), newAtt = ReadFile(dir + "/out.att");
    mkdir((dir + "/bad").c_str(), 0755);
    Generate(dir + "/bad", {"--seconds", "600", "--time-fault"});

    std::string deep = dir;
    while (deep.size() < 4000) {
        deep += "/" + std::string(std::min<size_t>(200, 4000 - deep.size()), 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    const std::string shm = "/dev/shm/trok-" + std::to_string(getpid());
    struct Target {
        std::string folder, eph, att;
    };
    std::vector<Target> targets = {{dir, dir + "/" + std::string(240, 'e'),
                                    dir + "/" + std::string(240, 'a')},
                                   {deep, deep + "/out.eph", deep + "/out.att"}};
    if (mkdir(shm.c_str(), 0700) == 0)
        targets.push_back({shm, shm + "/out.eph", shm + "/out.att"});
    for (const Target& t : targets) {
        SCOPED_TRACE(t.eph.substr(0, 60) + "... (" + std::to_string(t.eph.size()) + " bytes)");
        WriteFile(t.eph, kEarlierEph);
        WriteFile(t.att, kEarlierAtt);
        ProgramResult r = RunProgram({kProg, "-configfile", "run.cfg", "-packetfile",
                                      "bad/in.pkt", "-ephemerisfile", t.eph, "-attitudefile",
                                      t.att}, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(ReadFile(t.eph), kEarlierEph);
        EXPECT_EQ(ReadFile(t.att), kEarlierAtt);
        EXPECT_TRUE(Temporaries(t.folder).empty());
        r = RunProgram({kProg, "-configfile", "run.cfg", "-ephemerisfile", t.eph,
                        "-attitudefile", t.att}, dir);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(t.eph) == newEph);
        EXPECT_TRUE(ReadFile(t.att) == newAtt);
        EXPECT_TRUE(Temporaries(t.folder).empty());
    }
    RunProgram({"/bin/rm", "-rf", shm});
}

// Another user (nobody) plants links, files and FIFOs in a world-writable
// folder without the sticky bit, where the kernel's protected_symlinks and
// protected_regular do not apply, before a root run there. Root only.
class OtherUser : public ::testing::Test
{
public:
    void SetUp() override
    {
        const passwd* pw = getpwnam("nobody");
        const group* gr = getgrnam("nogroup");
        if (geteuid() != 0 || pw == nullptr || gr == nullptr)
            GTEST_SKIP() << "needs root and the user nobody to play another user";
        uid = pw->pw_uid;
        gid = gr->gr_gid;
        RecordProperty("fs.protected_symlinks", ReadFile("/proc/sys/fs/protected_symlinks"));
        RecordProperty("fs.protected_regular", ReadFile("/proc/sys/fs/protected_regular"));
        char sharedName[] = "/tmp/trok-shared-XXXXXX", victimName[] = "/tmp/trok-victim-XXXXXX";
        ASSERT_TRUE(mkdtemp(sharedName) && mkdtemp(victimName));
        shared = sharedName;
        victimDir = victimName;
        chmod(shared.c_str(), 0777);
        victim = victimDir + "/victim";
        WriteFile(victim, "the victim's bytes");
        chmod(victim.c_str(), 0600);
        Generate(shared, {"--seconds", "600"});
        ASSERT_EQ(RunProgram({kProg, "-configfile", "run.cfg"}, shared).status, 0);
        likely = LikelyTemporaries();
        newEph = ReadFile(shared + "/out.eph");
        newAtt = ReadFile(shared + "/out.att");
        unlink((shared + "/out.eph").c_str());
        unlink((shared + "/out.att").c_str());
    }

    void TearDown() override
    {
        if (!shared.empty()) RunProgram({"/bin/rm", "-rf", shared, victimDir});
    }

    // Runs `plant(folder)` as nobody, in a child process.
    void AsNobody(void (*plant)(const OtherUser&))
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(1);
            plant(*this);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "planting failed";
    }

    // The names a predictable scheme would give the temporaries of the next
    // five hundred processes.
    std::vector<std::string> LikelyTemporaries() const
    {
        const int last = std::stoi(ReadFile("/proc/sys/kernel/ns_last_pid"));
        const int pidMax = std::stoi(ReadFile("/proc/sys/kernel/pid_max"));
        std::vector<std::string> names;
        for (int k = 1; k <= 500; ++k) {
            const std::string pid = std::to_string((last + k) % pidMax);
            names.push_back(shared + "/.out.eph." + pid + ".trokproc-tmp");
            names.push_back(shared + "/.out.att." + pid + ".trokproc-tmp");
        }
        return names;
    }

    ProgramResult Run() const
    {
        return RunProgram({"/usr/bin/timeout", "60", kProg, "-configfile", "run.cfg"}, shared);
    }

    // The run finished, the victim is as it was, and both products are the
    // runner's own, not world-writable, with the right bytes.
    void ExpectUnharmed(const ProgramResult& r) const
    {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ReadFile(victim) == "the victim's bytes");
        struct stat st;
        ASSERT_EQ(stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        for (const auto& [name, bytes] : {std::pair{"/out.eph", newEph}, {"/out.att", newAtt}}) {
            ASSERT_EQ(lstat((shared + name).c_str(), &st), 0) << name;
            EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
            EXPECT_EQ(st.st_uid, geteuid()) << name;
            EXPECT_EQ(st.st_mode & 0002, 0u) << name;
            EXPECT_TRUE(ReadFile(shared + name) == bytes) << name;
        }
    }

    uid_t uid = 0;
    gid_t gid = 0;
    std::string shared, victimDir, victim, newEph, newAtt;
    std::vector<std::string> likely;   // planted before the run
};

TEST_F(OtherUser, PlantedLinksAreNeverFollowed)
{
    AsNobody([](const OtherUser& t) {
        for (const std::string& n : t.likely)
            if (symlink(t.victim.c_str(), n.c_str()) != 0) _exit(1);
    });
    ExpectUnharmed(Run());
    // A link of another user at the product's own name is refused.
    AsNobody([](const OtherUser& t) {
        const std::string eph = t.shared + "/out.eph";
        if (unlink(eph.c_str()) != 0 || symlink(t.victim.c_str(), eph.c_str()) != 0) _exit(1);
    });
    const ProgramResult r = Run();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nFile Open failed for ephemeris file:  out.eph (a link of another user)\n");
    EXPECT_TRUE(ReadFile(victim) == "the victim's bytes");
}

TEST_F(OtherUser, PlantedFilesLendNeitherModeNorOwner)
{
    AsNobody([](const OtherUser& t) {
        std::vector<std::string> names = t.likely;
        names.push_back(t.shared + "/out.eph");
        names.push_back(t.shared + "/out.att");
        for (const std::string& n : names) {
            const int fd = open(n.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd < 0 || fchmod(fd, 0666) != 0 || write(fd, "planted", 7) != 7) _exit(1);
            close(fd);
        }
    });
    ExpectUnharmed(Run());
    EXPECT_EQ(ReadFile(likely.back()), "planted");
}

TEST_F(OtherUser, PlantedFifosNeitherHangNorAreWritten)
{
    AsNobody([](const OtherUser& t) {
        for (const std::string& n : t.likely)
            if (mkfifo(n.c_str(), 0666) != 0) _exit(1);
    });
    ExpectUnharmed(Run());
    // A FIFO of another user at the product's own name is refused at once.
    AsNobody([](const OtherUser& t) {
        const std::string att = t.shared + "/out.att";
        if (unlink(att.c_str()) != 0 || mkfifo(att.c_str(), 0666) != 0) _exit(1);
    });
    const ProgramResult r = Run();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err,
              "\nFile Open failed for attitude file:  out.att (a device or FIFO of another user)\n");
}

} // namespace
