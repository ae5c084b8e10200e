// trokcampaign ingest and close on trokgen's recorder dumps of a day: a new
// nrt version at every arrival whose measured records are the clean day's,
// none for a resent dump, a final version byte-identical to the clean day's
// campaign; a dump across midnight makes both days; a campaign keeps its
// satellite; run makes days again from their kept dumps; a catalog of the
// previous layout is brought up to date; the inbox as another user's place.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "campaign_dumps.h"
#include "campaign_runs.h"
#include "other_user.h"
#include "run_program.h"
#include "text_lines.h"
#include "toolkit/hashing/sha256.h"

namespace {

const std::string kCampaign = TROKCAMPAIGN_PATH;

std::vector<std::string> Ingest(const DumpedDay& d, const std::string& inbox, const std::string& out,
                                const std::vector<std::string>& more = {})
{
    std::vector<std::string> cmd{kCampaign, "ingest", "--inbox", inbox, "--elements", d.history, "--out", out};
    cmd.insert(cmd.end(), more.begin(), more.end());
    return cmd;
}

std::string MakeInbox(const std::string& dir)
{
    const std::string inbox = dir + "/inbox";
    EXPECT_EQ(mkdir(inbox.c_str(), 0755), 0);
    return inbox;
}

// The first of trokgen's dumps of two hours of PELK telemetry, in DIR/pd.
std::string PelkDump(const std::string& dir)
{
    const ProgramResult g =
        RunProgram({TROKGEN_PATH, "--out", "p.pkt", "--seconds", "7200", "--pelk", "--seed", "3", "--dumps", "pd"}, dir);
    EXPECT_EQ(g.status, 0) << g.err;
    return Lines(ReadFile(dir + "/pd/arrival.txt")).at(0);
}

// A campaign to be fed trokgen's dumps of a day through an inbox.
class CampaignIngestDay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        d = MakeDumpedDay(dir);
        inbox = MakeInbox(dir);
    }
    const std::string dir = FreshTestDir(), c = dir + "/c";
    DumpedDay d;
    std::string inbox;
};

} // namespace

// Every arrival in order makes a new nrt version whose measured records are
// the clean day's; the resent dump is a second delivery and no version; the
// final version after close is the clean day's campaign byte for byte, and
// nothing is expected of it any more.
TEST_F(CampaignIngestDay, EveryArrivalMakesAVersionAndCloseTheCleanDaysProducts)
{
    long long versions = 0;
    for (const std::string& name : d.arrival) {
        Deliver(d.dumps, inbox, name);
        const ProgramResult r = RunProgram(Ingest(d, inbox, c));
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        versions += name != d.resent;
        EXPECT_EQ(Sql(c, "SELECT count(*), max(version) FROM versions"),
                  std::to_string(versions) + "|" + std::to_string(versions) + "\n") << name;
        EXPECT_EQ(Sql(c, "SELECT level, version FROM days"), "nrt|" + std::to_string(versions) + "\n");
        size_t compared = 0;
        EXPECT_EQ(MeasuredRecordsDiffering(c, d.clean, d.day, compared), 0u) << name;
        EXPECT_GT(compared, 0u);
    }
    EXPECT_EQ(Sql(c, "SELECT count(*), sum(deliveries), min(outcome), max(outcome) FROM dumps"), "13|14|taken|taken\n");
    EXPECT_EQ(Sql(c, "SELECT deliveries FROM dumps WHERE deliveries > 1"), "2\n");
    EXPECT_EQ(Sql(c, "SELECT dumps, level FROM versions WHERE version = 13"), "13|nrt\n");
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions WHERE latency_s > 0 AND latency_s < 60"), "13\n");
    const ProgramResult status = RunProgram({kCampaign, "status", c});
    EXPECT_NE(status.out.find("still expected:\n2026-06-01 nrt v13: "), std::string::npos) << status.out;
    const std::string manifest = ReadFile(c + "/days/" + d.day + "/manifest.json");
    for (const std::string& name : d.arrival)
        if (name != d.resent) {
            EXPECT_NE(manifest.find("\"" + name + "\""), std::string::npos) << name;
        }
    EXPECT_NE(manifest.find("\"level\": \"nrt\""), std::string::npos);

    const ProgramResult closed = RunProgram({kCampaign, "close", c, d.day});
    ASSERT_EQ(closed.status, 0) << closed.err;
    EXPECT_EQ(Sql(c, "SELECT level, version FROM days"), "final|14\n");
    EXPECT_EQ(Sql(c, "SELECT level, dumps FROM versions WHERE version = 14"), "final|13\n");
    EXPECT_TRUE(Products(c, d.day) == Products(d.clean, d.day)) << "the final products are the clean day's";
    EXPECT_EQ(RunProgram({kCampaign, "status", c}).out.find("still expected"), std::string::npos);
    // The report's redo line makes the days again from their dumps.
    EXPECT_EQ(Sql(c, "SELECT value FROM campaign WHERE key = 'command'"),
              "trokcampaign run --elements " + d.history + " --out " + c + " --max-element-age 7.000000\n");
    // Nothing new: no version.
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    ASSERT_EQ(RunProgram({kCampaign, "close", c, d.day}).status, 0);
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions"), "14\n");
}

