// trokcampaign watch on the real inotify, a real child process: dumps
// delivered one after the other each make a version; SIGKILL after half of
// them and a restart loses none and takes none twice, and the day ends as
// the clean day's campaign; SIGTERM ends it with status 0 and nothing said.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "campaign_dumps.h"
#include "campaign_runs.h"
#include "run_program.h"

namespace {

// A watch started in the background, ended by its pid whatever the outcome.
class Watch
{
public:
    Watch(const DumpedDay& d, const std::string& inbox, const std::string& c, const std::string& err)
    {
        pid = StartInBackground({TROKCAMPAIGN_PATH, "watch", "--inbox", inbox, "--elements", d.history, "--out", c},
                                {}, err);
    }
    ~Watch()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            Reap(pid);
        }
    }
    // Sends `signal` and waits: the exit status (128 + signal for one that killed it).
    int End(int signal)
    {
        kill(pid, signal);
        const int status = Reap(pid);
        pid = -1;
        return status;
    }

private:
    pid_t pid = -1;
};

std::string VersionCount(const std::string& c) { return Sql(c, "SELECT count(*) FROM versions"); }

} // namespace

TEST(CampaignWatch, AKilledWatchRestartedLosesNoDumpAndEndsAsTheCleanDay)
{
    const std::string dir = FreshTestDir();
    const DumpedDay d = MakeDumpedDay(dir);
    const std::string inbox = dir + "/inbox", c = dir + "/c";
    ASSERT_EQ(mkdir(inbox.c_str(), 0755), 0);
    const size_t half = d.arrival.size() / 2;
    {
        Watch watch(d, inbox, c, dir + "/first.err");
        for (size_t i = 0; i < half; ++i) {
            Deliver(d.dumps, inbox, d.arrival[i]);
            ASSERT_TRUE(WaitFor([&] { return VersionCount(c) == std::to_string(i + 1) + "\n"; }, 30))
                << d.arrival[i] << ": " << VersionCount(c) << ReadFile(dir + "/first.err");
        }
        // Two more arrive, and the watch dies while it works on them.
        Deliver(d.dumps, inbox, d.arrival[half]);
        Deliver(d.dumps, inbox, d.arrival[half + 1]);
        EXPECT_EQ(watch.End(SIGKILL), 128 + SIGKILL);
    }
    // What arrived while it was down is taken at the restart.
    for (size_t i = half + 2; i < d.arrival.size(); ++i) Deliver(d.dumps, inbox, d.arrival[i]);
    {
        Watch watch(d, inbox, c, dir + "/second.err");
        ASSERT_TRUE(WaitFor([&] { return Sql(c, "SELECT count(*) FROM dumps") == "13\n" &&
                                         Sql(c, "SELECT sum(deliveries) FROM dumps") == "14\n"; },
                            60))
            << Sql(c, "SELECT name, deliveries FROM dumps") << ReadFile(dir + "/second.err");
        EXPECT_EQ(watch.End(SIGTERM), 0);
    }
    EXPECT_EQ(ReadFile(dir + "/second.err"), "") << "quiet on success";
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM dumps WHERE outcome = 'taken'"), "13\n");
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM inbox"), "14\n");
    EXPECT_EQ(Sql(c, "SELECT dumps FROM versions ORDER BY version DESC LIMIT 1"), "13\n");
    const ProgramResult closed = RunProgram({TROKCAMPAIGN_PATH, "close", c, d.day});
    ASSERT_EQ(closed.status, 0) << closed.err;
    EXPECT_TRUE(Products(c, d.day) == Products(d.clean, d.day)) << "the final products are the clean day's";
    EXPECT_TRUE(Temporaries(c).empty());
    EXPECT_TRUE(Temporaries(c + "/dumps").empty());
}
