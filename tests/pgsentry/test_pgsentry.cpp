#include <gtest/gtest.h>

#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string pgsentry = PGSENTRY_PATH;

ProgramResult Wrap(const std::vector<std::string>& command)
{
    std::vector<std::string> argv{pgsentry};
    argv.insert(argv.end(), command.begin(), command.end());
    return RunProgram(argv);
}

using Clock = std::chrono::steady_clock;

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

// True when `pid` no longer runs: no such process, or a zombie waiting to be
// reaped by whoever inherited it (reaped here if that is this process).
bool IsGone(pid_t pid)
{
    waitpid(pid, nullptr, WNOHANG);
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(statFile, line)) return true;
    size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// Polls `done` until it holds or `seconds` have passed.
template <class Check>
bool WaitUntil(Check done, double seconds)
{
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > end) return false;
        Pause();
    }
    return true;
}

// A wrapper started in the background, so that the test can signal it.
// Whatever happens in the test, the destructor kills the wrapper's group and
// reaps the wrapper, so no process outlives the test.
class BackgroundWrapper {
public:
    // Runs pgsentry with `command` in `dir`, output to dir/out and dir/err.
    // With `ownSession` the wrapper starts as a session leader.
    BackgroundWrapper(const std::vector<std::string>& command, const std::string& dir, bool ownSession)
    {
        std::vector<std::string> argv{pgsentry};
        argv.insert(argv.end(), command.begin(), command.end());
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::string out = dir + "/out", err = dir + "/err";
        pid_ = fork();
        if (pid_ == 0) {
            if (ownSession) setsid();
            int in = open("/dev/null", O_RDONLY);
            int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || o < 0 || e < 0 || chdir(dir.c_str()) != 0) _exit(127);
            dup2(in, 0);
            dup2(o, 1);
            dup2(e, 2);
            execv(args[0], args.data());
            _exit(127);
        }
    }

    ~BackgroundWrapper()
    {
        if (pid_ <= 0) return;
        // The group keeps the wrapper's id as long as any member lives.
        killpg(pid_, SIGKILL);
        if (!reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t Pid() const { return pid_; }

    // Waits up to `seconds` for the wrapper to end; true with its wait
    // status in `wstatus` when it did.
    bool WaitExit(double seconds, int& wstatus)
    {
        reaped_ = WaitUntil([&] { return waitpid(pid_, &wstatus, WNOHANG) == pid_; }, seconds);
        return reaped_;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// The command writes "<its own pid> <its background child's pid>" to pidfile
// (renamed into place, so the file is whole once it exists) and waits.
const std::vector<std::string> twoSleepers{
    "sh", "-c", "sleep 30 & echo $$ $! > pidfile.tmp && mv pidfile.tmp pidfile; wait"};

// Sends SIGTERM to a waiting wrapper and checks that it exits 15 and that the
// command and the command's own child are gone.
void CheckTermEndsGroup(bool ownSession, std::string& errText)
{
    std::string dir = FreshTestDir();
    BackgroundWrapper w(twoSleepers, dir, ownSession);
    ASSERT_GT(w.Pid(), 0);
    struct stat st;
    ASSERT_TRUE(WaitUntil([&] { return stat((dir + "/pidfile").c_str(), &st) == 0; }, 5.0))
        << "the command never started";
    pid_t command = 0, grandchild = 0;
    std::ifstream(dir + "/pidfile") >> command >> grandchild;
    ASSERT_GT(command, 0);
    ASSERT_GT(grandchild, 0);
    EXPECT_EQ(getpgid(command), w.Pid());
    EXPECT_EQ(getpgid(grandchild), w.Pid());

    ASSERT_EQ(kill(w.Pid(), SIGTERM), 0);
    int wstatus = 0;
    ASSERT_TRUE(w.WaitExit(3.0, wstatus)) << "the wrapper did not end";
    ASSERT_TRUE(WIFEXITED(wstatus)) << "the wrapper died of signal " << WTERMSIG(wstatus);
    EXPECT_EQ(WEXITSTATUS(wstatus), 15);
    EXPECT_TRUE(WaitUntil([&] { return IsGone(command); }, 3.0)) << "the command survived";
    EXPECT_TRUE(WaitUntil([&] { return IsGone(grandchild); }, 3.0)) << "the command's child survived";
    errText = ReadFile(dir + "/err");
}

} // namespace

TEST(Pgsentry, PassesOnExitCodes)
{
    EXPECT_EQ(Wrap({"true"}).status, 0);
    EXPECT_EQ(Wrap({"false"}).status, 1);
    EXPECT_EQ(Wrap({"sh", "-c", "exit 7"}).status, 7);
}

TEST(Pgsentry, CommandEndedBySignalIsAFailure)
{
    ProgramResult killed = Wrap({"sh", "-c", "kill -9 $$"});
    EXPECT_EQ(killed.signal, 0);
    EXPECT_EQ(killed.status, 137);
    // A SIGTERM the command gets on its own is not the wrapper's: 128 + 15.
    EXPECT_EQ(Wrap({"sh", "-c", "kill -TERM $$"}).status, 143);
}

TEST(Pgsentry, ArgumentsAndOutputPassUnchanged)
{
    // printf is found through PATH; an empty argument and one with a blank
    // survive as they are.
    ProgramResult r = Wrap({"printf", "%s|", "a b", "", "c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a b||c|");
    EXPECT_EQ(r.err, "");

    ProgramResult both = Wrap({"sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(both.status, 3);
    EXPECT_EQ(both.out, "out\n");
    EXPECT_EQ(both.err, "err\n");
}

TEST(Pgsentry, CommandThatCannotRunGives255Silently)
{
    for (const char* missing : {"pgsentry-no-such-command", "/nonexistent/dir/cmd"}) {
        ProgramResult r = Wrap({missing});
        EXPECT_EQ(r.status, 255) << missing;
        EXPECT_EQ(r.out, "") << missing;
        EXPECT_EQ(r.err, "") << missing;
    }
}

TEST(Pgsentry, NoCommandGivesUsage)
{
    ProgramResult r = RunProgram({pgsentry});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "usage: pgsentry command [argument ...]\n");
}

TEST(Pgsentry, TermEndsCommandAndItsChildren)
{
    std::string err;
    CheckTermEndsGroup(false, err);
    EXPECT_EQ(err, "");
}

TEST(Pgsentry, SessionLeaderReportsSetpgidFailureAndStillEndsItsGroup)
{
    // A session leader may not change its group, but it already leads one.
    std::string err;
    CheckTermEndsGroup(true, err);
    EXPECT_EQ(err.rfind("pgsentry setpgrp: ", 0), 0u) << err;
}
