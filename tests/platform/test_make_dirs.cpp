// mkdir -p, once for every program: what it makes, what it takes as it is,
// and where it stops.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/make_dirs.h"
#include "run_program.h"

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(MakeDirs, MakesTheMissingFoldersAndTakesExistingOnes)
{
    const std::string dir = FreshTestDir();
    platform::MadeDirs r = platform::MakeDirs(dir + "/a//b/c/");
    EXPECT_TRUE(r.ok && r.made) << r.at << ": " << r.Reason();
    EXPECT_TRUE(IsFolder(dir + "/a/b/c"));
    r = platform::MakeDirs(dir + "/a/b");
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.made);
    // A link to a folder is a folder, unless the last name must be one itself.
    ASSERT_EQ(symlink("a", (dir + "/link").c_str()), 0);
    EXPECT_TRUE(platform::MakeDirs(dir + "/link/b/d").ok);
    EXPECT_TRUE(IsFolder(dir + "/a/b/d"));
    EXPECT_TRUE(platform::MakeDirs(dir + "/link").ok);
    r = platform::MakeDirs(dir + "/link", true);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.at, dir + "/link");
    EXPECT_EQ(r.Reason(), "it exists and is not a folder");
}

TEST(MakeDirs, StopsAtTheNameInTheWay)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/file", "x");
    platform::MadeDirs r = platform::MakeDirs(dir + "/file/sub/deeper");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.at, dir + "/file");
    EXPECT_EQ(r.err, ENOTDIR);
    // A dangling link is no folder, and nothing is made through it.
    ASSERT_EQ(symlink("nowhere", (dir + "/dangling").c_str()), 0);
    r = platform::MakeDirs(dir + "/dangling");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.at, dir + "/dangling");
    EXPECT_FALSE(IsFolder(dir + "/nowhere"));
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.c_str(), 0500), 0);
        r = platform::MakeDirs(dir + "/new/sub");
        chmod(dir.c_str(), 0700);
        EXPECT_EQ(r.at, dir + "/new");
        EXPECT_EQ(r.Reason(), "Permission denied");
    }
}

} // namespace
