// What the tools share: the command line and its failures, output that
// cannot be written, the number and time texts of the exports, the
// creation date from SOURCE_DATE_EPOCH and the attitude recovery.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"
#include "toolkit/products/aem.h"
#include "toolkit/time/isotime.h"
#include "toolkit/products/oem.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"

using namespace toolkit;

namespace {

std::string Printf(double v, int decimals)
{
    std::vector<char> buf(400);
    std::snprintf(buf.data(), buf.size(), "%.*f", decimals, v);
    return buf.data();
}

// A generated pair p.eph, p.att and its packet file p.pkt in a fresh
// directory, made once for the tests below.
const std::string& PairDir()
{
    static const std::string dir = [] {
        const std::string d = FreshTestDir();
        const std::string why = MakeProducts(d, "p", {"--seconds", "600", "--seed", "4"});
        if (!why.empty()) ADD_FAILURE() << why;
        return d;
    }();
    return dir;
}

ProgramResult Shell(const std::string& command)
{
    return RunProgram({"/bin/sh", "-c", command}, PairDir());
}

} // namespace

TEST(ToolLayer, FixedTextIsPrintfsTextOfEveryDouble)
{
    const double special[] = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.0000005, 0.0000015, 9.9999995,
                              7000.0001245, 1e300, -1.7976931348623157e308, 5e-324, -1e-9,
                              9007199254740993.0, 1.8446744073709552e19,
                              std::numeric_limits<double>::infinity(), -std::nan("")};
    for (double v : special)
        for (int d = 0; d <= 20; ++d) EXPECT_EQ(FixedText(v, d), Printf(v, d)) << v << " " << d;
    // Seeded sweep: any bit pattern, and values of every size near the
    // exports' (a linear congruential sequence, the same on every run).
    uint64_t x = 20261208;
    for (int i = 0; i < 200000; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        double v = 0;
        if (i % 2) std::memcpy(&v, &x, sizeof v);
        else v = std::ldexp(static_cast<double>(x >> 11), -static_cast<int>(x % 90)) * (x & 1 ? -1 : 1);
        const int d = static_cast<int>((x >> 20) % 18);
        ASSERT_EQ(FixedText(v, d), Printf(v, d)) << v << " " << d;
    }
    std::string s = "x=";
    AppendFixed(s, 1.25, 1);
    EXPECT_EQ(s, "x=1.2");
}

