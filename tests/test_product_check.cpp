// qlrdump's product checks on real products: trokgen input through
// trokproc, then made faulty byte by byte; the JSON form is read back by
// Python's json module.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "product_reader.h"
#include "run_program.h"
#include "vn_class_quality_flags.h"

namespace {

const std::string kProg = TROKPROC_PATH;
const std::string kGen = TROKGEN_PATH;
const std::string kQlrdump = QLRDUMP_PATH;
const size_t kRec = 64;
const size_t kHdr = 512;

std::string U32(uint32_t v)
{
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(v >> (24 - 8 * i));
    return b;
}

std::string F64(double v)
{
    uint64_t u;
    std::memcpy(&u, &v, 8);
    std::string b(8, '\0');
    for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(u >> (56 - 8 * i));
    return b;
}

// A generated day with small and large gaps through trokproc: good.eph and
// good.att in a fresh directory.
class ProductCheck : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = FreshTestDir();
        const ProgramResult gen = RunProgram(
            {kGen, "--out", "in.pkt", "--tle", "in.tle", "--config", "run.cfg", "--eph",
             "good.eph", "--att", "good.att", "--seconds", "30000", "--small-gaps", "6",
             "--large-gaps", "2", "--repeats", "2", "--seed", "11"},
            dir);
        ASSERT_EQ(gen.status, 0) << gen.err;
        const ProgramResult run = RunProgram({kProg, "-configfile", "run.cfg"}, dir);
        ASSERT_EQ(run.status, 0) << run.err;
        Reset();
    }

    // The products back as trokproc wrote them.
    void Reset()
    {
        eph = ReadFile(dir + "/good.eph");
        att = ReadFile(dir + "/good.att");
        n = BeU32(eph, 136);
    }

    ProgramResult Qlrdump(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{kQlrdump};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir);
    }

    // --check on the pair as it now stands in eph and att.
    ProgramResult Check(const std::vector<std::string>& extra = {})
    {
        WriteFile(dir + "/t.eph", eph);
        WriteFile(dir + "/t.att", att);
        std::vector<std::string> args{"--check"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("t.eph");
        args.push_back("t.att");
        return Qlrdump(args);
    }

    // --check --json, read by Python: "passed" and each fault as kind:record.
    std::string JsonFaults()
    {
        const ProgramResult r = Check({"--json"});
        WriteFile(dir + "/check.json", r.out);
        const ProgramResult py = RunProgram(
            {"/usr/bin/python3", "-c",
             "import json,sys\n"
             "d = json.load(open(sys.argv[1]))\n"
             "print(d['passed'], ' '.join('%s:%s' % (f['kind'], f['record']) for f in d['faults']))",
             "check.json"},
            dir);
        EXPECT_EQ(py.status, 0) << py.err << r.out;
        return py.out;
    }

    void SetFlags(size_t i, uint32_t flags)
    {
        eph.replace(kHdr + i * kRec + 56, 4, U32(flags));
        att.replace(kHdr + i * kRec + 56, 4, U32(flags));
    }
    uint32_t Flags(size_t i) const { return BeU32(eph, kHdr + i * kRec + 56); }
    // The first record from `from` on whose flags, and its neighbours', are `want`.
    size_t Find(uint32_t mask, uint32_t want, size_t from = 1) const
    {
        for (size_t i = from; i + 1 < n; ++i)
            if ((Flags(i) & mask) == want && Flags(i - 1) == 0 && Flags(i + 1) == 0) return i;
        return 0;
    }

    std::string dir;
    std::string eph, att;
    uint32_t n = 0;
};

