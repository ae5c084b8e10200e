// A lock one process holds at a time, that nobody else can take or hold
// against its owner.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "other_user.h"
#include "platform/lock_file.h"
#include "run_program.h"

namespace {

using Result = platform::LockFile::Result;

// Two holders in one process are as two processes: flock locks belong to
// the open file.
TEST(LockFile, OneHolderAtATimeAndAWaiterIsTold)
{
    const ReachableScratch scratch;
    std::string error;
    platform::Folder folder;
    ASSERT_TRUE(folder.OpenPrivate(scratch.Path() + "/c", error, true, 0755)) << error;
    platform::LockFile first, second;
    ASSERT_EQ(first.TryTake(folder, "lock"), Result::Taken) << first.Error();
    EXPECT_EQ(second.TryTake(folder, "lock"), Result::Busy);
    EXPECT_EQ(second.Take(folder, "lock", [](pid_t) { return false; }), Result::Busy);   // given up
    int told = 0;
    const Result r = second.Take(folder, "lock", [&](pid_t by) {
        EXPECT_EQ(by, getpid());
        if (told++ == 1) first.Release();
        return true;
    });
    EXPECT_EQ(r, Result::Taken) << second.Error();
    EXPECT_EQ(told, 2);
    EXPECT_TRUE(second.Held() && !first.Held());
}

// The lock file is the owner's alone: another user who can read the folder
// cannot open it to hold it, and a link, their file or a readable earlier
// file in its place is refused or mended.
TEST(LockFile, NobodyElseCanTakeOrPlantIt)
{
    OtherUser nobody;
    if (!nobody.Available()) GTEST_SKIP() << "needs root and the user nobody to play another user";
    const ReachableScratch scratch;
    const std::string c = scratch.Path() + "/c";
    std::string error;
    platform::Folder folder;
    ASSERT_TRUE(folder.OpenPrivate(c, error, true, 0755)) << error;
    WriteFile(c + "/old", "");
    ASSERT_EQ(chmod((c + "/old").c_str(), 0644), 0);
    WriteFile(c + "/theirs", "");
    ASSERT_EQ(chown((c + "/theirs").c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(symlink("old", (c + "/link").c_str()), 0);
    platform::LockFile lock;
    EXPECT_EQ(lock.TryTake(folder, "link"), Result::Failed);
    EXPECT_EQ(lock.Error(), c + "/link: a link, not followed");
    EXPECT_EQ(lock.TryTake(folder, "theirs"), Result::Failed);
    EXPECT_EQ(lock.Error(), c + "/theirs belongs to another user (nobody)");
    ASSERT_TRUE(nobody.Does([&] { return open((c + "/old").c_str(), O_RDONLY) >= 0; }));
    for (const char* name : {"old", "lock"}) {
        EXPECT_EQ(lock.TryTake(folder, name), Result::Taken) << lock.Error();
        struct stat st;
        ASSERT_EQ(stat((c + "/" + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_TRUE(nobody.Does([&] { return open((c + "/" + name).c_str(), O_RDONLY) < 0 && errno == EACCES; }));
    }
}

} // namespace
