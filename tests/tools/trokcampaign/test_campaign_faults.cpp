// trokcampaign under faults: a redo stopped or given another verdict, an
// emptied catalog and a killed task, a closed output and a killed driver,
// a full file system, same-epoch element sets and packet files that are
// no files, a catalog of a newer layout or held by another program.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "campaign_archive.h"
#include "campaign_runs.h"
#include "headless_chromium.h"
#include "orbitlib_class_noradelements.h"
#include "platform/folder.h"
#include "platform/lock_file.h"
#include "run_program.h"

using campaign::DayRecord;

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// trokcampaign run on the listed packet files, into `out`.
std::vector<std::string> RunCommand(const std::string& list, const std::string& history, const std::string& out,
                                    const std::vector<std::string>& more = {})
{
    std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run", "--list", list, "--elements", history, "--out", out};
    cmd.insert(cmd.end(), more.begin(), more.end());
    return cmd;
}

// trokproc held while it writes the products of `packet` (the others run).
std::vector<std::pair<std::string, std::string>> Holding(const std::string& packet)
{
    return {{"TROKPROC", TROK_SOURCE_DIR "/tests/slurm/hold-one-trokproc"},
            {"TROKPROC_REAL", TROKPROC_PATH},
            {"TROK_HOLD_PACKET", packet}};
}

// A campaign of the archive's day `index` alone, run once: dir/list names
// its packet file, dir/c is the campaign.
struct OneDay {
    std::string dir, c, day, list;
};
OneDay OneDayCampaign(int index)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir();
    const OneDay o{dir, dir + "/c", a.days[index], dir + "/list"};
    WriteFile(o.list, a.packetFiles[index] + "\n");
    const ProgramResult r = RunProgram(RunCommand(o.list, a.history, o.c));
    EXPECT_EQ(r.status, 0) << r.err;
    return o;
}

// A day's trokproc has begun its products in the day's work folder.
bool Writing(const std::string& campaignDir, const std::string& day)
{
    return !Temporaries(campaignDir + "/run/work/" + day).empty();
}

