// The tools on a machine shared with other users: names that gnuplot would
// run, folders and files another user controls, clashes between outputs and
// inputs, names in the JSON outputs, standard output that cannot be
// written, and what a stopped or failed run leaves behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"

namespace {

const std::string kDump = QLRDUMP_PATH, kScan = PKTSCAN_PATH, kPlot = QLRPLOT_PATH, kGen = TROKGEN_PATH;

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// `argv` with standard output sent to `out`.
ProgramResult RunTo(const std::string& out, const std::vector<std::string>& argv, const std::string& dir = "")
{
    std::vector<std::string> sh{"/bin/sh", "-c", "exec \"$@\" > " + out, "sh"};
    sh.insert(sh.end(), argv.begin(), argv.end());
    return RunProgram(sh, dir);
}

// The tests can play another user: they run as root, and the user nobody
// and setpriv are there.
bool CanPlayNobody()
{
    return geteuid() == 0 && RunProgram({"/usr/bin/id", "nobody"}).status == 0 &&
           access("/usr/bin/setpriv", X_OK) == 0;
}

// Runs the shell commands `script` as the user nobody, with `args` as $1,
// $2 ...
void AsNobody(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                  "--clear-groups", "/bin/sh", "-ec", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramResult r = RunProgram(argv);
    ASSERT_EQ(r.status, 0) << "planting failed: " << r.err;
}

// Names that are code to gnuplot inside double quotes (back-quotes), that
// end a quoted string, continue a line or start a new one, and markup of
// enhanced text: gnuplot runs nothing of them, neither in qlrplot's run nor
// when the saved script is run again, and draws them as they are.
TEST(SharedMachine, NamesReachGnuplotAsTextAlsoWhenTheScriptIsRunAgain)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "3000", "--small-gaps", "1"}), "");
    // Markers in the folder gnuplot runs in, or in qlrplot's.
    const std::string eph = "a`touch ran1`'\"$(touch ran2)\\\nb_{c}.eph";
    const std::string att = "a\"`touch ran3`\"'.att";
    ASSERT_EQ(rename((dir + "/x.eph").c_str(), (dir + "/" + eph).c_str()), 0);
    ASSERT_EQ(rename((dir + "/x.att").c_str(), (dir + "/" + att).c_str()), 0);
    const ProgramResult r = RunProgram({kPlot, eph, att, "-o", "out"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const ProgramResult again = RunProgram({"/usr/bin/gnuplot", "qlrplot.gp"}, dir + "/out");
    EXPECT_EQ(again.status, 0) << again.err;
    for (const char* k : {"1", "2", "3"}) {
        EXPECT_FALSE(Exists(dir + "/out/ran" + k)) << "gnuplot ran a name";
        EXPECT_FALSE(Exists(dir + "/ran" + k)) << "gnuplot ran a name";
    }
    const std::string gp = ReadFile(dir + "/out/qlrplot.gp");
    EXPECT_NE(gp.find("\nset multiplot title 'Geodetic height above the WGS-84 ellipsoid - "
                      "a`touch ran1`''\"$(touch ran2)\\ b_{c}.eph'\n"),
              std::string::npos);
    EXPECT_NE(gp.find(" - a\"`touch ran3`\"''.att'\n"), std::string::npos);
}

// A file of the run that is an input, or that two names reach, and a blank
// name: refused before anything is written.
TEST(SharedMachine, OutputsNamingAnInputOrBlankAreRefused)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "600"}), "");
    ASSERT_EQ(symlink("x.att", (dir + "/to-att").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/q").c_str(), 0755), 0);
    ASSERT_EQ(link((dir + "/x.eph").c_str(), (dir + "/q/series.dat").c_str()), 0);
    const std::string eph = ReadFile(dir + "/x.eph"), att = ReadFile(dir + "/x.att");
    const struct {
        std::vector<std::string> argv;
        std::string err;
    } cases[] = {
        {{kDump, "--oem", "x.eph", "--out", "./x.eph"},
         "qlrdump: output file \"./x.eph\" and input file \"x.eph\" are the same file\n"},
        {{kDump, "--aem", "x.eph", "x.att", "--out", "to-att"},
         "qlrdump: output file \"to-att\" and input file \"x.att\" are the same file\n"},
        {{kDump, "--oem", "x.eph", "--out", " "}, "qlrdump: the output file has no name (\" \" is blank or empty)\n"},
        {{kPlot, "x.eph", "x.att", "-o", "q"},
         "qlrplot: output file \"q/series.dat\" and ephemeris file \"x.eph\" are the same file\n"},
        {{kPlot, "x.eph", "x.att", "-o", ""}, "qlrplot: the output folder has no name (\"\" is blank or empty)\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = RunProgram(c.argv, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(ReadFile(dir + "/x.eph") == eph && ReadFile(dir + "/x.att") == att);
        EXPECT_FALSE(Exists(dir + "/q/report.html"));
    }
}

// Every mode that writes to standard output: one message and status 255
// when it cannot.
TEST(SharedMachine, StandardOutputThatCannotBeWrittenIsAFailure)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "600"}), "");
    const std::vector<std::vector<std::string>> runs = {
        {kDump, "x.eph"}, {kDump, "--header", "x.eph"}, {kDump, "--records", "x.att"},
        {kDump, "--orbits", "x.eph"}, {kDump, "--summary", "x.eph", "x.att"},
        {kDump, "--check", "x.eph", "x.att"}, {kDump, "--check", "--json", "x.eph", "x.att"},
        {kDump, "--oem", "x.eph"}, {kDump, "--aem", "x.eph", "x.att"}, {kDump, "--version"},
        {kScan, "x.pkt"}, {kScan, "--json", "x.pkt"}, {kScan, "--json", "--salvage", "s.pkt", "x.pkt"},
        {kScan, "--help"}, {kGen, "--out", "g.pkt", "--seconds", "10"},
        {kGen, "--archive", "arc", "--days", "1"}, {kPlot, "--help"}, {kPlot, "--version"},
    };
    for (const auto& argv : runs) {
        const ProgramResult r = RunTo("/dev/full", argv, dir);
        const std::string name = argv[0].substr(argv[0].rfind('/') + 1);
        EXPECT_EQ(r.status, 255) << name << " " << argv[1];
        EXPECT_EQ(r.err.rfind(name + ": cannot write to standard output", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

// Names as UTF-8 in the JSON outputs: Python's json module reads them back,
// and its surrogateescape gives the bytes of a name that is not UTF-8.
TEST(SharedMachine, JsonNamesComeBackAsTheyWereGiven)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "600"}), "");
    const std::string names[] = {"lat\xc3\xa9 \xe2\x82\xac", "\xe9t\xe9", "q\"b\\t\tn"};
    for (const std::string& n : names) {
        for (const char* ext : {".pkt", ".eph", ".att"})
            ASSERT_EQ(link((dir + "/x" + ext).c_str(), (dir + "/" + n + ext).c_str()), 0);
        const ProgramResult scan = RunProgram({kScan, "--json", n + ".pkt"}, dir);
        const ProgramResult check = RunProgram({kDump, "--check", "--json", n + ".eph", n + ".att"}, dir);
        ASSERT_EQ(scan.status, 0) << scan.err;
        ASSERT_EQ(check.status, 0) << check.err;
        const ProgramResult py = RunProgram(
            {"/usr/bin/python3", "-c",
             "import json, sys\n"
             "for text in sys.argv[1:]:\n"
             "    d = json.loads(text)\n"
             "    for k in ('file', 'ephemeris', 'attitude'):\n"
             "        if k in d: print(d[k].encode('utf-8', 'surrogateescape').hex())\n",
             scan.out, check.out});
        ASSERT_EQ(py.status, 0) << py.err;
        std::string hex;
        for (const std::string& name : {n + ".pkt", n + ".eph", n + ".att"}) {
            for (unsigned char c : name) {
                char b[3];
                std::snprintf(b, sizeof b, "%02x", c);
                hex += b;
            }
            hex += "\n";
        }
        EXPECT_EQ(py.out, hex);
    }
}