// UTF-8 passes through; each byte of anything else becomes \udcXX, which
// Python's surrogateescape turns back into the byte.
TEST(ToolLayer, JsonStringKeepsUtf8AndEscapesQuotesControlsAndStrayBytes)
{
    const struct {
        std::string text, json;
    } cases[] = {
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"one\ntwo\tthree", "\"one\\ntwo\\u0009three\""},
        {std::string("\x01\x7f", 2), "\"\\u0001\\u007f\""},
        {"lat\xc3\xa9.eph \xe2\x82\xac \xf0\x9f\x9b\xb0", "\"lat\xc3\xa9.eph \xe2\x82\xac \xf0\x9f\x9b\xb0\""},
        {"\xe9t\xe9", "\"\\udce9t\\udce9\""},                       // Latin-1
        {"\xc0\xaf \xe0\x80\xaf", "\"\\udcc0\\udcaf \\udce0\\udc80\\udcaf\""},   // overlong
        {"\xed\xb3\xbf", "\"\\udced\\udcb3\\udcbf\""},                // an encoded surrogate
        {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},       // beyond U+10FFFF
        {"x\xe2\x82", "\"x\\udce2\\udc82\""},                           // cut short
        {"\x80\xc3\xa9\xff", "\"\\udc80\xc3\xa9\\udcff\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json);
}

// A name may hold a terminal's escape sequences: on a terminal, messages
// show them as text; into a pipe or file, messages keep their bytes.
TEST(ToolLayer, MessagesOnATerminalShowControlCharactersAsText)
{
    EXPECT_EQ(TerminalText("a\x1b]0;title\x07" "b\\c\nd\xc2\x9b" "2J\xc3\xa9\x7f"),
              "a\\x1b]0;title\\x07b\\\\c\nd\\xc2\\x9b" "2J\xc3\xa9\\x7f");
    const std::string name = "x\x1b[2Jy.eph";
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(QLRDUMP_PATH, "qlrdump", "--summary", name.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string shown;
    char buf[512];
    for (ssize_t n; (n = read(terminal, buf, sizeof buf)) > 0;) shown.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    EXPECT_EQ(shown, "qlrdump: cannot read \"x\\x1b[2Jy.eph\": No such file or directory\r\n");
    EXPECT_NE(RunProgram({QLRDUMP_PATH, "--summary", name}).err.find(name), std::string::npos);
}

// Numbers on the command line: decimal, finite, nothing around them.
TEST(ToolLayer, CommandLineNumbersAreDecimalOnly)
{
    double v = 0;
    for (const char* good : {"16", "-1.5", "+2", ".5", "5.", "2e3", "1E-2"}) EXPECT_TRUE(DecimalNumber(good, v)) << good;
    for (const char* bad : {"0x10", " 5", "5 ", "inf", "nan", "1e999", "", ".", "e3", "1e", "--1", "1,5"})
        EXPECT_FALSE(DecimalNumber(bad, v)) << bad;
    EXPECT_TRUE(DecimalNumber("2e3", v) && v == 2000);
}

TEST(ToolLayer, IsoTaiWriterGivesIsoTaiFromTai93sTextAcrossDaysAndCarries)
{
    // Around midnights (where the date changes, and rounding carries into
    // the next day) and far apart, in any order.
    std::vector<double> times;
    for (double day : {0.0, 1.0, 365.0, 12000.0, -3000.0})
        for (double off : {-27.0, -27.0000004, -27.0000000004, -26.9999996, -27.5, 43200.0, 86372.9999996})
            times.push_back(day * 86400 + off);
    times.push_back(std::nan(""));
    times.push_back(-2.1168e11);
    for (int decimals : {0, 3, 6, 9}) {
        IsoTaiWriter writer(decimals);
        for (double t : times) {
            std::string s;
            writer.Append(s, t);
            EXPECT_EQ(s, IsoTaiFromTai93(t, decimals)) << t << " " << decimals;
        }
    }
}

TEST(ToolLayer, CreationDateComesFromSourceDateEpochWhenSet)
{
    const struct {
        const char* value;   // nullptr: unset
        const char* date;    // nullptr: refused
    } cases[] = {
        {"0", "1970-01-01T00:00:00"},
        {"951782400", "2000-02-29T00:00:00"},
        {"1790000000", "2026-09-21T14:13:20"},
        {"253402300799", "9999-12-31T23:59:59"},
        {"253402300800", nullptr},
        {"-1", nullptr},
        {"+5", nullptr},
        {" 5", nullptr},
        {"1.5", nullptr},
        {"12abc", nullptr},
        {"99999999999999999999999", nullptr},
    };
    for (const auto& c : cases) {
        setenv("SOURCE_DATE_EPOCH", c.value, 1);
        std::string date, error;
        EXPECT_EQ(CreationDate(date, error), c.date != nullptr) << c.value;
        if (c.date) EXPECT_EQ(date, c.date);
        else EXPECT_NE(error.find("SOURCE_DATE_EPOCH: \"" + std::string(c.value) + "\" is not"),
                       std::string::npos)
            << error;
    }
    // Unset or empty: the clock.
    for (bool empty : {false, true}) {
        if (empty) setenv("SOURCE_DATE_EPOCH", "", 1);
        else unsetenv("SOURCE_DATE_EPOCH");
        std::string date, error;
        ASSERT_TRUE(CreationDate(date, error));
        CalendarTime t;
        EXPECT_TRUE(ParseIsoTime(date, t)) << date;
        EXPECT_GE(t.year, 2024);
    }
    unsetenv("SOURCE_DATE_EPOCH");
}

// The recovery's bisection evaluates only midpoints near the root; it must
// end on the bits of the plain bisection that evaluates every one.
TEST(ToolLayer, AttitudeRecoveryEndsOnThePlainBisectionsBits)
{
    auto plain = [](const double e[3], double& roll) {
        const double a = e[0], b = e[1], c = e[2];
        const double limit = kMaxRecoverableAngle + 1e-9;
        const double rollMax = std::min(limit, std::acos(std::max(std::fabs(a), std::fabs(c)) / std::sin(limit)));
        auto g = [&](double r) {
            const double cr = std::cos(r), cr2 = cr * cr;
            return a * c / cr2 + std::sin(r) * std::sqrt(std::max(0.0, (1.0 - a * a / cr2) * (1.0 - c * c / cr2))) - b;
        };
        double lo = -rollMax, hi = rollMax;
        for (int i = 0; i < 200 && hi - lo > 0.0; ++i) {
            const double mid = 0.5 * (lo + hi);
            if (mid <= lo || mid >= hi) break;
            (g(mid) < 0.0 ? lo : hi) = mid;
        }
        roll = std::fabs(g(lo)) < std::fabs(g(hi)) ? lo : hi;
    };
    uint64_t x = 77;
    auto uniform = [&]() {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(x >> 11) / 9007199254740992.0 * 2 - 1;
    };
    const double edge = kMaxRecoverableAngle;
    for (int i = 0; i < 20000; ++i) {
        // Small wobbles, roll exactly 0, all three up to the edge.
        const double scale[4] = {0.05, 1e-7, edge, edge};
        const double s = scale[i % 4];
        const double yaw = (i % 4 == 3 ? edge * (1 - 1e-9) : s * uniform());
        const double roll = i % 4 == 1 ? 0.0 : s * uniform(), pitch = s * uniform();
        const double e[3] = {std::sin(yaw) * std::cos(roll),
                             std::sin(yaw) * std::sin(pitch) + std::cos(yaw) * std::sin(roll) * std::cos(pitch),
                             std::cos(roll) * std::sin(pitch)};
        double m[3][3], yrp[3], expected = 0;
        std::string why;
        ASSERT_TRUE(RecoverOrbitalAttitude(e, m, yrp, why)) << why;
        plain(e, expected);
        ASSERT_EQ(std::memcmp(&yrp[1], &expected, sizeof expected), 0)
            << yrp[1] << " " << expected << " for " << yaw << " " << roll << " " << pitch;
    }
}

TEST(ToolLayer, CommandLineFailuresAreOneLineWithStatus255)
{
    const std::string q = QLRDUMP_PATH, s = PKTSCAN_PATH, p = QLRPLOT_PATH;
    const struct {
        std::vector<std::string> argv;
        const char* err;
    } cases[] = {
        {{q, "--frobnicate", "p.eph"}, "qlrdump: unknown option --frobnicate (see qlrdump --help)\n"},
        {{q, "--oem", "p.eph", "--out"}, "qlrdump: option --out needs a value\n"},
        {{q, "--interpolation-degree", "0"},
         "qlrdump: --interpolation-degree takes a whole number from 1 to 30, not \"0\"\n"},
        {{q, "--frame", "body"}, "qlrdump: --frame takes inertial or orbital, not \"body\"\n"},
        {{q, "--check", "p.eph"},
         "qlrdump: --check needs an ephemeris and an attitude file (see qlrdump --help)\n"},
        {{q, "--", "--header"}, "qlrdump: cannot read \"--header\": No such file or directory\n"},
        {{s, "--", "-h"}, "pktscan: -h: No such file or directory\n"},
        {{s, "p.pkt", "q.pkt"}, "pktscan: one packet file only (see pktscan --help)\n"},
        {{p, "-o"}, "qlrplot: option -o needs a directory\n"},
        {{p, "--bogus"}, "qlrplot: unknown option --bogus (see qlrplot --help)\n"},
        {{p, "p.eph"}, "qlrplot: give an ephemeris and an attitude file (see qlrplot --help)\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = RunProgram(c.argv, PairDir());
        EXPECT_EQ(r.status, 255) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    // After "--", an operand may start with "-".
    WriteFile(PairDir() + "/-p.eph", ReadFile(PairDir() + "/p.eph"));
    const ProgramResult r = RunProgram({q, "--summary", "--", "-p.eph"}, PairDir());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("records          600", 0), 0u) << r.out;
}

TEST(ToolLayer, OutputThatCannotBeWrittenFailsWithStatus255)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (const char* args : {"--summary p.eph", "--summary p.eph p.att", "--check p.eph p.att",
                             "--check --json p.eph p.att", "--records p.att", "--oem p.eph",
                             "--aem p.eph p.att", "--oem p.eph --out /dev/full"}) {
        const ProgramResult r = Shell(std::string("'" QLRDUMP_PATH "' ") + args + " > /dev/full");
        EXPECT_EQ(r.status, 255) << args;
        EXPECT_NE(r.err.find("qlrdump: cannot write"), std::string::npos) << args << ": " << r.err;
    }
    const ProgramResult r = Shell("'" PKTSCAN_PATH "' --json p.pkt > /dev/full");
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("pktscan: cannot write to standard output"), std::string::npos) << r.err;
}