TEST(CampaignFaults, AStoppedRedoOrANewVerdictKeepsTheEarlierProducts)
{
    const CampaignArchive& a = TestArchive();
    const OneDay one = OneDayCampaign(1);
    const std::string &dir = one.dir, &c = one.c, &day = one.day;
    const std::string before = TreeDigest(c + "/days/" + day);
    const DayRecord row = CatalogDays(c).at(day);

    // Stopped while its trokproc writes: the day's files and row stay.
    const pid_t pid = StartInBackground(RunCommand(dir + "/list", a.history, c, {"--redo", day}),
                                        Holding(a.packetFiles[1]), dir + "/redo.err");
    ASSERT_TRUE(WaitFor([&] { return Writing(c, day); }, 60)) << ReadFile(dir + "/redo.err");
    kill(pid, SIGTERM);
    EXPECT_EQ(Reap(pid), 128 + SIGTERM);
    EXPECT_EQ(TreeDigest(c + "/days/" + day), before);
    const DayRecord kept = CatalogDays(c).at(day);
    EXPECT_EQ(kept.run_id, row.run_id);
    EXPECT_EQ(kept.eph_sha256, row.eph_sha256);
    EXPECT_NE(ReadFile(dir + "/redo.err").find(day + ": not done again; its earlier products and row (ok, run 1) stay"),
              std::string::npos)
        << ReadFile(dir + "/redo.err");

    // Its set now too old: no-elements, the earlier files kept in the run's
    // record until the next run.
    ProgramResult r = RunProgram(RunCommand(dir + "/list", a.history, c, {"--max-element-age", "0.1"}));
    EXPECT_EQ(r.status, 1);
    const std::string replaced = c + "/run/replaced/" + day;
    EXPECT_NE(r.err.find(day + ": now no-elements (was ok); its earlier files are kept in " + replaced +
                         " until the next run"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(TreeDigest(replaced), before);
    EXPECT_FALSE(Exists(c + "/days/" + day + "/" + day + ".eph"));
    EXPECT_EQ(CatalogDays(c).at(day).OutcomeText(), "no-elements");
    r = RunProgram(RunCommand(dir + "/list", a.history, c, {"--max-element-age", "0.1"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(Exists(replaced));
}

TEST(CampaignFaults, AnEmptiedCatalogOrAKilledTaskNeverGivesOk)
{
    const CampaignArchive& a = TestArchive();
    const OneDay one = OneDayCampaign(2);
    const std::string &dir = one.dir, &c = one.c, &day = one.day;
    const std::string before = TreeDigest(c + "/days");

    // Emptied: no new campaign.
    WriteFile(c + "/catalog.sqlite", "");
    for (const std::vector<std::string>& cmd :
         {RunCommand(dir + "/list", a.history, c), std::vector<std::string>{TROKCAMPAIGN_PATH, "status", c}}) {
        const ProgramResult r = RunProgram(cmd);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "trokcampaign: " + c + "/catalog.sqlite is empty: not a campaign's catalog (an emptied "
                         "catalog is no new campaign; remove it to begin the campaign anew)\n");
    }
    EXPECT_EQ(TreeDigest(c + "/days"), before);

    // Removed: a new catalog, its runs numbered from 1 again; the task of
    // run 1 is killed, and the earlier run 1's result is no result of it.
    ASSERT_EQ(unlink((c + "/catalog.sqlite").c_str()), 0);
    const ProgramResult r = RunProgram({"/usr/bin/env", "TROKPROC=" + TaskKillingTrokproc(dir), TROKCAMPAIGN_PATH,
                                        "run", "--list", dir + "/list", "--elements", a.history, "--out", c});
    EXPECT_EQ(r.status, 1) << r.err;
    const DayRecord row = CatalogDays(c).at(day);
    EXPECT_EQ(row.OutcomeText(), "stopped");
    EXPECT_EQ(row.run_id.value_or(0), 1);
    EXPECT_EQ(row.reason.value_or(""), "the task ended with status 137 before the day's result");
    EXPECT_EQ(TreeDigest(c + "/days"), before);
}

TEST(CampaignFaults, AClosedOutputOrAKilledDriverLosesNoFinishedDay)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir(), c = dir + "/c";
    WriteFile(dir + "/list", a.packetFiles[12] + "\n" + a.packetFiles[13] + "\n" + a.packetFiles[14] + "\n");
    const std::vector<std::string> cmd = RunCommand(dir + "/list", a.history, c, {"-j", "1"});

    // Its messages into a pipe nobody reads: the run goes on to its end.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        std::vector<char*> args;
        for (const std::string& s : cmd) args.push_back(const_cast<char*>(s.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    EXPECT_EQ(Reap(pid), 0);
    for (const auto& kv : CatalogDays(c)) EXPECT_EQ(kv.second.OutcomeText(), "ok") << kv.first;

    // SIGKILL of the driver while the second day's task runs: the tasks end
    // with it, the next command takes in the first day, the run after that
    // does the rest.
    const std::vector<std::string> redo = RunCommand(dir + "/list", a.history, c,
                                                     {"-j", "1", "--redo", a.days[12] + "," + a.days[13] + "," + a.days[14]});
    const pid_t driver = StartInBackground(redo, Holding(a.packetFiles[13]), dir + "/killed.err");
    ASSERT_TRUE(WaitFor([&] { return Writing(c, a.days[13]); }, 60)) << ReadFile(dir + "/killed.err");
    kill(driver, SIGKILL);
    EXPECT_EQ(Reap(driver), 128 + SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return ProcessesNaming(c).empty(); }, 30)) << "a task outlived its driver";
    const ProgramResult status = RunProgram({TROKCAMPAIGN_PATH, "status", c});
    EXPECT_EQ(status.status, 0) << status.err;
    std::map<std::string, DayRecord> days = CatalogDays(c);
    EXPECT_EQ(days.at(a.days[12]).run_id.value_or(0), 2) << "the killed run's finished day";
    EXPECT_EQ(days.at(a.days[13]).run_id.value_or(0), 1) << "the day its task left unfinished keeps its row";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((c + "/catalog.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT status FROM runs WHERE run_id = 2", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))), "interrupted");
    sqlite3_finalize(st);
    sqlite3_close(db);
    const ProgramResult again = RunProgram(redo);
    EXPECT_EQ(again.status, 0) << again.err;
    days = CatalogDays(c);
    for (int i : {12, 13, 14}) EXPECT_EQ(days.at(a.days[i]).run_id.value_or(0), 3) << a.days[i];

    // A task of an earlier run (here: this test) still holding a day: no run
    // starts beside it.
    platform::Folder work;
    platform::LockFile held;
    std::string error;
    ASSERT_TRUE(work.OpenPrivate(c + "/run/work", error, true)) << error;
    ASSERT_EQ(held.TryTake(work, a.days[13] + ".lock"), platform::LockFile::Result::Taken);
    const ProgramResult refused = RunProgram(redo);
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(refused.err, "trokcampaign: " + c + ": a task of an earlier run still works on " + a.days[13] +
                               " (process " + std::to_string(getpid()) + "): run again once it has ended (or end it)\n");
    EXPECT_EQ(CatalogDays(c).at(a.days[13]).run_id.value_or(0), 3);
}

// A tmpfs as the campaign's file system: too small for a day's products,
// then large enough.
TEST(CampaignFaults, AFullFileSystemThenSpaceAgainRunsTheDayAgain)
{
    const std::string dir = FreshTestDir(), c = dir + "/c";
    const ProgramResult g = RunProgram({TROKGEN_PATH, "--out", dir + "/2026-06-01.pkt", "--tle", dir + "/h.tle",
                                        "--seconds", "7200", "--start", "2026-06-01"});
    ASSERT_EQ(g.status, 0) << g.err;
    WriteFile(dir + "/list", dir + "/2026-06-01.pkt\n");
    ASSERT_EQ(mkdir(c.c_str(), 0755), 0);
    if (mount("tmpfs", c.c_str(), "tmpfs", 0, "size=300k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    ProgramResult r = RunProgram(RunCommand(dir + "/list", dir + "/h.tle", c));
    EXPECT_EQ(r.status, 1) << r.err;
    DayRecord row = CatalogDays(c).at("2026-06-01");
    EXPECT_EQ(row.OutcomeText(), "no-space");
    EXPECT_NE(row.reason.value_or("").find("trokproc could not write the products (a full file system?)"),
              std::string::npos)
        << row.reason.value_or("");
    ASSERT_EQ(mount("tmpfs", c.c_str(), "tmpfs", MS_REMOUNT, "size=8m,mode=0755"), 0);
    r = RunProgram(RunCommand(dir + "/list", dir + "/h.tle", c));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CatalogDays(c).at("2026-06-01").OutcomeText(), "ok");
    umount(c.c_str());
}

// The history's set of a day with a second set of the same epoch after it
// (another element set number): the day takes the second, and so does
// every rerun. Beside it, a FIFO and a folder named as days and a name that
// is no day of the calendar.
TEST(CampaignFaults, SameEpochSetsAndPacketFilesThatAreNoFilesMakeRerunsDoNothing)
{
    const std::string dir = FreshTestDir(), c = dir + "/c", arc = dir + "/arc/2026/06";
    ASSERT_TRUE(RunProgram({"/bin/mkdir", "-p", arc, dir + "/arc/2026/02", arc + "/03.pkt"}).status == 0);
    const ProgramResult g = RunProgram({TROKGEN_PATH, "--out", arc + "/01.pkt", "--tle", dir + "/set.tle",
                                        "--seconds", "600", "--start", "2026-06-01"});
    ASSERT_EQ(g.status, 0) << g.err;
    ASSERT_EQ(mkfifo((arc + "/02.pkt").c_str(), 0644), 0);
    WriteFile(dir + "/arc/2026/02/30.pkt", "");
    std::string set = ReadFile(dir + "/set.tle");
    const size_t line1 = set.find("\n1 ") + 1;
    std::string other = set.substr(line1, 69);
    other.replace(64, 4, "0777");
    other[68] = CheckSum(other.c_str());
    set += "VORN\n" + other + "\n" + set.substr(line1 + 70);
    WriteFile(dir + "/history.tle", set);
    const std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run", "--archive", dir + "/arc", "--elements",
                                          dir + "/history.tle", "--out", c};
    const std::string calendar = "trokcampaign: warning: " + dir +
                                 "/arc/2026/02/30.pkt: 2026-02-30 is no day of the calendar (from 1958 to 2099); "
                                 "left out\n";
    ProgramResult r = RunProgram({"/usr/bin/timeout", "60", cmd[0], cmd[1], cmd[2], cmd[3], cmd[4], cmd[5], cmd[6], cmd[7]});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind(calendar, 0), 0u) << r.err;
    std::map<std::string, DayRecord> days = CatalogDays(c);
    EXPECT_EQ(days.at("2026-06-01").element_number.value_or(0), 777);
    EXPECT_EQ(days.at("2026-06-02").reason.value_or(""), "the packet file " + arc + "/02.pkt: a FIFO, not a regular file");
    EXPECT_EQ(days.at("2026-06-03").reason.value_or(""), "the packet file " + arc + "/03.pkt: a folder, not a regular file");
    // Temporaries of programs killed outright (by a process long gone) go
    // with the next run.
    const std::string stale = "/.plan.tsv.999999999.AbCdEf.trokproc-tmp", report = "/.report.html.999999999.trokproc-tmp";
    WriteFile(c + "/run" + stale, "");
    WriteFile(c + report, "");
    r = RunProgram(cmd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, calendar + "trokcampaign: 2 of 3 days are not ok (trokcampaign status " + c + ")\n");
    EXPECT_FALSE(Exists(c + "/run" + stale) || Exists(c + report));
    for (const auto& kv : CatalogDays(c)) EXPECT_EQ(kv.second.run_id, days.at(kv.first).run_id) << kv.first;
}

