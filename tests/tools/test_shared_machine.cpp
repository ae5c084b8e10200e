// The tools on a machine shared with other users: names that gnuplot would
// run, files and folders another user controls, outputs that name inputs,
// names in the JSON outputs, standard output that cannot be written, and
// what a stopped or failed run leaves behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"

namespace {

const std::string kDump = QLRDUMP_PATH, kScan = PKTSCAN_PATH, kPlot = QLRPLOT_PATH, kGen = TROKGEN_PATH;

// A fresh folder holding x.pkt, x.tle, x.cfg and the products x.eph, x.att
// of ten minutes.
class SharedMachine : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "600"}), ""); }

    bool Exists(const std::string& name) const
    {
        struct stat st;
        return lstat((name[0] == '/' ? name : dir + "/" + name).c_str(), &st) == 0;
    }

    // `argv` in the folder with standard output sent to `out`.
    ProgramResult RunTo(const std::string& out, const std::vector<std::string>& argv) const
    {
        std::vector<std::string> sh{"/bin/sh", "-c", "exec \"$@\" > " + out, "sh"};
        sh.insert(sh.end(), argv.begin(), argv.end());
        return RunProgram(sh, dir);
    }

    // Root can play the user nobody, running shell commands as nobody with
    // setpriv.
    static bool CanPlayNobody()
    {
        return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0 &&
               RunProgram({"/usr/bin/id", "nobody"}).status == 0;
    }
    static void AsNobody(const std::string& script, const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                      "--clear-groups", "/bin/sh", "-ec", script, "sh"};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProgramResult r = RunProgram(argv);
        ASSERT_EQ(r.status, 0) << "planting failed: " << r.err;
    }

    const std::string dir = FreshTestDir();
};