TEST_F(ProductCheck, CleanRunsPass)
{
    ProgramResult r = Check();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(JsonFaults(), "True \n");

    // A run without elements keeps its fill values, passes, and says so.
    ASSERT_EQ(RunProgram({kProg, "-configfile", "run.cfg", "-noradfile", "noTLE", "-ephemerisfile",
                          "n.eph", "-attitudefile", "n.att"},
                         dir).status,
              0);
    r = Qlrdump({"--check", "n.eph", "n.att"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("qlrdump: check warning: the run had no element set"), std::string::npos);
}

TEST_F(ProductCheck, NonFiniteValuesFail)
{
    eph.replace(kHdr + 10 * kRec + 8, 8, F64(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(JsonFaults(), "False non-finite:10\n");
    ProgramResult r = Check();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qlrdump: check failed: ephemeris record 10 holds a non-finite value (x = nan)"),
              std::string::npos) << r.err;

    Reset();
    att.replace(kHdr + 3 * kRec + 40, 8, F64(-std::numeric_limits<double>::infinity()));
    eph.replace(160, 8, F64(std::numeric_limits<double>::quiet_NaN()));   // Kepler a
    EXPECT_EQ(JsonFaults(), "False non-finite:None non-finite:3\n");
}

TEST_F(ProductCheck, UnmatchedSatelliteFails)
{
    // The element file lacks the satellite: the run goes on with zero elements.
    std::string cfg = ReadFile(dir + "/run.cfg");
    const size_t at = cfg.find("-noradsatname ");
    ASSERT_NE(at, std::string::npos);
    cfg.replace(at, cfg.find('\n', at) - at, "-noradsatname NOSUCH");
    WriteFile(dir + "/other.cfg", cfg);
    ASSERT_EQ(RunProgram({kProg, "-configfile", "other.cfg", "-ephemerisfile", "o.eph",
                          "-attitudefile", "o.att"},
                         dir).status,
              0);
    eph = ReadFile(dir + "/o.eph");
    att = ReadFile(dir + "/o.att");
    const ProgramResult r = Check({"--max-element-age", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("orbit number 0"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the satellite was probably not found in the element file"),
              std::string::npos);
    EXPECT_EQ(r.err.find("element-set epoch"), std::string::npos) << r.err;
}

TEST_F(ProductCheck, ImpossibleFlagSequencesFail)
{
    const size_t plain = Find(0xFFFFFFFFu, 0, 100);
    ASSERT_GT(plain, 0u);
    size_t lgf = 0;
    for (size_t i = 0; i < n && !lgf; ++i)
        if (Flags(i) & quality_flags::lgf) lgf = i;
    size_t sgf = 0;
    for (size_t i = 0; i < n && !sgf; ++i)
        if (Flags(i) & quality_flags::sgf) sgf = i;
    ASSERT_GT(lgf, 0u);
    ASSERT_GT(sgf, 0u);
    ASSERT_EQ(Flags(sgf + 1), quality_flags::rep);

    SetFlags(plain, quality_flags::sgb);   // small gap before, none opened
    EXPECT_EQ(JsonFaults(), "False flag-sequence:" + std::to_string(plain) + "\n");
    Reset();
    SetFlags(plain, quality_flags::rep);   // repaired point among packets, no packet closing it
    EXPECT_EQ(JsonFaults(), "False flag-sequence:" + std::to_string(plain) + " flag-sequence:" +
                                std::to_string(plain + 1) + "\n");
    Reset();
    SetFlags(lgf + 1, Flags(lgf + 1) & ~quality_flags::lgb);   // large-gap pair broken
    EXPECT_EQ(JsonFaults(), "False flag-sequence:" + std::to_string(lgf + 1) + "\n");
    Reset();
    SetFlags(sgf, Flags(sgf) & ~quality_flags::sgf);   // repaired points with no gap opened
    EXPECT_EQ(JsonFaults(), "False flag-sequence:" + std::to_string(sgf + 1) + "\n");
}

TEST_F(ProductCheck, StaleElementSetFailsUnlessAllowed)
{
    const double start = BeF64(eph, 112);
    eph.replace(208, 8, F64(start - 10.5 * 86400.0));
    EXPECT_EQ(JsonFaults(), "False element-age:None\n");
    ProgramResult r = Check();
    EXPECT_NE(r.err.find("the element-set epoch lies 10.50 days from the data span, more than 7.00"),
              std::string::npos) << r.err;
    EXPECT_EQ(Check({"--max-element-age", "11"}).status, 0);
    EXPECT_EQ(Check({"--max-element-age", "0"}).status, 0);
    EXPECT_EQ(Check({"--max-element-age", "10"}).status, 1);
    r = Check({"--max-element-age", "-1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("--max-element-age takes a number of days"), std::string::npos);
}

// What a run killed partway leaves: headers as first written (NoRecords 0,
// no orbits), records behind them.
TEST_F(ProductCheck, EverySingleFileModeRefusesAPartialProduct)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execl(kProg.c_str(), kProg.c_str(), "-configfile", "run.cfg", "-ephemerisfile",
              "killed.eph", "-attitudefile", "killed.att", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string temp = dir + "/.killed.eph." + std::to_string(pid) + ".trokproc-tmp";
    struct stat st;
    bool caught = false;
    for (int polls = 0; polls < 200000 && !caught; ++polls) {
        if (stat(temp.c_str(), &st) == 0 && st.st_size > 100000) {
            kill(pid, SIGKILL);
            caught = true;
        } else {
            usleep(50);
        }
    }
    int status = 0;
    if (!caught) kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ASSERT_TRUE(caught && WIFSIGNALED(status)) << "the run ended before it could be killed";
    const std::string partial = ReadFile(temp);
    unlink(temp.c_str());
    unlink((dir + "/.killed.att." + std::to_string(pid) + ".trokproc-tmp").c_str());
    ASSERT_EQ(BeU32(partial, 136), 0u);
    WriteFile(dir + "/partial.eph", partial);

    for (const char* mode : {"--header", "--records", "--orbits", "--summary", "--oem", ""}) {
        std::vector<std::string> args;
        if (*mode) args.push_back(mode);
        args.push_back("partial.eph");
        const ProgramResult r = Qlrdump(args);
        EXPECT_EQ(r.status, 255) << mode;
        EXPECT_TRUE(r.out.empty()) << mode;
        EXPECT_NE(r.err.find("NoRecords is 0: the headers were never completed"), std::string::npos)
            << mode << ": " << r.err;
    }
}

} // namespace
