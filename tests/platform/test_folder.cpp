// A folder held by its descriptor: outputs, subfolders and the rest made
// and found through it; files read from it and inputs opened anywhere
// without blocking, refusing what is no regular file of the right owner.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "other_user.h"
#include "platform/atomic_stream.h"
#include "platform/folder.h"
#include "platform/input_file.h"
#include "run_program.h"

namespace {

TEST(Folder, EverythingBelowIsReachedThroughTheHeldFolder)
{
    const ReachableScratch scratch;
    const std::string s = scratch.Path();
    std::string error;
    platform::Folder top, day;
    ASSERT_TRUE(top.OpenPrivate(s + "/c", error, true, 0755)) << error;
    ASSERT_TRUE(top.OpenSub("days/2026-06-01", day, error, true)) << error;
    EXPECT_EQ(day.Path(), s + "/c/days/2026-06-01");
    // Renamed meanwhile: the held folders still get the files.
    ASSERT_EQ(rename((s + "/c").c_str(), (s + "/c2").c_str()), 0);
    WriteFile(s + "/victim", "the victim's bytes");
    ASSERT_EQ(symlink((s + "/victim").c_str(), (s + "/c2/days/2026-06-01/x.eph").c_str()), 0);
    platform::AtomicStream out;
    ASSERT_TRUE(out.OpenAt(day.Fd(), "x.eph", 0600)) << out.Error();
    out << "product";
    ASSERT_TRUE(out.Commit()) << out.Error();
    EXPECT_EQ(ReadFile(s + "/victim"), "the victim's bytes");   // the link was replaced, not followed
    EXPECT_EQ(ReadFile(s + "/c2/days/2026-06-01/x.eph"), "product");
    EXPECT_EQ(FileMode(s + "/c2/days/2026-06-01/x.eph"), 0600u);
    ASSERT_TRUE(platform::WriteFileAtomicallyAt(day.Fd(), "result.txt", "ok\n", error)) << error;
    std::string text;
    EXPECT_TRUE(day.ReadWhole("result.txt", text, error) && text == "ok\n") << error;
    EXPECT_EQ(ReadFile(day.FdPath("result.txt")), "ok\n");
    std::vector<std::string> names;
    ASSERT_TRUE(day.Rename("result.txt", "old.txt", error)) << error;
    EXPECT_FALSE(day.Rename("x.eph", "old.txt", error, false));
    EXPECT_TRUE(day.List(names, error));
    EXPECT_EQ(names, (std::vector<std::string>{"old.txt", "x.eph"}));
    EXPECT_TRUE(day.Remove("old.txt", error) && day.Remove("old.txt", error)) << error;
    // Two folders swapped in one step, each whole.
    platform::Folder next, days;
    ASSERT_TRUE(top.OpenSub("next", next, error, true) && top.OpenSub("days", days, error)) << error;
    WriteFile(s + "/c2/next/x.eph", "new product");
    ASSERT_TRUE(top.Exchange("next", days, "2026-06-01", error)) << error;
    EXPECT_EQ(ReadFile(s + "/c2/days/2026-06-01/x.eph"), "new product");
    EXPECT_EQ(ReadFile(s + "/c2/next/x.eph"), "product");
    EXPECT_FALSE(top.Exchange("next", top, "none", error));
    // A tree goes without following its links.
    ASSERT_EQ(symlink(s.c_str(), (s + "/c2/days/2026-06-01/up").c_str()), 0);
    EXPECT_TRUE(top.RemoveTree("days", error)) << error;
    EXPECT_FALSE(top.Exists("days"));
    EXPECT_EQ(ReadFile(s + "/victim"), "the victim's bytes");
}

// Links, FIFOs, devices, folders and files of another user, under names
// the program reads or keeps its own files by: refused with the reason,
// none opened for reading, nothing blocks.
TEST(Folder, ReadingRefusesWhatIsNoRegularFileOfTheOwner)
{
    OtherUser nobody;
    if (!nobody.Available()) GTEST_SKIP() << "needs root and the user nobody to give files to another user";
    const ReachableScratch scratch;
    const std::string s = scratch.Path(), c = s + "/c";
    std::string error;
    platform::Folder top, sub;
    ASSERT_TRUE(top.OpenPrivate(c, error, true, 0755)) << error;
    ASSERT_EQ(mkfifo((c + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(mknod((c + "/null").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    ASSERT_EQ(mkdir((c + "/sub").c_str(), 0755), 0);
    WriteFile(c + "/file", "ours");
    ASSERT_EQ(symlink("file", (c + "/link").c_str()), 0);
    ASSERT_EQ(link((c + "/file").c_str(), (c + "/second").c_str()), 0);
    WriteFile(c + "/theirs", "theirs");
    ASSERT_EQ(mkdir((c + "/their-sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((c + "/group-sub").c_str(), 0775), 0);
    ASSERT_EQ(chmod((c + "/group-sub").c_str(), 0775), 0);
    ASSERT_EQ(chown((c + "/theirs").c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(chown((c + "/their-sub").c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(chown((c + "/group-sub").c_str(), 0, nobody.gid), 0);
    const std::vector<std::pair<std::string, std::string>> reads = {
        {"fifo", c + "/fifo: a FIFO, not a regular file"},
        {"null", c + "/null: a device, not a regular file"},
        {"sub", c + "/sub: a folder, not a regular file"},
        {"link", c + "/link: a link, not followed"},
        {"theirs", c + "/theirs belongs to another user (nobody)"},
        {"../c/file", "\"../c/file\": not a name of an entry of " + c},
    };
    for (const auto& r : reads) {
        EXPECT_LT(top.OpenFile(r.first, error), 0);
        EXPECT_EQ(error, r.second);
    }
    const std::vector<std::pair<std::string, std::string>> subs = {
        {"file", c + "/file is not a folder"},
        {"their-sub", c + "/their-sub belongs to another user (nobody)"},
        {"group-sub", c + "/group-sub is writable by its group (nogroup)"},
        {"sub/../sub", "\"..\": not a name of an entry of " + c + "/sub"},
    };
    for (const auto& r : subs) {
        EXPECT_FALSE(top.OpenSub(r.first, sub, error));
        EXPECT_EQ(error, r.second);
    }
    // The files kept by name: ours alone, with one name, given the mode.
    const std::vector<std::pair<std::string, std::string>> own = {
        {"link", c + "/link: a link, not followed"},
        {"theirs", c + "/theirs belongs to another user (nobody)"},
        {"second", c + "/second has other names (hard links)"},
        {"fifo", c + "/fifo: a FIFO, not a regular file"},
    };
    for (const auto& r : own) {
        EXPECT_LT(top.OpenOwnFile(r.first, 0600, true, error), 0);
        EXPECT_EQ(error, r.second);
    }
    ASSERT_EQ(unlink((c + "/second").c_str()), 0);
    const int fd = top.OpenOwnFile("file", 0600, false, error);
    EXPECT_GE(fd, 0) << error;
    close(fd);
    EXPECT_EQ(FileMode(c + "/file"), 0600u);
    // Inputs named anywhere: links followed, the rest refused alike.
    ASSERT_EQ(symlink("fifo", (c + "/to-fifo").c_str()), 0);
    EXPECT_LT(platform::OpenInput(c + "/to-fifo", error), 0);
    EXPECT_EQ(error, "a FIFO, not a regular file");
    const int in = platform::OpenInput(c + "/link", error);
    EXPECT_GE(in, 0) << error;
    EXPECT_EQ(fcntl(in, F_GETFL) & O_NONBLOCK, 0);
    close(in);
    // A folder of another user to read from: their files, and root's, only.
    platform::Folder inbox;
    ASSERT_EQ(chown((c + "/sub").c_str(), nobody.uid, nobody.gid), 0);
    WriteFile(c + "/sub/dump", "theirs");
    WriteFile(c + "/sub/foreign", "a third user's");
    ASSERT_EQ(chown((c + "/sub/dump").c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(chown((c + "/sub/foreign").c_str(), 4242, 4242), 0);
    ASSERT_TRUE(inbox.OpenToRead(c + "/sub", error)) << error;
    std::string text;
    EXPECT_TRUE(inbox.ReadWhole("dump", text, error) && text == "theirs") << error;
    EXPECT_FALSE(inbox.ReadWhole("foreign", text, error));
    EXPECT_EQ(error, c + "/sub/foreign belongs to another user (4242)");
}

} // namespace