// A day that has ended turns final by itself once --final-after hours have
// passed since its last dump; a dump after that is a revision, a new final
// version, which the report marks.
TEST_F(CampaignIngestDay, ADayTurnsFinalAfterItsLastArrivalAndALateDumpRevisesIt)
{
    for (size_t i = 0; i < 3; ++i) Deliver(d.dumps, inbox, d.arrival[i]);
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    EXPECT_EQ(Sql(c, "SELECT level, version FROM days"), "nrt|1\n") << "24 hours have not passed";
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c, {"--final-after", "0"})).status, 0);
    EXPECT_EQ(Sql(c, "SELECT version, level, dumps FROM versions ORDER BY version"), "1|nrt|3\n2|final|3\n");
    Deliver(d.dumps, inbox, d.arrival[3]);
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    EXPECT_EQ(Sql(c, "SELECT version, level, dumps FROM versions WHERE version = 3"), "3|final|4\n");
    const std::string report = ReadFile(c + "/report.html");
    EXPECT_NE(report.find("final (revised)"), std::string::npos);
    EXPECT_NE(report.find("final v3, revised"), std::string::npos);
    EXPECT_NE(report.find("alt='Latency per version"), std::string::npos);
    EXPECT_NE(report.find(". Recorder dumps from " + inbox + ", merged by day;"), std::string::npos);
}

// Dumps of two days: the one that spans midnight makes a new version of
// both, each day's level-0 file holding its own side of midnight.
TEST(CampaignIngest, ADumpAcrossMidnightMakesBothDays)
{
    const std::string dir = FreshTestDir();
    const ProgramResult g = RunProgram({TROKGEN_PATH, "--archive", "arc", "--days", "2", "--seed", "6", "--dumps", "d",
                                        "--tle", "el.tle"},
                                       dir);
    ASSERT_EQ(g.status, 0) << g.err;
    DumpedDay d;
    d.history = dir + "/el.tle";
    const std::string inbox = MakeInbox(dir), c = dir + "/c";
    std::string spanning;
    const std::vector<std::string> arrival = Lines(ReadFile(dir + "/d/arrival.txt"));
    for (const std::string& name : arrival) {
        // The dump whose contact is just after the first midnight holds the
        // first day's last hours.
        if (spanning.empty() && name.find("_20260602T") != std::string::npos) {
            spanning = name;
            continue;
        }
        Deliver(dir + "/d", inbox, name);
    }
    ASSERT_FALSE(spanning.empty()) << ReadFile(dir + "/d/arrival.txt");
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    EXPECT_EQ(Sql(c, "SELECT day, version FROM days ORDER BY day"), "2026-06-01|1\n2026-06-02|1\n");
    Deliver(dir + "/d", inbox, spanning);
    const ProgramResult r = RunProgram(Ingest(d, inbox, c));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql(c, "SELECT days FROM dumps WHERE name = '" + spanning + "'"), "2026-06-01,2026-06-02\n");
    EXPECT_EQ(Sql(c, "SELECT day, version, dumps FROM versions WHERE version = 2 ORDER BY day"),
              Sql(c, "SELECT day, 2, count(*) FROM dumps, (SELECT '2026-06-01' AS day UNION SELECT '2026-06-02') "
                     "WHERE dumps.days LIKE '%' || day || '%' GROUP BY day"));
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions WHERE version = 2"), "2\n");
    // Each day's level-0 file is what a merge of all the dumps gives that day.
    std::vector<std::string> merge{PKTMERGE_PATH, "--by-day", "merged", "-q"};
    for (const std::string& name : arrival) merge.push_back("d/" + name);
    ASSERT_EQ(RunProgram(merge, dir).status, 0);
    for (const std::string day : {"01", "02"})
        EXPECT_TRUE(ReadFile(c + "/level0/2026/06/" + day + ".pkt") == ReadFile(dir + "/merged/2026/06/" + day + ".pkt"))
            << day;
}