// Names that are code to gnuplot inside double quotes (back-quotes), that
// end a quoted string, continue a line or start a new one, and enhanced-text
// markup: gnuplot runs nothing of them, in qlrplot's run or when the saved
// script is run again, and the titles carry them as they are.
TEST_F(SharedMachine, NamesReachGnuplotAsTextAlsoWhenTheScriptIsRunAgain)
{
    const std::string eph = "a`touch ran1`'\"$(touch ran2)\\\nb_{c}.eph", att = "a\"`touch ran3`\"'.att";
    ASSERT_EQ(rename((dir + "/x.eph").c_str(), (dir + "/" + eph).c_str()), 0);
    ASSERT_EQ(rename((dir + "/x.att").c_str(), (dir + "/" + att).c_str()), 0);
    const ProgramResult r = RunProgram({kPlot, eph, att, "-o", "out"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const ProgramResult again = RunProgram({"/usr/bin/gnuplot", "qlrplot.gp"}, dir + "/out");
    EXPECT_EQ(again.status, 0) << again.err;
    for (const char* ran : {"ran1", "ran2", "ran3", "out/ran1", "out/ran2", "out/ran3"})
        EXPECT_FALSE(Exists(ran)) << "gnuplot ran a name";
    const std::string gp = ReadFile(dir + "/out/qlrplot.gp");
    EXPECT_NE(gp.find(" ellipsoid - a`touch ran1`''\"$(touch ran2)\\ b_{c}.eph'\n"), std::string::npos);
    EXPECT_NE(gp.find(" - a\"`touch ran3`\"''.att'\n"), std::string::npos);
}

// An output that is an input (by name, link or second name) or blank is
// refused before anything is written.
TEST_F(SharedMachine, OutputsNamingAnInputOrBlankAreRefused)
{
    ASSERT_EQ(symlink("x.att", (dir + "/to-att").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/q").c_str(), 0755), 0);
    ASSERT_EQ(link((dir + "/x.eph").c_str(), (dir + "/q/series.dat").c_str()), 0);
    const std::string eph = ReadFile(dir + "/x.eph"), att = ReadFile(dir + "/x.att");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{kDump, "--oem", "x.eph", "--out", "./x.eph"},
         "qlrdump: output file \"./x.eph\" and input file \"x.eph\" are the same file\n"},
        {{kDump, "--aem", "x.eph", "x.att", "--out", "to-att"},
         "qlrdump: output file \"to-att\" and input file \"x.att\" are the same file\n"},
        {{kDump, "--oem", "x.eph", "--out", " "}, "qlrdump: the output file has no name (\" \" is blank or empty)\n"},
        {{kPlot, "x.eph", "x.att", "-o", "q"},
         "qlrplot: output file \"q/series.dat\" and ephemeris file \"x.eph\" are the same file\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = RunProgram(c.first, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, c.second);
        EXPECT_TRUE(ReadFile(dir + "/x.eph") == eph && ReadFile(dir + "/x.att") == att);
        EXPECT_FALSE(Exists("q/report.html"));
    }
}

// Every mode that writes to standard output: one message and status 255
// when it cannot.
TEST_F(SharedMachine, StandardOutputThatCannotBeWrittenIsAFailure)
{
    const std::vector<std::vector<std::string>> runs = {
        {kDump, "x.eph"}, {kDump, "--header", "x.eph"}, {kDump, "--records", "x.att"},
        {kDump, "--orbits", "x.eph"}, {kDump, "--summary", "x.eph", "x.att"},
        {kDump, "--check", "x.eph", "x.att"}, {kDump, "--check", "--json", "x.eph", "x.att"},
        {kDump, "--oem", "x.eph"}, {kDump, "--aem", "x.eph", "x.att"}, {kDump, "--version"},
        {kScan, "x.pkt"}, {kScan, "--json", "x.pkt"}, {kScan, "--json", "--salvage", "s.pkt", "x.pkt"},
        {kGen, "--out", "g.pkt", "--seconds", "10"}, {kGen, "--archive", "arc", "--days", "1"},
        {kPlot, "--help"},
    };
    for (const auto& argv : runs) {
        const ProgramResult r = RunTo("/dev/full", argv);
        const std::string name = argv[0].substr(argv[0].rfind('/') + 1);
        EXPECT_EQ(r.status, 255) << name << " " << argv[1];
        EXPECT_EQ(r.err.rfind(name + ": cannot write to standard output", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

// Python's json module reads the names back: UTF-8 as it is, and through
// surrogateescape the bytes of a name that is not UTF-8.
TEST_F(SharedMachine, JsonNamesComeBackAsTheyWereGiven)
{
    for (const std::string n : {"lat\xc3\xa9 \xe2\x82\xac", "\xe9t\xe9", "q\"b\\t\tn"}) {
        std::string hex;
        for (const char* ext : {".pkt", ".eph", ".att"}) {
            ASSERT_EQ(link((dir + "/x" + ext).c_str(), (dir + "/" + n + ext).c_str()), 0);
            for (unsigned char c : n + ext) {
                char b[3];
                std::snprintf(b, sizeof b, "%02x", c);
                hex += b;
            }
            hex += "\n";
        }
        const ProgramResult scan = RunProgram({kScan, "--json", n + ".pkt"}, dir);
        const ProgramResult check = RunProgram({kDump, "--check", "--json", n + ".eph", n + ".att"}, dir);
        const ProgramResult py = RunProgram(
            {"/usr/bin/python3", TROK_SOURCE_DIR "/tests/oracles/json_names_hex.py", scan.out, check.out});
        EXPECT_EQ(py.out, hex) << py.err;
    }
}

// A salvage to a link of the user's writes the file it leads to; a link to
// a descriptor (as /dev/stdout is) is refused. Both links stay.
TEST_F(SharedMachine, SalvageWritesThroughTheUsersLinkAndNeverReplacesOne)
{
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real/s.pkt", (dir + "/s.pkt").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/fd/1", (dir + "/stdout").c_str()), 0);
    ProgramResult r = RunProgram({kScan, "--salvage", "s.pkt", "x.pkt"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Exists("real/s.pkt") && ReadFile(dir + "/real/s.pkt") == ReadFile(dir + "/x.pkt"));
    r = RunTo("out.pkt", {kScan, "--salvage", "stdout", "x.pkt"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "pktscan: stdout: not a regular file\n");
    struct stat st;
    for (const char* name : {"/s.pkt", "/stdout"})
        EXPECT_TRUE(lstat((dir + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
}

// Another user (nobody) plants links to a victim file, FIFOs and files in a
// world-writable folder without the sticky bit, at an output's name and at
// the names a predictable scheme gives its temporaries, before a root run
// of each tool there. A link or FIFO at the name itself is refused; nothing
// else changes the run, the victim, or the output's owner and mode.
TEST_F(SharedMachine, PlantedLinksFifosAndFilesTurnNoToolAgainstItsUser)
{
    if (!CanPlayNobody()) GTEST_SKIP() << "needs root, setpriv and the user nobody to play another user";
    char sharedName[] = "/tmp/trok-shared-XXXXXX", victimName[] = "/tmp/trok-victim-XXXXXX";
    ASSERT_TRUE(mkdtemp(sharedName) && mkdtemp(victimName));
    const std::string shared = sharedName, victim = std::string(victimName) + "/victim";
    chmod(sharedName, 0777);
    WriteFile(victim, "the victim's bytes");
    chmod(victim.c_str(), 0600);
    ASSERT_EQ(MakeProducts(shared, "x", {"--seconds", "600"}), "");
    const int last = std::stoi(ReadFile("/proc/sys/kernel/ns_last_pid"));
    const std::string pids = "$(seq " + std::to_string(last + 1) + " " + std::to_string(last + 300) + ")";
    const std::vector<std::pair<std::string, std::vector<std::string>>> tools = {
        {"x.oem", {kDump, "--oem", "x.eph", "--out", "x.oem"}},
        {"s.pkt", {kScan, "--salvage", "s.pkt", "x.pkt"}},
        {"g.pkt", {kGen, "--out", "g.pkt", "--seconds", "60"}},
    };
    // $1 the victim, $2 the output; true: at the output's name too.
    const std::vector<std::pair<std::string, bool>> plants = {
        {"ln -s \"$1\" \"$2\"", true},
        {"mkfifo \"$2\"", true},
        {"for p in " + pids + "; do if [ $((p % 2)) = 0 ]; then ln -s \"$1\" \".$2.$p.trokproc-tmp\";"
         " else mkfifo \".$2.$p.trokproc-tmp\"; fi; done", false},
        {"for n in \"$2\" $(for p in " + pids + "; do echo \".$2.$p.trokproc-tmp\"; done); do"
         " echo planted > \"$n\"; chmod 666 \"$n\"; done", false},
    };
    for (const auto& tool : tools)
        for (const auto& plant : plants) {
            SCOPED_TRACE(tool.first + ": " + plant.first);
            AsNobody("cd \"$3\"; rm -f \"$2\" .*.trokproc-tmp; " + plant.first, {victim, tool.first, shared});
            std::vector<std::string> argv{"/usr/bin/timeout", "60"};
            argv.insert(argv.end(), tool.second.begin(), tool.second.end());
            const ProgramResult r = RunProgram(argv, shared);
            struct stat st, out;
            ASSERT_TRUE(stat(victim.c_str(), &st) == 0 && lstat((shared + "/" + tool.first).c_str(), &out) == 0);
            EXPECT_TRUE(ReadFile(victim) == "the victim's bytes" && (st.st_mode & 07777) == 0600);
            EXPECT_EQ(r.status, plant.second ? 255 : 0) << r.err;
            if (plant.second) EXPECT_NE(out.st_uid, 0u);
            else EXPECT_TRUE(S_ISREG(out.st_mode) && out.st_uid == 0 && !(out.st_mode & 0002));
        }
    RunProgram({"/bin/rm", "-rf", sharedName, victimName});
}

// qlrplot takes an existing folder only when it is the user's own and the
// world cannot write to it, or its sticky bit keeps users from each other's
// files; a FIFO another user planted in a folder of theirs is never opened.
TEST_F(SharedMachine, QlrplotWritesOnlyIntoAFolderOfTheUsersOwn)
{
    ASSERT_EQ(mkdir((dir + "/open").c_str(), 0777), 0);
    chmod((dir + "/open").c_str(), 0777);
    ProgramResult r = RunProgram({kPlot, "x.eph", "x.att", "-o", "open"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "qlrplot: cannot use the folder \"open\": others may write to it without the sticky bit; "
                     "take their write permission away or give another folder\n");
    EXPECT_FALSE(Exists("open/report.html"));
    chmod((dir + "/open").c_str(), 01777);
    EXPECT_EQ(RunProgram({kPlot, "x.eph", "x.att", "-o", "open"}, dir).status, 0);
    EXPECT_EQ(RunProgram({kPlot, "x.eph", "x.att", "-o", "new/deeper"}, dir).status, 0);
    EXPECT_TRUE(Exists("new/deeper/report.html"));

    if (!CanPlayNobody()) GTEST_SKIP() << "needs root, setpriv and the user nobody to play another user";
    // The other user's folder lies where they can reach it, whatever the
    // modes of the folders above this test's own.
    const ReachableScratch scratch;
    const std::string theirs = scratch.Path() + "/theirs";
    ASSERT_EQ(mkdir(theirs.c_str(), 0755), 0);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    AsNobody("mkfifo \"$1/qlrplot.gp\"", {theirs});
    r = RunProgram({"/usr/bin/timeout", "60", kPlot, dir + "/x.eph", dir + "/x.att", "-o", "theirs"}, scratch.Path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "qlrplot: cannot use the folder \"theirs\": a folder of another user; give a folder of your own\n");
    struct stat st;
    EXPECT_TRUE(lstat((theirs + "/qlrplot.gp").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// A salvage stopped while its copy is synced (held there by strace) removes
// the copy; a full file system leaves the earlier export, page and packet
// file whole and no temporary.
TEST_F(SharedMachine, StoppedOrFailedRunsLeaveNoTemporaryAndEarlierFilesWhole)
{
    if (RunProgram({"/usr/bin/strace", "-qq", "-o", "/dev/null", "/bin/true"}).status == 0) {
        const pid_t tracer = fork();
        if (tracer == 0) {
            execl("/usr/bin/strace", "strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                  "inject=fsync:delay_enter=5s", kScan.c_str(), "--salvage", (dir + "/s.pkt").c_str(),
                  (dir + "/x.pkt").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::vector<std::string> temps;
        for (int ms = 0; ms < 60000 && temps.empty(); ms += 10, usleep(10000)) temps = Temporaries(dir);
        ASSERT_EQ(temps.size(), 1u) << "no salvage under way";
        kill(std::stoi(temps[0].substr(std::string(".s.pkt.").size())), SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(tracer, &status, 0), tracer);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_TRUE(Temporaries(dir).empty() && !Exists("s.pkt"));
    }

    const std::string small = dir + "/small";
    ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=32k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    ASSERT_EQ(mkdir((small + "/plots").c_str(), 0755), 0);
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"/x.oem", {kDump, "--oem", "x.eph", "--out", small + "/x.oem"}},
        {"/plots/report.html", {kPlot, "x.eph", "x.att", "-o", small + "/plots"}},
        {"/g.pkt", {kGen, "--out", small + "/g.pkt", "--seconds", "600"}},
    };
    for (const auto& run : runs) {
        WriteFile(small + run.first, "an earlier good file");
        const ProgramResult r = RunProgram(run.second, dir);
        EXPECT_EQ(r.status, 255) << run.first;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(small + run.first), "an earlier good file");
        EXPECT_TRUE(Temporaries(small).empty() && Temporaries(small + "/plots").empty());
        unlink((small + run.first).c_str());
    }
    umount(small.c_str());
}

} // namespace