// A salvage to a link of the user's writes the file it leads to, and the
// link stays; standard output (a link to a descriptor, as /dev/stdout is)
// is refused, never replaced.
TEST(SharedMachine, SalvageWritesThroughTheUsersLinkAndNeverReplacesOne)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "600"}), "");
    ASSERT_EQ(mkdir((dir + "/real").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real/s.pkt", (dir + "/s.pkt").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/fd/1", (dir + "/stdout").c_str()), 0);
    ProgramResult r = RunProgram({kScan, "--salvage", "s.pkt", "x.pkt"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(dir + "/real/s.pkt") == ReadFile(dir + "/x.pkt"));
    r = RunTo(dir + "/out.pkt", {kScan, "--salvage", "stdout", "x.pkt"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "pktscan: stdout: not a regular file\n");
    for (const char* name : {"/s.pkt", "/stdout"}) {
        struct stat st;
        ASSERT_EQ(lstat((dir + name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
}

// Another user (nobody) plants links to a victim file, files and FIFOs in a
// world-writable folder without the sticky bit, at an output's name and at
// the names a predictable scheme would give its temporaries, before a root
// run of each tool there. Links and FIFOs at the name itself are refused;
// nothing else changes the run, the victim or the output's owner and mode.
TEST(SharedMachine, PlantedLinksFilesAndFifosTurnNoToolAgainstItsUser)
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
    const struct {
        std::string out;
        std::vector<std::string> argv;
    } tools[] = {
        {"x.oem", {kDump, "--oem", "x.eph", "--out", "x.oem"}},
        {"s.pkt", {kScan, "--salvage", "s.pkt", "x.pkt"}},
        {"g.pkt", {kGen, "--out", "g.pkt", "--seconds", "60"}},
    };
    const struct {
        const char* plant;   // $1 the victim, $2 the output, $3 the first pid
        bool atName;         // also at the output's name: the run is refused
    } plants[] = {
        {"ln -s \"$1\" \"$2\"", true},
        {"mkfifo \"$2\"", true},
        {"for p in $(seq $3 $(($3 + 300))); do ln -s \"$1\" \".$2.$p.trokproc-tmp\"; done", false},
        {"for p in $(seq $3 $(($3 + 300))); do mkfifo \".$2.$p.trokproc-tmp\"; done", false},
        {"for n in \"$2\" $(seq -f \".$2.%.0f.trokproc-tmp\" $3 $(($3 + 300))); do"
         " echo planted > \"$n\"; chmod 666 \"$n\"; done",
         false},
    };
    for (const auto& t : tools)
        for (const auto& p : plants) {
            SCOPED_TRACE(t.out + ": " + p.plant);
            AsNobody("cd \"$4\"; rm -f \"$2\" .*.trokproc-tmp; " + std::string(p.plant),
                     {victim, t.out, std::to_string(last), shared});
            std::vector<std::string> argv{"/usr/bin/timeout", "60"};
            argv.insert(argv.end(), t.argv.begin(), t.argv.end());
            const ProgramResult r = RunProgram(argv, shared);
            EXPECT_TRUE(ReadFile(victim) == "the victim's bytes");
            struct stat st;
            ASSERT_EQ(stat(victim.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            ASSERT_EQ(lstat((shared + "/" + t.out).c_str(), &st), 0);
            if (p.atName) {
                EXPECT_EQ(r.status, 255) << r.err;
                EXPECT_NE(st.st_uid, 0u);
            } else {
                EXPECT_EQ(r.status, 0) << r.err;
                EXPECT_TRUE(S_ISREG(st.st_mode));
                EXPECT_EQ(st.st_uid, 0u);
                EXPECT_EQ(st.st_mode & 0002, 0u);
            }
        }
    RunProgram({"/bin/rm", "-rf", sharedName, victimName});
}

// qlrplot takes an existing folder only when it is the user's own and the
// world cannot write to it (or its sticky bit keeps users from each
// other's files); a FIFO another user planted at qlrplot.gp in a folder of
// theirs is never opened.
TEST(SharedMachine, QlrplotWritesOnlyIntoAFolderOfTheUsersOwn)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "600"}), "");
    ASSERT_EQ(mkdir((dir + "/open").c_str(), 0777), 0);
    chmod((dir + "/open").c_str(), 0777);
    ProgramResult r = RunProgram({kPlot, "x.eph", "x.att", "-o", "open"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "qlrplot: cannot use the folder \"open\": others may write to it without the sticky bit; "
                     "take their write permission away or give another folder\n");
    EXPECT_FALSE(Exists(dir + "/open/report.html"));
    chmod((dir + "/open").c_str(), 01777);
    EXPECT_EQ(RunProgram({kPlot, "x.eph", "x.att", "-o", "open"}, dir).status, 0);
    EXPECT_EQ(RunProgram({kPlot, "x.eph", "x.att", "-o", "new/deeper"}, dir).status, 0);
    EXPECT_TRUE(Exists(dir + "/new/deeper/report.html"));

    if (!CanPlayNobody()) GTEST_SKIP() << "needs root, setpriv and the user nobody to play another user";
    const std::string theirs = dir + "/theirs";
    ASSERT_EQ(mkdir(theirs.c_str(), 0755), 0);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    AsNobody("mkfifo \"$1/qlrplot.gp\"", {theirs});
    r = RunProgram({"/usr/bin/timeout", "60", kPlot, "x.eph", "x.att", "-o", "theirs"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "qlrplot: cannot use the folder \"theirs\": a folder of another user; give a folder of your own\n");
    struct stat st;
    ASSERT_EQ(lstat((theirs + "/qlrplot.gp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A salvage stopped while its copy is being synced removes the copy; a
// full file system leaves the earlier export, page and packet file whole.
TEST(SharedMachine, StoppedOrFailedRunsLeaveNoTemporaryAndEarlierFilesWhole)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "x", {"--seconds", "20000"}), "");
    if (RunProgram({"/usr/bin/strace", "-qq", "-o", "/dev/null", "/bin/true"}).status == 0) {
        const pid_t tracer = fork();
        if (tracer == 0) {
            execl("/usr/bin/strace", "strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
                  "inject=fsync:delay_enter=5s", kScan.c_str(), "--salvage", (dir + "/s.pkt").c_str(),
                  (dir + "/x.pkt").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::vector<std::string> temps;
        for (int ms = 0; ms < 60000 && temps.empty(); ms += 10) {
            usleep(10000);
            temps = Temporaries(dir);
        }
        ASSERT_EQ(temps.size(), 1u) << "no salvage under way";
        kill(std::stoi(temps[0].substr(std::string(".s.pkt.").size())), SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(tracer, &status, 0), tracer);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_TRUE(Temporaries(dir).empty());
        EXPECT_FALSE(Exists(dir + "/s.pkt"));
    }

    const std::string small = dir + "/small";
    ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    ASSERT_EQ(mkdir((small + "/plots").c_str(), 0755), 0);
    const struct {
        std::string earlier;
        std::vector<std::string> argv;
    } runs[] = {
        {small + "/x.oem", {kDump, "--oem", "x.eph", "--out", small + "/x.oem"}},
        {small + "/plots/report.html", {kPlot, "x.eph", "x.att", "-o", small + "/plots"}},
        {small + "/g.pkt", {kGen, "--out", small + "/g.pkt", "--seconds", "20000"}},
    };
    for (const auto& run : runs) {
        WriteFile(run.earlier, "an earlier good file");
        const ProgramResult r = RunProgram(run.argv, dir);
        EXPECT_EQ(r.status, 255) << run.earlier;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(run.earlier), "an earlier good file");
        EXPECT_TRUE(Temporaries(small).empty() && Temporaries(small + "/plots").empty());
        unlink(run.earlier.c_str());
    }
    umount(small.c_str());
}

} // namespace
