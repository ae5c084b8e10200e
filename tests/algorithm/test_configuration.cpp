#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "run_program.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"

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
    EXPECT_EQ(ReadAll(" \n\n\t\n"), Lines{});
}

