// Child processes: what they get, how they end under a time limit, and
// where programs are looked up.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/child_process.h"
#include "platform/program_lookup.h"
#include "run_program.h"

namespace {

platform::ChildSpec Shell(const std::string& script)
{
    platform::ChildSpec launch;
    launch.argv = {"/bin/sh", "-c", script};
    return launch;
}

// What a child gets, with parent-death signal `death` (0: none).
void CheckWhatAChildGets(int death)
{
    const std::string dir = FreshTestDir();
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    platform::ChildSpec launch =
        Shell("echo \"$TROK_TEST_A $TROK_TEST_B\"; pwd; echo kept >&" + std::to_string(ends[1]) +
              "; read line || echo no input; exit 3");
    launch.parentDeathSignal = death;
    setenv("TROK_TEST_A", "ours", 1);
    setenv("TROK_TEST_B", "replaced", 1);
    launch.env = {{"TROK_TEST_B", "set"}};
    launch.folder = dir;
    launch.keep = {ends[1]};
    std::string out;
    platform::ChildEnd end = platform::RunChild(launch, &out);
    close(ends[1]);
    char kept[16] = {};
    EXPECT_EQ(read(ends[0], kept, sizeof kept), 5);
    close(ends[0]);
    EXPECT_EQ(std::string(kept), "kept\n");
    EXPECT_TRUE(end.started);
    EXPECT_EQ(end.status, 3);
    EXPECT_EQ(out, "ours set\n" + dir + "\nno input\n");
    // Standard error collected too, when asked.
    platform::ChildSpec both = Shell("echo out; echo oops >&2");
    both.parentDeathSignal = death;
    end = platform::RunChild(both, &out, true);
    EXPECT_EQ(out, "out\noops\n");
    unsetenv("TROK_TEST_A");
    unsetenv("TROK_TEST_B");

    launch.argv[0] = dir + "/missing";
    end = platform::RunChild(launch, &out);
    EXPECT_FALSE(end.started);
    EXPECT_EQ(end.error, ENOENT);
    EXPECT_EQ(end.status, 127);
}

// Alike whether it is spawned or, for a parent-death signal, forked.
TEST(ChildProcess, GetsItsEnvironmentFolderAndKeptDescriptors)
{
    for (int death : {0, SIGTERM}) {
        SCOPED_TRACE(death);
        CheckWhatAChildGets(death);
    }
}

// A driver killed with SIGKILL: its child gets the parent-death signal.
// This process stands in for init, so that it can reap the orphan and see
// what ended it.
TEST(ChildProcess, DiesWithItsParent)
{
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int told[2];
    ASSERT_EQ(pipe(told), 0);
    const pid_t driver = fork();
    if (driver == 0) {
        platform::ChildSpec launch = Shell("exec sleep 30");
        launch.parentDeathSignal = SIGTERM;
        platform::Child child;
        const pid_t pid = child.Start(launch) ? child.Pid() : -1;
        (void)!write(told[1], &pid, sizeof pid);
        pause();
        _exit(0);
    }
    pid_t task = -1;
    ASSERT_EQ(read(told[0], &task, sizeof task), static_cast<ssize_t>(sizeof task));
    close(told[0]);
    close(told[1]);
    ASSERT_GT(task, 0);
    kill(driver, SIGKILL);
    waitpid(driver, nullptr, 0);
    int status = 0;
    pid_t done = 0;
    for (int k = 0; k < 500 && done == 0; ++k) {
        done = waitpid(task, &status, WNOHANG);
        if (done == 0) usleep(10000);
    }
    if (done == 0) {
        kill(task, SIGKILL);
        waitpid(task, nullptr, 0);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(done, task) << "the task outlived its driver";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

// SIGTERM at the limit; SIGKILL after the grace period to one that ignores
// it (exec: the shell becomes the sleep, so no process is left behind).
TEST(ChildProcess, TimeLimitSendsTermThenKill)
{
    struct Case {
        std::string script;
        int signal;
    };
    for (const Case& c : {Case{"exec sleep 30", SIGTERM}, Case{"trap '' TERM; exec sleep 30", SIGKILL}}) {
        SCOPED_TRACE(c.script);
        platform::ChildSpec launch = Shell(c.script);
        launch.limit = 0.3;
        const platform::ChildEnd end = platform::RunChild(launch);
        EXPECT_TRUE(end.timedOut);
        EXPECT_EQ(end.signal, c.signal);
        EXPECT_EQ(end.ShellStatus(), 128 + c.signal);
        EXPECT_GE(end.seconds, 0.3);
        if (c.signal == SIGKILL) {
            EXPECT_GE(end.seconds, 0.3 + platform::kGraceSeconds);
        }
        EXPECT_LT(end.seconds, 0.3 + platform::kGraceSeconds + 2);
    }
    // Terminate() starts the same sequence at once; Poll does not block.
    int ready[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    platform::ChildSpec launch = Shell("trap '' TERM; echo >&" + std::to_string(ready[1]) + "; exec sleep 30");
    launch.keep = {ready[1]};
    platform::Child child;
    ASSERT_TRUE(child.Start(launch));
    close(ready[1]);
    char c;
    EXPECT_EQ(read(ready[0], &c, 1), 1);   // its TERM is ignored from here on
    close(ready[0]);
    EXPECT_FALSE(child.Poll());
    child.Terminate();
    child.Wait();
    EXPECT_EQ(child.End().signal, SIGKILL);
    EXPECT_FALSE(child.End().timedOut);
    EXPECT_EQ(kill(child.Pid(), 0), -1);
}

// A program for the lookup tests: `dir/name`, executable or not.
void Program(const std::string& dir, const std::string& name, mode_t mode = 0755)
{
    mkdir(dir.c_str(), 0755);
    WriteFile(dir + "/" + name, "#!/bin/sh\n");
    chmod((dir + "/" + name).c_str(), mode);
}

TEST(ProgramLookup, VariableThenBesideThisProgramThenPath)
{
    const std::string dir = FreshTestDir();
    const std::string savedPath = getenv("PATH");
    Program(dir + "/a", "tool", 0644);   // not executable: passed over
    mkdir((dir + "/a/trokproc").c_str(), 0755);   // a folder: passed over
    Program(dir + "/b", "tool");
    Program(dir + "/b", "trokproc");
    Program(dir + "/c", "tool");
    setenv("PATH", (dir + "/a:" + dir + "/b:" + dir + "/c").c_str(), 1);
    unsetenv("TROK_TEST_TOOL");
    EXPECT_EQ(platform::FindOnPath("tool"), dir + "/b/tool");
    EXPECT_EQ(platform::FindOnPath("trokproc"), dir + "/b/trokproc");
    EXPECT_EQ(platform::FindOnPath("none"), "");
    // The project's own: beside this program before PATH, the variable
    // before both (an empty one does not count).
    EXPECT_EQ(platform::FindOwnProgram("trokproc", "TROK_TEST_TOOL"), TROKPROC_PATH);
    EXPECT_EQ(platform::FindOwnProgram("tool", "TROK_TEST_TOOL"), dir + "/b/tool");
    setenv("TROK_TEST_TOOL", "", 1);
    EXPECT_EQ(platform::FindOwnProgram("tool", "TROK_TEST_TOOL"), dir + "/b/tool");
    setenv("TROK_TEST_TOOL", "/some/other/copy", 1);
    EXPECT_EQ(platform::FindOwnProgram("trokproc", "TROK_TEST_TOOL"), "/some/other/copy");
    // An empty entry is the working folder, named absolutely.
    const std::string here = dir + "/c";
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd) && chdir(here.c_str()) == 0);
    setenv("PATH", (dir + "/a:").c_str(), 1);
    EXPECT_EQ(platform::FindOnPath("tool"), here + "/tool");
    ASSERT_EQ(chdir(cwd), 0);
    unsetenv("TROK_TEST_TOOL");
    setenv("PATH", savedPath.c_str(), 1);
}

} // namespace
