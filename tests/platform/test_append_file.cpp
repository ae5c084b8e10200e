// A log appended to on a machine others share: the user's own file or
// device, never another user's file or one their link leads to.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/append_file.h"
#include "run_program.h"

namespace {

bool Append(const std::string& name, const std::string& text, std::string& why)
{
    bool refused = false;
    const int fd = platform::OpenForAppend(name, why, refused);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

TEST(AppendFile, AddsToTheUsersOwnLogThroughTheUsersLinksAndDevices)
{
    const std::string dir = FreshTestDir();
    std::string why;
    ASSERT_TRUE(Append(dir + "/log", "one\n", why)) << why;
    ASSERT_TRUE(Append(dir + "/log", "two\n", why)) << why;
    ASSERT_EQ(symlink("log", (dir + "/link").c_str()), 0);
    ASSERT_TRUE(Append(dir + "/link", "three\n", why)) << why;
    EXPECT_EQ(ReadFile(dir + "/log"), "one\ntwo\nthree\n");
    EXPECT_TRUE(Append("/dev/null", "gone\n", why)) << why;
    bool refused = false;
    EXPECT_TRUE(platform::MayAppend(dir + "/new", why, refused)) << why;
    EXPECT_NE(access((dir + "/new").c_str(), F_OK), 0) << "the check made the file";
    EXPECT_FALSE(Append(dir + "/missing/log", "x", why));
    EXPECT_EQ(why, "No such file or directory");
}

TEST(AppendFile, RefusesAnotherUsersFileAndTheirLinks)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/theirs", "their bytes\n");
    ASSERT_EQ(chown((dir + "/theirs").c_str(), 65534, 65534), 0);
    WriteFile(dir + "/victim", "the victim's bytes\n");
    ASSERT_EQ(symlink("victim", (dir + "/their-link").c_str()), 0);
    ASSERT_EQ(lchown((dir + "/their-link").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink("theirs", (dir + "/my-link").c_str()), 0);
    const struct {
        const char* name;
        const char* why;
    } cases[] = {
        {"theirs", "a file of another user"},
        {"their-link", "a link of another user"},
        {"my-link", "a link to a file of another user"},
    };
    for (const auto& c : cases) {
        std::string why;
        bool refused = false;
        EXPECT_EQ(platform::OpenForAppend(dir + "/" + c.name, why, refused), -1) << c.name;
        EXPECT_TRUE(refused) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
        EXPECT_FALSE(platform::MayAppend(dir + "/" + c.name, why, refused)) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
    EXPECT_EQ(ReadFile(dir + "/theirs"), "their bytes\n");
    EXPECT_EQ(ReadFile(dir + "/victim"), "the victim's bytes\n");
}

} // namespace
