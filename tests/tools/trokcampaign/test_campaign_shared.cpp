// trokcampaign on a machine shared with other users: root plays the owner,
// nobody the other user, and uid 4242 a third user whose files the other
// user aims at. Names planted in the campaign folder while it was open to
// others, a forged result and a forged journal, a folder above the campaign
// that the other user controls, and a catalog that is a link: each refused
// or harmless, and every file of the owner and of the third user as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "campaign_archive.h"
#include "campaign_runs.h"
#include "other_user.h"
#include "run_program.h"

using campaign::DayRecord;

namespace {

const uid_t kThirdUser = 4242;

class CampaignSharedMachine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!nobody.Available()) GTEST_SKIP() << "needs root and the user nobody to play another user";
        s = scratch.Path();
        third = s + "/third";
        ASSERT_EQ(mkdir(third.c_str(), 0755), 0);
        WriteFile(third + "/data", "the third user's bytes");
        ASSERT_EQ(chown((third + "/data").c_str(), kThirdUser, kThirdUser), 0);
        ASSERT_EQ(chown(third.c_str(), kThirdUser, kThirdUser), 0);
        thirdBefore = TreeDigest(third);
        WriteFile(s + "/list", TestArchive().packetFiles[1] + "\n");
        day = TestArchive().days[1];
    }
    void TearDown() override
    {
        if (!s.empty()) {
            EXPECT_EQ(TreeDigest(third), thirdBefore) << "the third user's files changed";
        }
    }

    std::vector<std::string> Run(const std::string& out, const std::vector<std::string>& more = {}) const
    {
        std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run",       "--list", s + "/list",
                                        "--elements",      TestArchive().history, "--out",  out};
        cmd.insert(cmd.end(), more.begin(), more.end());
        return cmd;
    }
    // A campaign of one day made by the owner.
    std::string Campaign(const std::string& name) const
    {
        const std::string c = s + "/" + name;
        EXPECT_EQ(RunProgram(Run(c)).status, 0);
        return c;
    }
    // `plant` done as nobody while `folder` is open to everyone (as it was
    // once, by mistake), then closed again.
    void PlantWhileOpen(const std::string& folder, const std::function<bool()>& plant, mode_t open = 01777) const
    {
        ASSERT_EQ(chmod(folder.c_str(), open), 0);
        EXPECT_TRUE(nobody.Does(plant));
        ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    }
    // `argv` ends with 255 and the message `message` (part of its one line).
    static void Refused(const std::vector<std::string>& argv, const std::string& message)
    {
        const ProgramResult r = RunProgram(argv);
        EXPECT_EQ(r.status, 255) << argv[1] << ": " << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }

    OtherUser nobody;
    const ReachableScratch scratch;
    std::string s, third, thirdBefore, day;
};

TEST_F(CampaignSharedMachine, NamesPlantedInTheCampaignFolderAreRefused)
{
    // A run/ of theirs with a plan, a catalog of theirs, a catalog that
    // leads to the third user's file: each in a folder that was once open.
    const struct {
        std::string name, planted;
        std::function<bool(const std::string&)> plant;
        std::string message;
    } plants[] = {
        {"run", "/run",
         [](const std::string& c) {
             WriteFile(c + "/plan.tsv", "their plan");
             return mkdir((c + "/run").c_str(), 0755) == 0 && rename((c + "/plan.tsv").c_str(),
                                                                     (c + "/run/plan.tsv").c_str()) == 0;
         },
         "/run belongs to another user (nobody)"},
        {"catalog", "/catalog.sqlite",
         [](const std::string& c) {
             WriteFile(c + "/catalog.sqlite", "their database");
             return true;
         },
         "/catalog.sqlite belongs to another user (nobody)"},
        {"link", "/catalog.sqlite",
         [&](const std::string& c) { return symlink((third + "/data").c_str(), (c + "/catalog.sqlite").c_str()) == 0; },
         "/catalog.sqlite: a link, not followed"},
    };
    for (const auto& p : plants) {
        const std::string c = s + "/" + p.name;
        ASSERT_EQ(mkdir(c.c_str(), 0755), 0);
        PlantWhileOpen(c, [&] { return p.plant(c); });
        const std::string before = TreeDigest(c + p.planted);
        Refused(Run(c), c + p.message);
        EXPECT_EQ(TreeDigest(c + p.planted), before) << p.name;
    }

    // A day's folder planted as a link to the third user's folder: the day
    // is made, but never put there.
    const std::string c = Campaign("c"), next = TestArchive().days[2];
    WriteFile(s + "/list", TestArchive().packetFiles[1] + "\n" + TestArchive().packetFiles[2] + "\n");
    PlantWhileOpen(c + "/days", [&] { return symlink(third.c_str(), (c + "/days/" + next).c_str()) == 0; });
    const std::string before = TreeDigest(c + "/days");
    const ProgramResult r = RunProgram(Run(c));
    EXPECT_EQ(r.status, 1) << r.err;
    const DayRecord row = CatalogDays(c).at(next);
    EXPECT_EQ(row.OutcomeText(), "stopped");
    EXPECT_EQ(row.reason.value_or(""),
              "cannot put the day's files in place: " + c + "/days/" + next + " is a link of another user (nobody)");
    EXPECT_EQ(TreeDigest(c + "/days"), before);
}

