// The clean-up policy a program's main installs, and that opening a file
// installs none of it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/atomic_stream.h"
#include "platform/exit_cleanup.h"
#include "run_program.h"

namespace {

const int kPolicySignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGXFSZ, SIGABRT};

// The handlers now in place for the policy's signals.
std::vector<void (*)(int)> Handlers()
{
    std::vector<void (*)(int)> now;
    for (int sig : kPolicySignals) {
        struct sigaction sa;
        sigaction(sig, nullptr, &sa);
        now.push_back(sa.sa_handler);
    }
    return now;
}

TEST(ExitCleanup, OpeningAFileInstallsNoHandler)
{
    const std::string dir = FreshTestDir();
    const std::vector<void (*)(int)> before = Handlers();
    platform::AtomicStream out(dir + "/file");
    ASSERT_TRUE(out.good()) << out.Error();
    EXPECT_EQ(Handlers(), before);
    out << "x";
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(Handlers(), before);
}

// In a child: the policy installed (SIGHUP ignored first), a file opened,
// then `end` run. The child's wait status.
int ChildWithTemporary(const std::string& path, void (*end)())
{
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGHUP, SIG_IGN);
        platform::InstallExitCleanup();
        struct sigaction hup;
        sigaction(SIGHUP, nullptr, &hup);
        if (hup.sa_handler != SIG_IGN) _exit(3);   // an ignored signal stays ignored
        platform::AtomicStream out(path);
        if (!out.good()) _exit(4);
        out << "never committed";
        out.flush();
        end();
        _exit(5);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(ExitCleanup, TemporariesGoAtExitAndOnSignalsThatThenEndTheProcess)
{
    const std::string dir = FreshTestDir();
    int status = ChildWithTemporary(dir + "/exit", [] { std::exit(0); });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (int sig : {SIGTERM, SIGPIPE, SIGABRT}) {
        static int raised;
        raised = sig;
        status = ChildWithTemporary(dir + "/signal", [] { raise(raised); });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << ": " << status;
    }
    EXPECT_TRUE(Temporaries(dir).empty());
}

} // namespace
