// Files arriving in a watched folder (real inotify on a real folder), and
// a wait that ends on an arrival, a stop signal or its time.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/folder.h"
#include "platform/folder_watch.h"
#include "platform/stop_signals.h"
#include "run_program.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(FolderWatch, TellsFilesWrittenOrRenamedInAndAWaitEndsOnASignal)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(mkdir((dir + "/inbox").c_str(), 0755), 0);
    WriteFile(dir + "/before", "arrived while not watched");
    std::string error;
    platform::Folder inbox;
    ASSERT_TRUE(inbox.OpenToRead(dir + "/inbox", error)) << error;
    platform::FolderWatch watch;
    ASSERT_TRUE(watch.Open(inbox.Fd(), error)) << error;
    platform::FolderWatch::Arrivals got;
    ASSERT_TRUE(watch.Take(got, error));
    EXPECT_TRUE(got.names.empty());
    WriteFile(dir + "/inbox/written", "a dump");
    WriteFile(dir + "/inbox/written", "written twice");
    ASSERT_EQ(rename((dir + "/before").c_str(), (dir + "/inbox/renamed").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/inbox/folder").c_str(), 0755), 0);
    WriteFile(dir + "/inbox/folder/deeper", "not watched");
    close(open((dir + "/inbox/written").c_str(), O_RDONLY));   // read, not written
    EXPECT_TRUE(platform::StopSignals::Await(watch.Fd(), 1000));
    ASSERT_TRUE(watch.Take(got, error)) << error;
    EXPECT_EQ(got.names, (std::vector<std::string>{"written", "renamed"}));
    EXPECT_FALSE(got.rescan || got.gone);
    // Nothing more: the wait ends at its time, or at once on a stop signal.
    const platform::StopSignals stops;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(platform::StopSignals::Await(watch.Fd(), 200));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
    raise(SIGTERM);
    start = Clock::now();
    EXPECT_FALSE(platform::StopSignals::Await(watch.Fd(), 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(RunProgram({"/bin/rm", "-r", dir + "/inbox"}).status, 0);
    ASSERT_TRUE(watch.Take(got, error)) << error;
    EXPECT_TRUE(got.gone);
}

// More arrivals than the kernel queues: the caller is told to look again.
TEST(FolderWatch, AQueueOverflowAsksForARescan)
{
    const std::string dir = FreshTestDir();
    const int queued = std::stoi(ReadFile("/proc/sys/fs/inotify/max_queued_events"));
    if (queued > 200000) GTEST_SKIP() << "the kernel queues " << queued << " events";
    std::string error;
    platform::Folder folder;
    ASSERT_TRUE(folder.OpenToRead(dir, error)) << error;
    platform::FolderWatch watch;
    ASSERT_TRUE(watch.Open(folder.Fd(), error)) << error;
    WriteFile(dir + "/a", "");
    for (int k = 0; k <= queued; ++k)   // each rename in is one event
        ASSERT_EQ(rename((dir + (k % 2 ? "/b" : "/a")).c_str(), (dir + (k % 2 ? "/a" : "/b")).c_str()), 0);
    platform::FolderWatch::Arrivals got;
    ASSERT_TRUE(watch.Take(got, error)) << error;
    EXPECT_TRUE(got.rescan);
}

} // namespace
