// qlrdump's product checks on real products: trokgen input through
// trokproc, then made faulty byte by byte; the JSON form is read back by
// Python's json module.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <string>
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
            {"/usr/bin/python3", TROK_SOURCE_DIR "/tests/oracles/check_json.py", "faults", "check.json"}, dir);
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

// Attitude records no rigid body produces, as bytes of another packet
// spliced into one make them: rates beyond any spacecraft's, and angles that
// move from their neighbours' by more than the rates allow. The check fails
// on that record alone, and the AEM export refuses what the check refuses.
TEST_F(ProductCheck, AttitudesTheirRatesCannotReachFail)
{
    const size_t fast = Find(0xFFFFFFFFu, 0, 2000);
    ASSERT_GT(fast, 0u);
    att.replace(kHdr + fast * kRec + 32, 8, F64(1.35e25));
    EXPECT_EQ(JsonFaults(), "False attitude-rate:" + std::to_string(fast) + "\n");
    ProgramResult r = Check();
    EXPECT_NE(r.err.find("qlrdump: check failed: attitude record " + std::to_string(fast) +
                         " turns at 1.35e+25 rad/s, faster than the 1.0 rad/s a spacecraft turns at"),
              std::string::npos) << r.err;

    Reset();
    const size_t jump = Find(0xFFFFFFFFu, 0, fast + 1000);
    ASSERT_GT(jump, 0u);
    att.replace(kHdr + jump * kRec + 8, 8, F64(BeF64(att, kHdr + jump * kRec + 8) + 0.34));
    EXPECT_EQ(JsonFaults(), "False attitude-kinematic:" + std::to_string(jump) + "\n");
    r = Check();
    EXPECT_EQ(r.status, 1);
    const std::string why = "attitude record " + std::to_string(jump) +
                            " does not fit its neighbours' attitudes and rates: its angles change by 0.340 rad "
                            "where the rates allow 0.01";
    EXPECT_NE(r.err.find("qlrdump: check failed: " + why), std::string::npos) << r.err;
    r = Qlrdump({"--aem", "t.eph", "t.att", "--out", "t.aem"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("qlrdump: cannot export \"t.att\": " + why, 0), 0u) << r.err;
    EXPECT_NE(access((dir + "/t.aem").c_str(), F_OK), 0);
}

// A packet cut after 57 bytes and continued by the first 69 bytes of
// another (two dumps joined): trokproc takes it, and the check names its
// record by its attitude alone, its state being whole.
TEST_F(ProductCheck, ASplicedPacketFailsOnItsAttitude)
{
    const std::string packets = ReadFile(dir + "/in.pkt");
    const size_t record = Find(0xFFFFFFFFu, 0, 5000);
    ASSERT_GT(record, 0u);
    const double t = BeF64(eph, kHdr + record * kRec);
    size_t at = std::string::npos;
    for (size_t p = 0; p + 126 <= packets.size() && at == std::string::npos; p += 126)
        if (std::fabs(BeU32(packets, p + 8) - 1104537627.0 - t) < 0.5) at = p;
    ASSERT_NE(at, std::string::npos);
    std::string spliced = packets;
    spliced.replace(at + 57, 69, packets.substr(at + 126 * 3000, 69));
    WriteFile(dir + "/s.pkt", spliced);
    ASSERT_EQ(RunProgram({kProg, "-configfile", "run.cfg", "-packetfile", "s.pkt", "-ephemerisfile", "s.eph",
                          "-attitudefile", "s.att"},
                         dir).status,
              0);
    eph = ReadFile(dir + "/s.eph");
    att = ReadFile(dir + "/s.att");
    const std::string faults = JsonFaults();
    EXPECT_TRUE(faults == "False attitude-rate:" + std::to_string(record) + "\n" ||
                faults == "False attitude-kinematic:" + std::to_string(record) + "\n")
        << faults;
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

// One flipped bit in one packet's position, as a link or a store can flip
// it: the check fails the pair on that record alone, as a state its
// neighbours cannot reach (a mantissa bit, tens to thousands of km) or one
// outside every Earth orbit (an exponent bit).
TEST_F(ProductCheck, AFlippedPositionBitFailsOnItsRecord)
{
    const std::string packets = ReadFile(dir + "/in.pkt");
    // Records away from gaps and from the equator (the orbit boundaries).
    std::vector<size_t> quiet;
    for (size_t i = 1000; i + 1000 < n && quiet.size() < 5; i += 4001) {
        bool clean = std::fabs(BeF64(eph, kHdr + i * kRec + 24)) > 2e6;
        for (size_t j = i - 10; j <= i + 10 && clean; ++j) clean = Flags(j) == 0;
        if (clean) quiet.push_back(i);
    }
    ASSERT_EQ(quiet.size(), 5u);
    // (component, byte of its six, bit mask): mantissa bits of weight
    // 2^21, 2^19, 2^17 and 2^15 m in a component of 2^22 to 2^23 m, and
    // the exponent's 2^4 bit.
    const struct {
        int component, byte, mask;
        const char* kind;
    } flips[] = {{0, 0, 0x20, "kinematic"}, {1, 0, 0x08, "kinematic"}, {2, 0, 0x02, "kinematic"},
                 {0, 1, 0x80, "kinematic"}, {1, 3, 0x10, "radius"}};
    for (size_t c = 0; c < 5; ++c) {
        const size_t record = quiet[c];
        const double t = BeF64(eph, kHdr + record * kRec);
        // The packet of that record: its TAI seconds since 1958 less TAI93 zero.
        size_t at = std::string::npos;
        for (size_t p = 0; p + 126 <= packets.size() && at == std::string::npos; p += 126) {
            const double sec = BeU32(packets, p + 8) +
                               (static_cast<unsigned char>(packets[p + 12]) * 256 +
                                static_cast<unsigned char>(packets[p + 13])) * 1.52e-5;
            if (std::fabs(sec - 1104537627.0 - t) < 1e-3) at = p;
        }
        ASSERT_NE(at, std::string::npos);
        const size_t field = at + 14 + 6 * static_cast<size_t>(flips[c].component);
        const int exponent = static_cast<signed char>(packets[field + 3]);
        ASSERT_TRUE(exponent == 22 || exponent == 23 || flips[c].byte == 3) << exponent;
        std::string flipped = packets;
        flipped[field + static_cast<size_t>(flips[c].byte)] ^= static_cast<char>(flips[c].mask);
        WriteFile(dir + "/f.pkt", flipped);
        ASSERT_EQ(RunProgram({kProg, "-configfile", "run.cfg", "-packetfile", "f.pkt",
                              "-ephemerisfile", "f.eph", "-attitudefile", "f.att"},
                             dir).status,
                  0);
        eph = ReadFile(dir + "/f.eph");
        att = ReadFile(dir + "/f.att");
        EXPECT_EQ(JsonFaults(), "False " + std::string(flips[c].kind) + ":" +
                                    std::to_string(record) + "\n")
            << "case " << c;
        Reset();
    }
}

// The hazards of the orbit numbers are warnings: the status stays 0. Every
// orbit after the first gets its offset from the predicted node, in the
// text, the JSON and --orbits alike.
TEST(OrbitNumbering, HazardsAreWarnedAndNodeOffsetsShown)
{
    const std::string dir = FreshTestDir();
    const struct {
        std::vector<std::string> orbit;
        const char* warning;   // nullptr: none
    } cases[] = {
        {{}, nullptr},   // the demo's orbit
        {{"--argp", "270"}, "the ascending crossing comes "},
        {{"--argp", "300", "--mean-anomaly", "70"}, "perigee plus mean anomaly is 370.0000 deg"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> gen{kGen, "--out", "o.pkt", "--tle", "o.tle", "--config",
                                     "o.cfg", "--seconds", "20000"};
        gen.insert(gen.end(), c.orbit.begin(), c.orbit.end());
        ASSERT_EQ(RunProgram(gen, dir).status, 0);
        ASSERT_EQ(RunProgram({kProg, "-configfile", "o.cfg"}, dir).status, 0);
        const std::string trace = c.warning ? c.warning : "demo";
        ProgramResult r = RunProgram({kQlrdump, "--check", "--tle", "o.tle", "o.eph", "o.att"}, dir);
        EXPECT_EQ(r.status, 0) << trace << r.err;
        if (c.warning) {
            EXPECT_NE(r.err.find("qlrdump: check warning: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
        }
        // Every orbit after the first: the same offsets in the text and the JSON.
        std::vector<std::string> text;
        for (size_t a = r.out.find("ascending crossing minus predicted node "); a != std::string::npos;
             a = r.out.find("ascending crossing minus predicted node ", a + 1))
            text.push_back(r.out.substr(a + 40, r.out.find(" s\n", a) - a - 40));
        ASSERT_GE(text.size(), 3u) << r.out;
        std::string joined;
        for (const std::string& t : text) joined += (joined.empty() ? "" : " ") + t;
        r = RunProgram({kQlrdump, "--check", "--json", "--tle", "o.tle", "o.eph", "o.att"}, dir);
        WriteFile(dir + "/o.json", r.out);
        const ProgramResult py = RunProgram(
            {"/usr/bin/python3", TROK_SOURCE_DIR "/tests/oracles/check_json.py", "offsets", "o.json"}, dir);
        EXPECT_EQ(py.out, joined + "\n") << trace;
        // --orbits: none for the first orbit, the second's offset as above.
        r = RunProgram({kQlrdump, "--orbits", "o.eph"}, dir);
        const size_t first = r.out.find('\n', r.out.find('\n') + 1);
        const size_t second = r.out.find('\n', first + 1);
        EXPECT_EQ(r.out[first - 1], ',') << r.out;
        EXPECT_DOUBLE_EQ(std::stod(r.out.substr(r.out.rfind(',', second) + 1)), std::stod(text[0]));
    }
    // An element file without the run's set is refused.
    WriteFile(dir + "/other.tle", "VORN\n1 43210U 26001A   26100.00000000  .00000000  00000+0  00000+0 0  9993\n"
                                  "2 43210  98.2000 120.0000 0012000  90.0000   0.0000 14.56987463100009\n");
    const ProgramResult r = RunProgram({kQlrdump, "--check", "--tle", "other.tle", "o.eph", "o.att"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("no element set in \"other.tle\" has the product's epoch"), std::string::npos)
        << r.err;
}

// What a run killed partway leaves: headers as first written (NoRecords 0,
// no orbits), records behind them.
TEST_F(ProductCheck, EverySingleFileModeRefusesAPartialProduct)
{
    // The attitude product goes to a FIFO that nobody reads: the run stops
    // there mid-write, with part of the ephemeris product on disk.
    int reader = -1;
    const pid_t pid = StartBlockedOnFifo({kProg, "-configfile", "run.cfg", "-ephemerisfile",
                                          "killed.eph", "-attitudefile", "killed.att"},
                                         dir, dir + "/killed.att", reader);
    ASSERT_GT(pid, 0) << "the run ended before it could be killed";
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(reader);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::string temp;
    const std::string prefix = ".killed.eph." + std::to_string(pid) + ".";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) temp = dir + "/" + e->d_name;
        closedir(d);
    }
    ASSERT_FALSE(temp.empty()) << "no temporary " << prefix << "*";
    const std::string partial = ReadFile(temp);
    unlink(temp.c_str());
    ASSERT_GT(partial.size(), kHdr + kRec);
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