// A campaign keeps the satellite its first ingestion fixed: a run or an
// ingestion of another is refused and changes nothing; dumps of another
// satellite's APID are recorded as foreign and left.
TEST_F(CampaignIngestDay, AnotherSatelliteIsRefusedAndItsDumpsAreForeign)
{
    Deliver(d.dumps, inbox, d.arrival[0]);
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    WriteFile(dir + "/pelk.cfg", "-noradsatname PELK\n");
    // Everything but the lock file (its holder's pid).
    const auto state = [&] {
        return toolkit::Sha256Hex(TreeDigest(c + "/days") + TreeDigest(c + "/level0") + TreeDigest(c + "/dumps") +
                                  ReadFile(c + "/catalog.sqlite") + ReadFile(c + "/report.html"));
    };
    const std::string before = state();
    const std::vector<std::vector<std::string>> others = {
        {kCampaign, "run", "--archive", dir + "/arch", "--elements", d.history, "--out", c, "--config",
         dir + "/pelk.cfg"},
        Ingest(d, inbox, c, {"--config", dir + "/pelk.cfg"})};
    for (const auto& cmd : others) {
        const ProgramResult r = RunProgram(cmd);
        EXPECT_EQ(r.status, 255);
        EXPECT_NE(r.err.find(": a campaign of VORN, not of PELK (-noradsatname of the configuration)"),
                  std::string::npos) << r.err;
        EXPECT_EQ(state(), before) << "the campaign changed";
    }
    // Another satellite's dumps in the same inbox.
    const std::string pelkDump = PelkDump(dir);
    Deliver(dir + "/pd", inbox, pelkDump);
    WriteFile(inbox + "/empty", "");
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    EXPECT_EQ(Sql(c, "SELECT outcome, reason, days FROM dumps WHERE name = '" + pelkDump + "'"),
              "foreign|telemetry of APID 967 (214-byte packets) only, none of APID 957|\n");
    EXPECT_EQ(Sql(c, "SELECT outcome, reason FROM dumps WHERE name = 'empty'"),
              "refused|holds no telemetry packets of APID 957 (126-byte packets)\n");
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions"), "1\n") << "neither made a version";
}

// run on a campaign of dumps makes its days again from the kept dumps, a
// new version at the same level; --archive on it is refused.
TEST_F(CampaignIngestDay, RunMakesDaysAgainFromTheirKeptDumps)
{
    for (size_t i = 0; i < 4; ++i) Deliver(d.dumps, inbox, d.arrival[i]);
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c)).status, 0);
    const std::string products = Products(c, d.day);
    // The inbox emptied: the campaign has its own copies.
    for (size_t i = 0; i < 4; ++i) ASSERT_EQ(unlink((inbox + "/" + d.arrival[i]).c_str()), 0);
    const std::vector<std::string> run{kCampaign, "run", "--elements", d.history, "--out", c};
    ProgramResult r = RunProgram(run);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions"), "1\n") << "nothing out of date";
    std::vector<std::string> redo = run;
    redo.insert(redo.end(), {"--redo", d.day});
    r = RunProgram(redo);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql(c, "SELECT version, level, dumps FROM versions ORDER BY version"), "1|nrt|4\n2|nrt|4\n");
    EXPECT_TRUE(Products(c, d.day) == products);
    // A configuration change reprocesses the day.
    WriteFile(dir + "/vorn.cfg", "-noradsatname VORN\n-listconfig yes\n");
    std::vector<std::string> changed = run;
    changed.insert(changed.end(), {"--config", dir + "/vorn.cfg"});
    r = RunProgram(changed);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql(c, "SELECT max(version) FROM versions"), "3\n");
    r = RunProgram({kCampaign, "run", "--archive", dir + "/arch", "--elements", d.history, "--out", c});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("a campaign of recorder dumps: its days are made from its dumps"), std::string::npos)
        << r.err;
}

// A catalog of the layout before ingestion: status and report read it as
// it is; a run brings its tables up to date in place, its days kept.
TEST(CampaignIngest, ACatalogOfThePreviousLayoutIsBroughtUpToDate)
{
    const std::string dir = FreshTestDir();
    const DumpedDay d = MakeDumpedDay(dir);
    const std::string& c = d.clean;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((c + "/catalog.sqlite").c_str(), &db), SQLITE_OK);
    for (const char* sql : {"ALTER TABLE days DROP COLUMN level", "ALTER TABLE days DROP COLUMN version",
                            "ALTER TABLE days DROP COLUMN gaps", "DROP TABLE dumps", "DROP TABLE versions",
                            "DROP TABLE inbox", "PRAGMA user_version = 1"})
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
    const std::string old = ReadFile(c + "/catalog.sqlite");
    ProgramResult r = RunProgram({kCampaign, "status", c});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ok 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(RunProgram({kCampaign, "report", c}).status, 0);
    EXPECT_TRUE(ReadFile(c + "/catalog.sqlite") == old) << "only read";
    r = RunProgram({kCampaign, "run", "--archive", dir + "/arch", "--elements", d.history, "--out", c});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql(c, "PRAGMA user_version"), "2\n");
    EXPECT_EQ(Sql(c, "SELECT day, outcome, run_id, level FROM days"), "2026-06-01|ok|1|NULL\n") << "nothing ran again";
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions"), "0\n");
}

