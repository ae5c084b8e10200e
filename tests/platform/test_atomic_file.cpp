// The one way to create an output file: temporary names, modes, refusals,
// descriptors written in place, and commits of several files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "run_program.h"
#include "platform/atomic_file.h"
#include "platform/atomic_stream.h"

namespace {

unsigned Mode(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
}

TEST(AtomicFile, TemporaryNamesFitTheFolderAndCommitRenamesThem)
{
    const std::string dir = FreshTestDir();
    const std::string tail = "." + std::to_string(getpid()) + ".";
    for (size_t length : {3u, 200u, 240u, 255u}) {
        SCOPED_TRACE(length);
        const std::string base(length, 'n');
        platform::AtomicStream out(dir + "/" + base);
        ASSERT_TRUE(out.good()) << out.Error();
        const std::string temp = out.File().TempName();
        // ".<base, cut where needed>.<pid>.<6 letters or digits>.trokproc-tmp"
        EXPECT_LE(temp.size(), 255u);
        EXPECT_EQ(temp.substr(0, 4), ".nnn");
        const size_t at = temp.rfind(tail);
        ASSERT_NE(at, std::string::npos) << temp;
        const std::string random = temp.substr(at + tail.size(), 6);
        EXPECT_EQ(random.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
                  std::string::npos);
        EXPECT_EQ(temp.substr(at + tail.size() + 6), ".trokproc-tmp");
        EXPECT_EQ(temp.size() == 255u, length > 200);
        out << "bytes of " << length;
        ASSERT_TRUE(out.Commit()) << out.Error();
        EXPECT_EQ(ReadFile(dir + "/" + base), "bytes of " + std::to_string(length));
    }
    EXPECT_TRUE(Temporaries(dir).empty());
}

TEST(AtomicFile, ModeComesFromTheUmaskOrTheEarlierFile)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/earlier", "x");
    chmod((dir + "/earlier").c_str(), 0604);
    const mode_t saved = umask(027);
    for (const char* name : {"new", "earlier"}) {
        platform::AtomicStream out(dir + "/" + name);
        out << "y";
        EXPECT_TRUE(out.Commit()) << out.Error();
    }
    umask(saved);
    EXPECT_EQ(Mode(dir + "/new"), 0640u);
    EXPECT_EQ(Mode(dir + "/earlier"), 0604u);
}

TEST(AtomicFile, RefusalsAndOpenFailuresSayWhy)
{
    const std::string dir = FreshTestDir();
    struct Case {
        std::string name, error;
        bool refused;
    };
    const std::vector<Case> cases = {{"", "no file name given", true},
                                     {" \t ", "no file name given", true},
                                     {dir, "Is a directory", false},
                                     {dir + "/", "Is a directory", false},
                                     {dir + "/none/x", "No such file or directory", false}};
    for (const Case& c : cases) {
        platform::AtomicFile f;
        EXPECT_FALSE(f.Open(c.name)) << c.name;
        EXPECT_EQ(f.Error(), c.error) << c.name;
        EXPECT_EQ(f.Refused(), c.refused) << c.name;
        EXPECT_EQ(f.Fd(), -1);
    }
    platform::AtomicStream s(dir + "/none/x");
    EXPECT_TRUE(s.fail());
    EXPECT_FALSE(s.Commit());
    EXPECT_EQ(s.Error(), "No such file or directory");
}

// /dev/fd/N (as /dev/stdout) reaches the descriptor's file or pipe itself.
TEST(AtomicFile, OwnDescriptorsAreWrittenInPlace)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/target", "longer earlier content");
    const int file = open((dir + "/target").c_str(), O_RDONLY);
    int pipeEnds[2];
    ASSERT_TRUE(file >= 0 && pipe(pipeEnds) == 0);
    for (int fd : {file, pipeEnds[1]}) {
        platform::AtomicStream out("/dev/fd/" + std::to_string(fd));
        ASSERT_TRUE(out.good()) << out.Error();
        EXPECT_TRUE(out.File().Direct());
        out << "in place";
        EXPECT_TRUE(out.Commit()) << out.Error();
    }
    char got[16] = {};
    EXPECT_EQ(read(pipeEnds[0], got, sizeof got), 8);
    EXPECT_EQ(std::string(got), "in place");
    EXPECT_EQ(ReadFile(dir + "/target"), "in place");
    EXPECT_TRUE(Temporaries(dir).empty());
    close(file);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(AtomicFile, CommitTogetherCommitsAllOrNone)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/one", "earlier one");
    size_t failed = 99;
    {
        platform::AtomicStream one(dir + "/one"), full("/dev/full");
        one << "new one";
        full << "lost";
        EXPECT_FALSE(platform::CommitStreamsTogether({&one, &full}, failed));
        EXPECT_EQ(failed, 1u);
        EXPECT_EQ(full.Error(), "write: No space left on device");
    }
    EXPECT_EQ(ReadFile(dir + "/one"), "earlier one");
    platform::AtomicStream one(dir + "/one"), two(dir + "/two");
    one << "new one";
    two << "new two";
    EXPECT_TRUE(platform::CommitStreamsTogether({&one, &two}, failed));
    EXPECT_EQ(ReadFile(dir + "/one") + ReadFile(dir + "/two"), "new onenew two");
    EXPECT_TRUE(Temporaries(dir).empty());
}

} // namespace
