// The rule for a folder a program keeps its state in: what it accepts, what
// it refuses and why, and what another user can do about it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "other_user.h"
#include "platform/private_folder.h"
#include "run_program.h"

namespace {

TEST(PrivateFolder, OwnFoldersPassUnderTheirRealPath)
{
    const ReachableScratch scratch;
    const std::string s = scratch.Path();   // under /tmp: root's and sticky
    ASSERT_EQ(mkdir((s + "/own").c_str(), 0755), 0);
    ASSERT_EQ(symlink("own", (s + "/link").c_str()), 0);
    for (const std::string& path : {s + "/own", s + "/link", s + "//own/../link/."}) {
        const platform::FolderVerdict v = platform::CheckPrivateFolder(path);
        EXPECT_TRUE(v.ok) << path << ": " << v.reason;
        EXPECT_EQ(v.path, s + "/own") << path;
    }
    // Made on the way: never writable by group or others, whatever the umask.
    const mode_t saved = umask(0);
    platform::FolderVerdict v;
    const int fd = platform::OpenPrivateFolder(s + "/own/new/deeper", true, 0700, v);
    umask(saved);
    EXPECT_GE(fd, 0) << v.reason;
    close(fd);
    EXPECT_EQ(FileMode(s + "/own/new"), 0755u);
    EXPECT_EQ(FileMode(s + "/own/new/deeper"), 0700u);
    // Writable by a group that is the user's alone (root's, on Debian).
    const group* rootGroup = getgrgid(0);
    if (geteuid() == 0 && rootGroup && rootGroup->gr_mem[0] == nullptr) {
        ASSERT_EQ(chmod((s + "/own").c_str(), 0775), 0);
        EXPECT_TRUE(platform::CheckPrivateFolder(s + "/own").ok);
    }
}

TEST(PrivateFolder, RefusalsNameTheFolderOthersCouldChange)
{
    OtherUser nobody;
    if (!nobody.Available()) GTEST_SKIP() << "needs root and the user nobody to give folders to another user";
    const ReachableScratch scratch;
    const std::string s = scratch.Path();
    auto folder = [&](const std::string& name, mode_t mode, uid_t uid, gid_t gid) {
        ASSERT_EQ(mkdir((s + "/" + name).c_str(), 0700), 0);
        ASSERT_EQ(chown((s + "/" + name).c_str(), uid, gid), 0);
        ASSERT_EQ(chmod((s + "/" + name).c_str(), mode), 0);
    };
    folder("own", 0755, 0, 0);
    folder("open", 0777, 0, 0);
    folder("open/c", 0755, 0, 0);
    folder("group", 0775, 0, nobody.gid);
    folder("group/c", 0755, 0, 0);
    folder("sticky", 01777, 0, 0);
    folder("theirs", 0755, nobody.uid, nobody.gid);
    ASSERT_EQ(symlink("own", (s + "/their-link").c_str()), 0);
    ASSERT_EQ(lchown((s + "/their-link").c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(symlink((s + "/theirs").c_str(), (s + "/to-theirs").c_str()), 0);
    ASSERT_EQ(symlink("loop", (s + "/loop").c_str()), 0);
    WriteFile(s + "/file", "");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {s + "/open/c", s + "/open is writable by others"},
        {s + "/group/c", s + "/group is writable by its group (nogroup)"},
        {s + "/sticky", s + "/sticky is writable by others"},   // sticky excuses ancestors only
        {s + "/theirs", s + "/theirs belongs to another user (nobody)"},
        {s + "/theirs/../own", s + "/theirs belongs to another user (nobody)"},   // passed through
        {s + "/their-link", s + "/their-link is a link of another user (nobody)"},
        {s + "/to-theirs", s + "/theirs belongs to another user (nobody)"},   // where a link leads is checked
        {s + "/loop", s + "/loop: too many levels of links"},
        {s + "/file", s + "/file is not a folder"},
        {s + "/none", s + "/none: No such file or directory"},
    };
    for (const auto& c : cases) {
        const platform::FolderVerdict v = platform::CheckPrivateFolder(c.first);
        EXPECT_FALSE(v.ok) << c.first;
        EXPECT_EQ(v.reason, c.second);
    }
    EXPECT_TRUE(platform::CheckPrivateFolder(s + "/own").ok);
}

// In a sticky folder anyone may write to, another user takes the name
// first, with a folder or a link of theirs; a folder we made there they can
// neither rename nor write into.
TEST(PrivateFolder, AnotherUserCannotPlantOrSwapTheFolder)
{
    OtherUser nobody;
    if (!nobody.Available()) GTEST_SKIP() << "needs root and the user nobody to play another user";
    const ReachableScratch scratch;
    const std::string shared = scratch.Path() + "/shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    platform::FolderVerdict v;
    const int mine = platform::OpenPrivateFolder(shared + "/mine", true, 0755, v);
    ASSERT_GE(mine, 0) << v.reason;
    close(mine);
    WriteFile(shared + "/mine/state", "the owner's state");
    ASSERT_TRUE(nobody.Does([&] {
        return mkdir((shared + "/campaign").c_str(), 0777) == 0 &&
               symlink((shared + "/mine").c_str(), (shared + "/campaign2").c_str()) == 0 &&
               rename((shared + "/mine").c_str(), (shared + "/moved").c_str()) != 0 &&
               open((shared + "/mine/planted").c_str(), O_WRONLY | O_CREAT, 0666) < 0;
    }));
    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {"campaign", " belongs to another user (nobody)"}, {"campaign2", " is a link of another user (nobody)"}}) {
        EXPECT_LT(platform::OpenPrivateFolder(shared + "/" + c.first, true, 0755, v), 0);
        EXPECT_EQ(v.reason, shared + "/" + c.first + c.second);
    }
    EXPECT_EQ(ReadFile(shared + "/mine/state"), "the owner's state");
    EXPECT_TRUE(platform::CheckPrivateFolder(shared + "/mine").ok);
    // As they see it: their folder is theirs to use, ours is not.
    EXPECT_TRUE(nobody.Does([&] {
        return platform::CheckPrivateFolder(shared + "/campaign").ok &&
               platform::CheckPrivateFolder(shared + "/mine").reason ==
                   shared + "/mine belongs to another user (root)";
    }));
}

} // namespace
