// The temporaries that a program killed outright leaves, found by name and
// removed only when they are the user's and their process is gone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/stale_temporaries.h"
#include "run_program.h"

namespace {

TEST(StaleTemporaries, NamesOfTheAtomicFileAndTheEarlierWriter)
{
    const std::string tail = ".trokproc-tmp";
    const struct {
        std::string entry;
        long nameMax;
        pid_t owner;
    } cases[] = {
        {".day1.eph.123.k3Zq9x" + tail, 255, 123},
        {".day1.eph.123" + tail, 255, 123},                   // the earlier naming, without letters
        {".day1.eph.123.k3Zq9" + tail, 255, 0},               // five letters
        {".day1.eph.123.k3-q9x" + tail, 255, 0},
        {".day1.eph." + tail, 255, 0},                        // no pid
        {".day1.ephx.123.k3Zq9x" + tail, 255, 0},             // another file's
        {"day1.eph.123.k3Zq9x" + tail, 255, 0},               // not hidden
        {".day1.eph.123.k3Zq9x.tmp", 255, 0},
        // Cut short to the folder's limit: 32 bytes here.
        {".day1.e.4567.abcdef" + tail, 32, 4567},
        {".day1.e.4567.abcdef" + tail, 255, 0},               // cut, yet shorter than the limit
        {".day2.e.4567.abcdef" + tail, 32, 0},                // not a beginning of the name
        {".day1.e.4567" + tail + "xyzabc", 32, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::TemporaryOwner(c.entry, "day1.eph", c.nameMax), c.owner) << c.entry;
}

TEST(StaleTemporaries, OnlyTheUsersFilesOfGoneProcessesGo)
{
    const std::string dir = FreshTestDir();
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), live = std::to_string(getpid());
    const std::set<std::string> stale = {".day1.eph." + dead + ".trokproc-tmp",
                                         ".day1.att." + dead + ".k3Zq9x.trokproc-tmp"};
    std::set<std::string> kept = {".day1.eph." + live + ".a1b2c3.trokproc-tmp",   // its program runs
                                  ".dayX.eph." + dead + ".a1b2c3.trokproc-tmp",   // another product's
                                  "day1.eph"};
    for (const std::string& f : stale) WriteFile(dir + "/" + f, "partial");
    for (const std::string& f : kept) WriteFile(dir + "/" + f, "partial");
    const std::string link = ".day1.eph." + dead + ".zzzzzz.trokproc-tmp";
    ASSERT_EQ(symlink("day1.eph", (dir + "/" + link).c_str()), 0);
    kept.insert(link);
    if (geteuid() == 0) {
        const std::string theirs = ".day1.att." + dead + ".b2c3d4.trokproc-tmp";
        WriteFile(dir + "/" + theirs, "partial");
        ASSERT_EQ(chown((dir + "/" + theirs).c_str(), 65534, 65534), 0);
        kept.insert(theirs);
    }
    platform::RemoveStaleTemporaries(dir, {"day1.eph", "day1.att"});
    for (const std::string& f : stale) EXPECT_NE(access((dir + "/" + f).c_str(), F_OK), 0) << f << " stays";
    struct stat st;
    for (const std::string& f : kept) EXPECT_EQ(lstat((dir + "/" + f).c_str(), &st), 0) << f << " went";
}

} // namespace
