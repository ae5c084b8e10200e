// Signal handlers held for a while, and put back as they were.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

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

} // namespace
