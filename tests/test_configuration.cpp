#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_program.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"
#include "vn_proc_XferCmdlineValues.h"

TEST(ConfigurationList, SetvalueAcceptsOnlyDefinedKeywordsExactly)
{
    cfg_list cfg;
    EXPECT_TRUE(cfg.setvalue("-station", "KIRU"));
    EXPECT_EQ(cfg.getvalue("-station"), "KIRU");
    EXPECT_FALSE(cfg.setvalue("-Station", "X"));
    EXPECT_FALSE(cfg.setvalue("station", "X"));
    EXPECT_FALSE(cfg.setvalue("-configfile", "X"));
    cmd_line cmd;
    EXPECT_FALSE(cmd.setvalue("-station", "X"));
    EXPECT_FALSE(cmd.setvalue("-packetFile", "X"));
    EXPECT_TRUE(cmd.setvalue("-packetfile", ""));
    EXPECT_EQ(cmd.getvalue("-configfile"), "./configfile");
}

TEST(ConfigurationList, PrintsInByteOrderWithTwoTabs)
{
    cmd_line cmd;
    cmd.setvalue("-packetfile", "a b");
    std::ostringstream os;
    os << cmd;
    EXPECT_EQ(os.str(),
              "-attitudefile\t\t\n-configfile\t\t./configfile\n-ephemerisfile\t\t\n"
              "-listconfig\t\t\n-noradfile\t\t\n-packetfile\t\ta b\n");
    std::vector<std::string> keys;
    cfg_list cfg;
    for (const auto& entry : cfg) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "-attitudefile", "-debug_1", "-debug_2", "-debug_3", "-diag_1", "-diag_2",
                        "-diag_3", "-ephemerisfile", "-listconfig", "-noradfile", "-noradsatname",
                        "-packetfile", "-pkt_count", "-pkt_offset", "-qlrsatname", "-station",
                        "-version"}));
}

TEST(ConfigurationList, OnlyNonEmptyFileKeywordsOverride)
{
    cmd_line cmd;
    cfg_list cfg;
    cfg.setvalue("-listconfig", "yes");
    cfg.setvalue("-packetfile", "from.file");
    cmd.setvalue("-packetfile", "from.cmd");
    cmd.setvalue("-noradfile", "noTLE");
    XferCmdlineValues(cmd, cfg);
    EXPECT_EQ(cfg.getvalue("-listconfig"), "yes");
    EXPECT_EQ(cfg.getvalue("-packetfile"), "from.cmd");
    EXPECT_EQ(cfg.getvalue("-noradfile"), "noTLE");
    EXPECT_EQ(cfg.getvalue("-ephemerisfile"), "");
}

TEST(ConfigurationListDeathTest, ProgramErrorsAreAssertions)
{
    EXPECT_DEATH({ cmd_line c; c.define("-configfile", "x"); },
                 "vn_class_configurationlist.*void configuration_list::define\\(const cstring&, "
                 "cstring\\).*find\\(keyword\\)==end\\(\\)");
    EXPECT_DEATH({ cfg_list c; c.getvalue("-configfile"); },
                 "vn_class_configurationlist.*std::string configuration_list::getvalue\\(const "
                 "cstring&\\) const.*find\\(keyword\\) != end\\(\\)");
}

namespace {

// Every (keyword, value) that readline delivers before the stream fails.
std::vector<std::pair<std::string, std::string>> ReadAll(const std::string& bytes)
{
    const std::string path = FreshTestDir() + "/cfg";
    WriteFile(path, bytes);
    configurationfile file(path);
    EXPECT_FALSE(file.fail());
    EXPECT_EQ(file.GetFileType(), "configuration");
    EXPECT_EQ(file.GetFileName(), path);
    std::vector<std::pair<std::string, std::string>> lines;
    std::string key, value;
    while (!file.readline(key, value).fail()) lines.emplace_back(key, value);
    EXPECT_TRUE(file.eof());
    return lines;
}

typedef std::vector<std::pair<std::string, std::string>> Lines;

} // namespace

TEST(ConfigurationFile, ValuesTrimBlanksAndTabsOnly)
{
    EXPECT_EQ(ReadAll("\n\n  -station   Two Words\t \n-diag_3\n\t-version\t\t \r\n-x a\rb\r\n"),
              (Lines{{"-station", "Two Words"}, {"-diag_3", ""}, {"-version", "\r"},
                     {"-x", "a\rb\r"}}));
}

TEST(ConfigurationFile, LastLineWithoutLineFeed)
{
    EXPECT_EQ(ReadAll("-a 1\n-b two"), (Lines{{"-a", "1"}, {"-b", "two"}}));
    // A keyword alone at the very end is dropped.
    EXPECT_EQ(ReadAll("-a 1\n-b"), (Lines{{"-a", "1"}}));
    EXPECT_EQ(ReadAll(""), Lines{});
    EXPECT_EQ(ReadAll(" \n\n\t\n"), Lines{});
}

TEST(ConfigurationFile, MissingFileFailsOnOpen)
{
    configurationfile file(FreshTestDir() + "/absent");
    EXPECT_TRUE(file.fail());
}