// The inbox is another user's place: a link, a FIFO, a file of yet another
// user and files still being written are not taken, and none blocks; the
// inbox's owner's own dumps are.
TEST(CampaignIngest, OnlyTheInboxOwnersRegularFilesAreTaken)
{
    OtherUser nobody;
    if (!nobody.Available()) GTEST_SKIP() << "needs root and the user nobody to play another user";
    const std::string dir = FreshTestDir();
    const DumpedDay d = MakeDumpedDay(dir);
    ReachableScratch scratch;
    const std::string inbox = scratch.Path() + "/inbox", c = dir + "/c";
    ASSERT_EQ(mkdir(inbox.c_str(), 0755), 0);
    ASSERT_EQ(chown(inbox.c_str(), nobody.uid, nobody.gid), 0);
    const std::string good = d.arrival[0], linked = d.arrival[1], others = d.arrival[2];
    Deliver(d.dumps, inbox, good);
    Deliver(d.dumps, inbox, others);
    ASSERT_EQ(chown((inbox + "/" + good).c_str(), nobody.uid, nobody.gid), 0);
    ASSERT_EQ(chown((inbox + "/" + others).c_str(), 4242, 4242), 0);
    ASSERT_EQ(symlink((d.dumps + "/" + linked).c_str(), (inbox + "/" + linked).c_str()), 0);
    ASSERT_EQ(mkfifo((inbox + "/pipe.pkt").c_str(), 0644), 0);
    WriteFile(inbox + "/" + d.arrival[3] + ".part", ReadFile(d.dumps + "/" + d.arrival[3]));
    WriteFile(inbox + "/.hidden", ReadFile(d.dumps + "/" + d.arrival[4]));
    const std::string before = TreeDigest(inbox);
    const ProgramResult r = RunProgram(Ingest(d, inbox, c));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Sql(c, "SELECT name FROM dumps"), good + "\n");
    for (const std::string& refused : {linked, others, std::string("pipe.pkt")}) {
        EXPECT_NE(r.err.find(inbox + "/" + refused + ": not taken: "), std::string::npos) << refused << r.err;
        EXPECT_EQ(r.err.find(": not taken: " + inbox), std::string::npos) << "named once: " << r.err;
    }
    EXPECT_TRUE(TreeDigest(inbox) == before) << "the inbox is never written";
    // Said once: the next pass looks at them again only when they change.
    const ProgramResult again = RunProgram(Ingest(d, inbox, c));
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "");
}

// --move: a dump leaves the inbox once the version made from it is
// recorded, and so does a second delivery of it; what is not taken (another
// satellite's dump, a file of no packets) stays for others to see.
TEST_F(CampaignIngestDay, MovedDumpsLeaveTheInboxOnceTaken)
{
    const std::string pelkDump = PelkDump(dir);
    Deliver(dir + "/pd", inbox, pelkDump);
    Deliver(d.dumps, inbox, d.arrival[0]);
    WriteFile(inbox + "/empty", "");
    const ProgramResult r = RunProgram(Ingest(d, inbox, c, {"--move"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(access((inbox + "/" + d.arrival[0]).c_str(), F_OK), -1);
    EXPECT_EQ(access((inbox + "/" + pelkDump).c_str(), F_OK), 0);
    EXPECT_EQ(access((inbox + "/empty").c_str(), F_OK), 0);
    WriteFile(inbox + "/again.pkt", ReadFile(d.dumps + "/" + d.arrival[0]));
    ASSERT_EQ(RunProgram(Ingest(d, inbox, c, {"--move"})).status, 0);
    EXPECT_EQ(access((inbox + "/again.pkt").c_str(), F_OK), -1);
    EXPECT_EQ(Sql(c, "SELECT name, deliveries FROM dumps WHERE outcome = 'taken'"), d.arrival[0] + "|2\n");
    EXPECT_EQ(Sql(c, "SELECT count(*) FROM versions"), "1\n");
}
