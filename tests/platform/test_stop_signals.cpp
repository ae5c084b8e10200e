// Signal handlers held for a while, and put back as they were; outputs
// that went away.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "platform/child_process.h"
#include "platform/closed_output.h"
#include "platform/stop_signals.h"

namespace {

void (*HandlerOf(int sig))(int)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa.sa_handler;
}

extern "C" void Before(int) {}
extern "C" void During(int) {}

TEST(StopSignals, HandlersPutBackWhatTheyReplaced)
{
    signal(SIGUSR1, Before);
    signal(SIGUSR2, SIG_IGN);
    {
        const platform::SignalHandlers held(During, {SIGUSR1, SIGUSR2});
        EXPECT_EQ(HandlerOf(SIGUSR1), During);
        EXPECT_EQ(HandlerOf(SIGUSR2), During);
    }
    EXPECT_EQ(HandlerOf(SIGUSR1), Before);
    EXPECT_EQ(HandlerOf(SIGUSR2), SIG_IGN);
    signal(SIGUSR1, SIG_DFL);
    signal(SIGUSR2, SIG_DFL);
}

TEST(StopSignals, StopsAreNotedAndCutADozeShortUntilTheObjectGoes)
{
    void (*const term)(int) = HandlerOf(SIGTERM);
    void (*const chld)(int) = HandlerOf(SIGCHLD);
    {
        const platform::StopSignals stops(true);
        ASSERT_TRUE(stops.Ready());
        EXPECT_EQ(platform::StopSignals::Noted(), 0);
        raise(SIGCHLD);   // wakes, but is no stop
        EXPECT_EQ(platform::StopSignals::Noted(), 0);
        raise(SIGTERM);
        EXPECT_EQ(platform::StopSignals::Noted(), SIGTERM);
        EXPECT_GT(platform::StopSignals::NotedAt(), 0);
        const auto start = std::chrono::steady_clock::now();
        platform::StopSignals::Doze(5000);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    EXPECT_EQ(HandlerOf(SIGTERM), term);
    EXPECT_EQ(HandlerOf(SIGCHLD), chld);
}

// A pipe nobody reads and a terminal hung up: writes fail instead of
// ending the process, and the program can tell before it writes.
TEST(ClosedOutput, WritesFailAndTheProgramCanTell)
{
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    for (int fd : {ends[1], terminal, null}) EXPECT_FALSE(platform::OutputGone(fd)) << fd;
    close(ends[0]);
    close(master);
    EXPECT_TRUE(platform::OutputGone(ends[1]));
    EXPECT_TRUE(platform::OutputGone(terminal));
    EXPECT_FALSE(platform::OutputGone(null));
    signal(SIGPIPE, Before);
    {
        const platform::ClosedOutputGuard guard;
        EXPECT_EQ(HandlerOf(SIGPIPE), SIG_IGN);
        EXPECT_EQ(write(ends[1], "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
        EXPECT_EQ(write(terminal, "x", 1), -1);
        EXPECT_EQ(errno, EIO);
        // Children start with SIGPIPE at its default action all the same.
        for (int death : {0, SIGTERM}) {
            platform::ChildSpec launch;
            launch.argv = {"/bin/sh", "-c", "kill -PIPE $$"};
            launch.parentDeathSignal = death;
            EXPECT_EQ(platform::RunChild(launch).signal, SIGPIPE) << death;
        }
    }
    EXPECT_EQ(HandlerOf(SIGPIPE), Before);
    signal(SIGPIPE, SIG_DFL);
    for (int fd : {ends[1], terminal, null}) close(fd);
    EXPECT_TRUE(platform::OutputGone(null));   // closed
}

} // namespace