// A file system that cannot swap two folders: a day's earlier folder set
// aside in run/work/ and never followed by the new one is put back by the
// next run.
TEST(CampaignFaults, ADaySetAsideHalfwayIsPutBack)
{
    const CampaignArchive& a = TestArchive();
    const OneDay one = OneDayCampaign(4);
    const std::string &dir = one.dir, &c = one.c, &day = one.day;
    const std::string before = TreeDigest(c + "/days/" + day);
    ASSERT_EQ(rename((c + "/days/" + day).c_str(), (c + "/run/work/" + day + ".earlier").c_str()), 0);
    const ProgramResult r = RunProgram(RunCommand(dir + "/list", a.history, c));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "nothing to do";
    EXPECT_EQ(TreeDigest(c + "/days/" + day), before);
}

TEST(CampaignFaults, ACatalogOfANewerLayoutIsRefusedAndAHeldOneWaitedFor)
{
    const CampaignArchive& a = TestArchive();
    const OneDay one = OneDayCampaign(0);
    const std::string &dir = one.dir, &c = one.c;
    const std::vector<std::string> redo = RunCommand(one.list, a.history, c, {"--redo", one.day});
    const std::string before = TreeDigest(c + "/days");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((c + "/catalog.sqlite").c_str(), &db), SQLITE_OK);
    const struct {
        const char *change, *undo, *message;
    } newer[] = {
        {"PRAGMA user_version = 3", "PRAGMA user_version = 2",
         "/catalog.sqlite: made by a newer trokcampaign (catalog layout 3; trokcampaign 1.1.0 knows layouts up to 2)"},
        {"ALTER TABLE days ADD COLUMN shelf TEXT", "ALTER TABLE days DROP COLUMN shelf",
         "/catalog.sqlite: table days has a column this trokcampaign does not know (shelf)"},
    };
    for (const auto& n : newer) {
        ASSERT_EQ(sqlite3_exec(db, n.change, nullptr, nullptr, nullptr), SQLITE_OK);
        const ProgramResult r = RunProgram(redo);
        EXPECT_EQ(r.status, 255);
        EXPECT_NE(r.err.find(c + n.message), std::string::npos) << r.err;
        ASSERT_EQ(sqlite3_exec(db, n.undo, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    EXPECT_EQ(TreeDigest(c + "/days"), before) << "no day ran";

    // Held by another program for three seconds: the run waits, says so, and
    // records the day.
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const pid_t pid = StartInBackground(redo, {}, dir + "/held.err");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(Reap(pid), 0) << ReadFile(dir + "/held.err");
    EXPECT_NE(ReadFile(dir + "/held.err").find("another program holds the catalog (an sqlite3 session with an open "
                                               "transaction?); waiting for it"),
              std::string::npos);
    EXPECT_EQ(CatalogDays(c).at(a.days[0]).run_id.value_or(0), 2);
}

} // namespace
