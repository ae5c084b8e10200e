#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"

namespace {

const std::string kProg = TROKPROC_PATH;

// Runs trokproc with `args` in a fresh directory that holds `configfile`
// (skipped when `withConfig` is false).
ProgramResult RunTrok(const std::vector<std::string>& args, const std::string& configfile = "",
                  bool withConfig = true)
{
    const std::string dir = FreshTestDir();
    if (withConfig) WriteFile(dir + "/configfile", configfile);
    std::vector<std::string> argv{kProg};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, dir);
}

// The listing after its time-stamp line, as it must read with the given
// command-line block values (in keyword order) and configuration values.
std::string Blocks(const std::string& cmdBlock, const std::string& cfgBlock)
{
    return "\nCommand Line Options---\n" + cmdBlock + "\nConfig. File Options---\n" + cfgBlock + "\n";
}

} // namespace

TEST(StartupE2E, CommandLineErrors)
{
    ProgramResult r = RunTrok({"-listconfig", "yes", "-packetfile"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nBad Command Line:\n    " + kProg + " -listconfig yes -packetfile \n");
    EXPECT_EQ(r.out, "");

    r = RunTrok({"-packetfile", "p", "-station", "KIRU", "-listconfig", "yes"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nBad Command Line Keyword: -station\n");

    r = RunTrok({"-packetFile", "p"});
    EXPECT_EQ(r.err, "\nBad Command Line Keyword: -packetFile\n");
}

TEST(StartupE2E, ConfigurationFileErrors)
{
    ProgramResult r = RunTrok({}, "", false);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nFile Open failed for configuration file:  ./configfile\n");

    r = RunTrok({"-configfile", " \t "});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nFile Open failed for configuration file:  no file name given\n");

    r = RunTrok({"-listconfig", "yes"}, "-station KIRU\n# a comment\n-version 2\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nBad Configuration File Keyword: #\n");
    EXPECT_EQ(r.out, "");

    r = RunTrok({}, "-configfile x\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nBad Configuration File Keyword: -configfile\n");
}

TEST(StartupE2E, SilentRunWithoutListing)
{
    // Start-up passes silently and the run stops at the first input it
    // needs, the packet file. No arguments reads ./configfile; "YES" is not "yes".
    const std::string noPacketFile = "\nFile Open failed for packet file:  no file name given\n";
    ProgramResult r = RunTrok({}, "-listconfig YES\n-packetfile -noradfile\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "\nFile Open failed for packet file:  -noradfile\n");
    // A command-line "no" overrides the file's "yes".
    r = RunTrok({"-listconfig", "no"}, "-listconfig yes\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, noPacketFile);
    // Carriage-return line ends leave "yes\r", which is off.
    r = RunTrok({}, "-listconfig yes\r\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, noPacketFile);
}

TEST(StartupE2E, ListingLayoutAndOverrides)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/other.cfg",
              "-listconfig   yes \n\n-station  Two Words\t\n-noradsatname PELK\n"
              "-packetfile file.pkt\n-diag_3\n-pkt_count 12\n-debug_2 maybe");
    ProgramResult r = RunProgram({kProg, "-configfile", "other.cfg", "-listconfig", "",
                                  "-packetfile", "first", "-packetfile", "-noradfile",
                                  "-attitudefile", "att file"},
                                 dir);
    // The listing comes first; then the packet file named on the command line is missing.
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nFile Open failed for packet file:  -noradfile\n");

    // Banner: "\nTROK PELK YYYY/MM/DD hh:mm:ss" and one NUL before the line end.
    const std::string banner = "\nTROK PELK ";
    ASSERT_GE(r.out.size(), banner.size() + 21);
    EXPECT_EQ(r.out.substr(0, banner.size()), banner);
    const std::string stamp = r.out.substr(banner.size(), 21);
    EXPECT_EQ(stamp.substr(19), std::string("\0\n", 2));
    const std::string shape = "dddd/dd/dd dd:dd:dd";
    for (size_t k = 0; k < shape.size(); ++k) {
        if (shape[k] == 'd') EXPECT_TRUE(stamp[k] >= '0' && stamp[k] <= '9') << k;
        else EXPECT_EQ(stamp[k], shape[k]) << k;
    }
    EXPECT_EQ(stamp.substr(0, 2), "20");

    EXPECT_EQ(r.out.substr(banner.size() + 21),
              Blocks("-attitudefile\t\tatt file\n-configfile\t\tother.cfg\n-ephemerisfile\t\t\n"
                     "-listconfig\t\t\n-noradfile\t\t\n-packetfile\t\t-noradfile\n",
                     "-attitudefile\t\tatt file\n-debug_1\t\tno\n-debug_2\t\tmaybe\n-debug_3\t\tno\n"
                     "-diag_1\t\tno\n-diag_2\t\tno\n-diag_3\t\t\n-ephemerisfile\t\t\n"
                     "-listconfig\t\tyes\n-noradfile\t\t\n-noradsatname\t\tPELK\n"
                     "-packetfile\t\t-noradfile\n-pkt_count\t\t12\n-pkt_offset\t\t0\n"
                     "-qlrsatname\t\tQORAL6\n-station\t\tTwo Words\n-version\t\t1.0\n"));
}