TEST_F(CampaignSharedMachine, AForgedResultOrJournalIsNeverTaken)
{
    const std::string c = Campaign("c");
    // What the other user could read to forge a result: nothing of the run's.
    for (const char* own : {"/catalog.sqlite", "/run/plan.tsv", "/run/lock"}) {
        struct stat st;
        ASSERT_EQ(stat((c + own).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << own;
    }
    const DayRecord row = CatalogDays(c).at(day);

    // A result of theirs in the day's folder, as the next run's and ok; the
    // next run's task is killed before it has a result.
    const std::string result = c + "/days/" + day + "/result.txt";
    DayRecord forged = row;
    forged.run_id = 2;
    const std::string text = campaign::ResultText(forged, {}, "");
    PlantWhileOpen(c + "/days/" + day, [&] { return unlink(result.c_str()) == 0 && (WriteFile(result, text), true); },
                   0777);
    const std::string before = TreeDigest(c);
    ProgramResult r = RunProgram({"/usr/bin/env", "TROKPROC=" + TaskKillingTrokproc(s), TROKCAMPAIGN_PATH, "run",
                                  "--list", s + "/list", "--elements", TestArchive().history, "--out", c, "--redo", day});
    EXPECT_EQ(r.status, 0) << r.err;
    const DayRecord after = CatalogDays(c).at(day);
    EXPECT_EQ(after.run_id, row.run_id);
    EXPECT_EQ(after.eph_sha256, row.eph_sha256);
    EXPECT_EQ(ReadFile(result), text);

    // A journal of theirs beside the catalog: never replayed into it.
    const std::string catalog = ReadFile(c + "/catalog.sqlite");
    PlantWhileOpen(c, [&] { return WriteFile(c + "/catalog.sqlite-journal", "their journal"), true; });
    for (const std::vector<std::string>& cmd :
         {Run(c), std::vector<std::string>{TROKCAMPAIGN_PATH, "status", c},
          std::vector<std::string>{TROKCAMPAIGN_PATH, "report", c}})
        Refused(cmd, c + "/catalog.sqlite-journal belongs to another user (nobody): SQLite would take it into " + c +
                         "/catalog.sqlite; refused");
    EXPECT_EQ(ReadFile(c + "/catalog.sqlite"), catalog);
    EXPECT_EQ(ReadFile(c + "/catalog.sqlite-journal"), "their journal");
}

TEST_F(CampaignSharedMachine, AFolderAboveTheCampaignThatAnotherUserControlsIsRefused)
{
    // The owner's campaign under a folder of theirs (which they can swap),
    // under a folder anyone may write to, and through a link of theirs.
    const std::string theirs = s + "/theirs", open = s + "/open";
    ASSERT_EQ(mkdir(theirs.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(open.c_str(), 0755), 0);
    const std::string c = Campaign("c");
    ASSERT_EQ(RunProgram({"/bin/cp", "-a", c, theirs + "/c"}).status, 0);
    ASSERT_EQ(RunProgram({"/bin/cp", "-a", c, open + "/c"}).status, 0);
    ASSERT_EQ(chown(theirs.c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    ASSERT_TRUE(nobody.Does([&] { return symlink(c.c_str(), (theirs + "/link").c_str()) == 0; }));
    ASSERT_EQ(symlink(c.c_str(), (s + "/link").c_str()), 0);
    ASSERT_EQ(lchown((s + "/link").c_str(), nobody.uid, nobody.gid), 0);
    const struct {
        std::string out, message;
    } cases[] = {
        {theirs + "/c", theirs + " belongs to another user (nobody)"},
        {open + "/c", open + " is writable by others"},
        {theirs + "/link", theirs + " belongs to another user (nobody)"},
        {s + "/link", s + "/link is a link of another user (nobody)"},
    };
    const std::string before = TreeDigest(s);
    for (const auto& k : cases)
        for (const std::vector<std::string>& cmd :
             {Run(k.out), std::vector<std::string>{TROKCAMPAIGN_PATH, "status", k.out}})
            Refused(cmd, "cannot use the campaign folder: " + k.message);
    EXPECT_EQ(TreeDigest(s), before);
}

TEST_F(CampaignSharedMachine, StatusAndReportRefuseALinkedCatalogAndAnotherUsersCampaign)
{
    // The catalog a link to a database that only root may read: status and
    // report neither read nor change it.
    const std::string c = Campaign("c"), secret = s + "/secret.sqlite";
    ASSERT_EQ(rename((c + "/catalog.sqlite").c_str(), secret.c_str()), 0);
    ASSERT_EQ(symlink(secret.c_str(), (c + "/catalog.sqlite").c_str()), 0);
    const std::string before = TreeDigest(c) + ReadFile(secret);
    for (const char* command : {"status", "report"})
        Refused({TROKCAMPAIGN_PATH, command, c}, c + "/catalog.sqlite: a link, not followed");
    EXPECT_EQ(TreeDigest(c) + ReadFile(secret), before);

    // Root looking at a campaign of another user: refused, nothing added.
    ASSERT_EQ(rename(secret.c_str(), (c + "/catalog.sqlite").c_str()), 0);
    ASSERT_EQ(RunProgram({"/bin/chown", "-R", "nobody:nogroup", c}).status, 0);
    const std::string theirs = TreeDigest(c);
    for (const char* command : {"status", "report"})
        Refused({TROKCAMPAIGN_PATH, command, c}, "cannot use the campaign folder: " + c +
                                                     " belongs to another user (nobody)");
    EXPECT_EQ(TreeDigest(c), theirs);
}

} // namespace
