// trokcampaign on a 20-day archive from trokgen: outcomes and reasons, the
// element set of each day, orbit numbers across days, reruns, reproducible
// bytes, the catalog as status --json shows it, and the report in a real
// browser. (The Slurm engine is tested on a real cluster by make test-slurm.)

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "campaign_archive.h"
#include "campaign_runs.h"
#include "campaign_catalog.h"
#include "campaign_continuity.h"
#include "campaign_elements.h"
#include "headless_chromium.h"
#include "orbitlib_class_noradelements.h"
#include "run_program.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"

using campaign::DayRecord;

namespace {

struct CampaignRun {
    std::string dir;
    ProgramResult result;
};

// The archive as one campaign, run once for every test of the build.
const CampaignRun& BaseCampaign()
{
    static CampaignRun run;
    if (!run.dir.empty()) return run;
    const CampaignArchive& a = TestArchive();
    const std::string dir = a.dir + "/campaign";
    const int lock = open((a.dir + "/campaign.lock").c_str(), O_RDWR | O_CREAT, 0644);
    EXPECT_EQ(flock(lock, LOCK_EX), 0);
    struct stat made, prog;
    const bool fresh = stat((a.dir + "/campaign.status").c_str(), &made) == 0 &&
                       stat(TROKCAMPAIGN_PATH, &prog) == 0 && made.st_mtime >= prog.st_mtime &&
                       stat((a.dir + "/done").c_str(), &prog) == 0 && made.st_mtime >= prog.st_mtime;
    if (!fresh) {
        RunProgram({"/bin/rm", "-rf", dir});
        run.result = RunProgram({TROKCAMPAIGN_PATH, "run", "--archive", a.archive, "--elements", a.history,
                                 "--out", dir, "-j", "2"});
        WriteFile(a.dir + "/campaign.err", run.result.err);
        WriteFile(a.dir + "/campaign.status", std::to_string(run.result.status));
    } else {
        run.result.err = ReadFile(a.dir + "/campaign.err");
        run.result.status = std::stoi(ReadFile(a.dir + "/campaign.status"));
    }
    close(lock);
    run.dir = dir;
    return run;
}

TEST(CampaignCatalog, AnEarlierCatalogGainsTheNewColumns)
{
    const std::string path = FreshTestDir() + "/catalog.sqlite";
    // Tables as an earlier version made them: fewer columns, nodes keyed by orbit.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE days (day TEXT PRIMARY KEY, outcome TEXT, reason TEXT);"
                           "INSERT INTO days VALUES ('2026-06-21', 'ok', NULL);"
                           "CREATE TABLE runs (run_id INTEGER PRIMARY KEY, started_utc TEXT, finished_utc TEXT, "
                           "engine TEXT, command TEXT, planned INTEGER, ran INTEGER, status TEXT, driver_cpu_s REAL, "
                           "wall_s REAL, driver_peak_kb INTEGER);"
                           "CREATE TABLE nodes (day TEXT, orbit INTEGER, offset_s REAL, hazard INTEGER, "
                           "PRIMARY KEY (day, orbit));",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    campaign::Catalog catalog;
    std::string error;
    ASSERT_TRUE(catalog.Open(path, campaign::CatalogAccess::Create, error)) << error;
    std::map<std::string, DayRecord> days;
    ASSERT_TRUE(catalog.LoadDays(days, error)) << error;
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days["2026-06-21"].OutcomeText(), "ok");
    EXPECT_FALSE(days["2026-06-21"].node_hazards.has_value());
    // The new columns take values, and nodes their record.
    days["2026-06-21"].first_orbit_numbering = 1;
    ASSERT_TRUE(catalog.StoreDays({&days["2026-06-21"]}, {{"2026-06-21", {{10001, 2005, -0.272, true}}}}, error))
        << error;
    ASSERT_TRUE(catalog.BeginRun("slurm", "trokcampaign run", "t", error) > 0) << error;
    std::map<std::string, DayRecord> again;
    ASSERT_TRUE(catalog.LoadDays(again, error)) << error;
    EXPECT_EQ(again["2026-06-21"].first_orbit_numbering.value_or(0), 1);
}

// A set of catalogue number `catalog` with its epoch `day` days into 2026.
std::string SetLines(int catalog, double day, int number)
{
    std::vector<double> v(13, 0.0);
    v[0] = 14.5 * 6.283185307179586 / 1440.0;
    v[2] = 1.7;
    v[9] = catalog;
    v[10] = 26;
    v[11] = day;
    v[12] = 1000;
    std::string l1, l2;
    noradelements(v).Get(l1, l2);
    l1 = l1.substr(0, 69);
    l1.replace(64, 4, std::to_string(1000 + number));   // element set number, check digit anew
    l1[68] = CheckSum(l1.c_str());
    return l1 + "\n" + l2.substr(0, 69) + "\n";
}

TEST(CampaignElements, PicksTheLatestSetBeforeTheDataElseTheEarliestAfter)
{
    const std::string dir = FreshTestDir();
    std::string history = "VORN\n" + SetLines(43210, 10.5, 1) + "OTHER\n" + SetLines(11111, 11.0, 2) + "VORN\n" +
                          SetLines(43210, 12.5, 3) + "VORN\n" + SetLines(43210, 10.5, 1) +
                          "VORN X\n" + SetLines(43210, 12.5, 4) + "VORNX\n" + SetLines(43210, 11.5, 5) +
                          SetLines(43210, 14.5, 6);   // a two-line set of the same catalogue number
    std::string bad = "VORN\n" + SetLines(43210, 13.0, 7);
    bad[bad.find('\n') + 69] = bad[bad.find('\n') + 69] == '0' ? '1' : '0';
    // Lines that begin as a set's and end short of its 69 columns.
    const std::string cut = "VORN\n1 \n2 43210\n";
    WriteFile(dir + "/h.tle", history + bad + cut);

    campaign::ElementHistory h;
    std::string error;
    ASSERT_TRUE(campaign::ReadElementHistory(dir + "/h.tle", "VORN", h, error)) << error;
    EXPECT_EQ(h.sets.size(), 4u);   // 1, 3, 4 (named "VORN X"), 6 (two-line)
    EXPECT_EQ(h.duplicates, 1u);
    EXPECT_EQ(h.badCheckDigits, 1u);
    EXPECT_EQ(h.otherSatellites, 2u);   // OTHER and VORNX
    EXPECT_EQ(h.malformed, 1u);

    // Instants as days into 2026 (TAI93 of the set epochs read back).
    auto epochOf = [&](int number) {
        for (const auto& s : h.sets)
            if (s.setNumber == 1000 + number) return s.epochTai93;
        return -1.0;
    };
    const struct {
        int from;    // the set whose epoch the instant is counted from
        double at;   // seconds after that epoch
        int expected;
    } cases[] = {
        {1, -86400, 1},   // before every set: the earliest after
        {1, 0, 1},        // at an epoch: that set
        {1, 86400, 1},    // between two epochs: the one before
        {3, -1, 1},
        {4, 0, 4},        // two sets of one epoch: the one the file gives last
        {6, 86400, 6},    // after the last
    };
    for (const auto& c : cases) {
        double age = 0;
        const double t = epochOf(c.from) + c.at;
        const campaign::ElementSet* s = campaign::ChooseElementSet(h, t, t + 3600, age);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->setNumber, 1000 + c.expected) << "set " << c.from << " + " << c.at << " s";
    }
    double age = 0;
    campaign::ChooseElementSet(h, epochOf(1) - 3 * 86400, epochOf(1) - 2 * 86400, age);
    EXPECT_NEAR(age, 2.0, 1e-6);
}

// The number after `label` in qlrdump's summary ("repaired points  19 ...").
long long SummaryNumber(const std::string& summary, const std::string& label)
{
    const size_t at = summary.find(label);
    return at == std::string::npos ? -1 : std::atoll(summary.c_str() + at + label.size());
}

TEST(Trokcampaign, ArchiveDaysEndWithTheRightOutcomesAndReasons)
{
    const CampaignRun& run = BaseCampaign();
    EXPECT_EQ(run.result.status, 1) << run.result.err;
    const CampaignArchive& a = TestArchive();
    const std::map<std::string, DayRecord> days = CatalogDays(run.dir);
    ASSERT_EQ(days.size(), 20u);
    const std::map<int, std::pair<std::string, std::string>> notOk = {
        {3, {"input-refused", "trokproc refused the input (status 255): Packet File Read Error"}},
        {7, {"check-failed", "does not fit its neighbours' positions and velocities"}},
        {9, {"input-refused", "Time order error"}},
        {11, {"missing", "no packet file " + a.archive + "/2026/07/02.pkt"}},
        {16, {"no-elements", "lies 7.38 days from the data, more than 7.00"}},
        {17, {"no-elements", "lies 8.38 days"}},
        {18, {"no-elements", "lies 9.38 days"}},
    };
    for (int i = 0; i < 20; ++i) {
        const DayRecord& row = days.at(a.days[i]);
        auto it = notOk.find(i);
        if (it == notOk.end()) {
            EXPECT_EQ(row.OutcomeText(), "ok") << a.days[i] << ": " << row.reason.value_or("");
            // Products named by day, hashed as they are on disk, counted as
            // qlrdump counts them.
            const std::string eph = run.dir + "/days/" + a.days[i] + "/" + a.days[i] + ".eph";
            EXPECT_EQ(row.eph_path.value_or(""), "days/" + a.days[i] + "/" + a.days[i] + ".eph");
            EXPECT_EQ(row.eph_sha256.value_or(""), toolkit::Sha256Hex(ReadFile(eph)));
            const std::string summary = RunProgram({QLRDUMP_PATH, "--summary", eph}).out;
            EXPECT_EQ(row.records.value_or(0), SummaryNumber(summary, "records")) << a.days[i];
            EXPECT_EQ(row.repaired_points.value_or(0), SummaryNumber(summary, "repaired points")) << a.days[i];
            EXPECT_EQ(row.large_gaps.value_or(0), SummaryNumber(summary, "large gaps")) << a.days[i];
        } else {
            EXPECT_EQ(row.OutcomeText(), it->second.first) << a.days[i];
            EXPECT_NE(row.reason.value_or("").find(it->second.second), std::string::npos)
                << a.days[i] << ": " << row.reason.value_or("");
        }
    }
    // The manifest names every input with its hash and the commands run.
    const std::string manifest = ReadFile(run.dir + "/days/" + a.days[0] + "/manifest.json");
    EXPECT_NE(manifest.find(toolkit::Sha256Hex(ReadFile(a.packetFiles[0]))), std::string::npos);
    EXPECT_NE(manifest.find("\"SOURCE_DATE_EPOCH\""), std::string::npos);
    EXPECT_NE(manifest.find("qlrdump --check --json"), std::string::npos) << manifest;
}

TEST(Trokcampaign, EachDayGetsTheLatestElementSetBeforeItsData)
{
    const CampaignRun& run = BaseCampaign();
    const CampaignArchive& a = TestArchive();
    const std::map<std::string, DayRecord> days = CatalogDays(run.dir);
    // The history's epochs (day of 2026, from its lines): 999 172.757
    // (06-21 18:10), 1000 174.448, 1001 175.852, 1002 177.695, 1003 178.960,
    // 1004 180.617, then none until 1005 190.217 (07-09 05:12). Day 0 takes
    // the earliest set after its data, every other day the latest before
    // its first packet; the days from 07-07 to 07-09 lie more than 7 days
    // from 1004 (day 11 has no packet file).
    const int expected[20] = {999,  999,  999,  1000, 1001, 1001, 1002, 1003, 1003, 1004,
                              1004, -1,   1004, 1004, 1004, 1004, 1004, 1004, 1004, 1005};
    const double age[20] = {0, 0.243, 1.243, 0.552, 0.148, 1.148, 0.305, 0.040, 1.040, 0.383,
                            1.383, -1, 3.383, 4.383, 5.383, 6.383, 7.383, 8.383, 9.383, 0.783};
    for (int i = 0; i < 20; ++i) {
        if (expected[i] < 0) continue;
        const DayRecord& row = days.at(a.days[i]);
        EXPECT_EQ(row.element_number.value_or(0), expected[i]) << a.days[i];
        EXPECT_NEAR(row.element_age_days.value_or(0), age[i], 0.002) << a.days[i];
        if (row.OutcomeText() == "ok") {
            // The set written beside the products is the one used.
            const std::string tle = ReadFile(run.dir + "/days/" + a.days[i] + "/" + a.days[i] + ".tle");
            EXPECT_EQ(tle, "VORN\n" + row.element_line1.value_or("") + "\n" +
                               row.element_line2.value_or("") + "\n");
        }
    }
}

TEST(Trokcampaign, OrbitNumbersContinueExceptWhereTheNumberingModelJumps)
{
    const CampaignRun& run = BaseCampaign();
    const CampaignArchive& a = TestArchive();
    const std::map<std::string, DayRecord> days = CatalogDays(run.dir);
    // Day 6's set has omega + M of 360 degrees or more (by hand), its
    // neighbours' sets not: its numbers run one higher than both neighbours'.
    const std::map<int, std::string> expected = {
        {0, "first day"}, {1, "ok"}, {2, "ok"}, {4, "the day before is input-refused"}, {5, "ok"},
        {6, "this day's element set has omega + M of 423.7572 degrees, 360 or more, the day before's not"},
        {7, "the day before's element set has omega + M of 423.7572 degrees, 360 or more, this day's not"},
        {8, "ok"}, {10, "the day before is input-refused"}, {12, "the day before is missing"}, {13, "ok"},
        {14, "ok"}, {15, "ok"}, {19, "the day before is no-elements"},
    };
    for (const auto& e : expected) {
        const DayRecord& row = days.at(a.days[e.first]);
        const std::string c = row.continuity.value_or("");
        const DayRecord& before = days.at(a.days[e.first - (e.first ? 1 : 0)]);
        const long long first = static_cast<long long>(row.first_orbit.value_or(0));
        const long long last = static_cast<long long>(before.last_orbit.value_or(0));
        if (e.second.find("omega") == std::string::npos) {
            EXPECT_EQ(c, e.second) << a.days[e.first];
        } else {
            EXPECT_NE(c.find("orbit numbers jump"), std::string::npos) << a.days[e.first] << ": " << c;
            EXPECT_NE(c.find(e.second), std::string::npos) << a.days[e.first] << ": " << c;
            EXPECT_EQ(first, last + (e.first == 6 ? 1 : -1)) << a.days[e.first];
        }
        if (e.second == "ok") {
            // The day continues the revolution under way at midnight, or
            // begins with the next one; one second after the day before.
            EXPECT_TRUE(first == last || first == last + 1) << a.days[e.first] << ": " << last << " then " << first;
            EXPECT_NEAR(row.step_s.value_or(0), 1.0, 0.1) << a.days[e.first];
        }
    }
    // The node offsets of the check: the largest of each day and the orbits
    // numbered from another revolution (the first day's first orbit, before
    // its set's node, warned by the check; no crossing of this drifting orbit
    // comes before its node in the days after a set's epoch).
    for (int i : {0, 1, 5, 13}) {
        const DayRecord& row = days.at(a.days[i]);
        EXPECT_TRUE(row.max_node_offset_s.has_value()) << a.days[i];
        EXPECT_EQ(row.node_hazards.value_or(-1), 0) << a.days[i];
    }
    EXPECT_EQ(days.at(a.days[0]).first_orbit_numbering.value_or(0), 1);
    EXPECT_NE(days.at(a.days[0]).numbering_warnings.value_or("").find("carries the next revolution's number"),
              std::string::npos);
    const std::string status = RunProgram({TROKCAMPAIGN_PATH, "status", run.dir}).out;
    EXPECT_NE(status.find(a.days[6] + " continuity: orbit numbers jump"), std::string::npos) << status;
}

TEST(Trokcampaign, StatusJsonParsesAndAgreesWithTheCatalog)
{
    const CampaignRun& run = BaseCampaign();
    const ProgramResult status = RunProgram({TROKCAMPAIGN_PATH, "status", run.dir, "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/status.json", status.out);
    // Python's own JSON and SQLite readers, column by column.
    const ProgramResult py = RunProgram({"/usr/bin/python3", TROK_SOURCE_DIR "/tests/oracles/campaign_status_vs_catalog.py",
                                         dir + "/status.json",
                                         run.dir + "/catalog.sqlite"});
    EXPECT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, "agree 20\n");
}

TEST(Trokcampaign, SecondRunDoesNoWorkAndAReplacedFileRedoesExactlyThatDay)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir();
    // Days 5 to 8 of the archive, day 7 (a flipped bit) a copy of our own.
    const std::string damaged = dir + "/" + a.days[7] + ".pkt";
    RunProgram({"/bin/cp", a.packetFiles[7], damaged});
    WriteFile(dir + "/list", a.packetFiles[5] + "\n" + a.packetFiles[6] + "\n" + damaged + "\n" +
                                 a.packetFiles[8] + "\n");
    const std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run", "--list", dir + "/list", "--elements",
                                          a.history, "--out", dir + "/c", "-j", "2"};
    ProgramResult r = RunProgram(cmd);
    ASSERT_EQ(r.status, 1) << r.err;
    const std::map<std::string, DayRecord> first = CatalogDays(dir + "/c");
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first.at(a.days[7]).OutcomeText(), "check-failed");

    // Nothing changed: no day runs, no product is touched.
    auto signature = [&](const std::string& day) {
        struct stat st;
        const std::string eph = dir + "/c/days/" + day + "/" + day + ".eph";
        return stat(eph.c_str(), &st) == 0 ? std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_nsec) : "";
    };
    const std::string before6 = signature(a.days[6]);
    r = RunProgram(cmd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find(a.days[6] + " ok"), std::string::npos) << r.err;
    const std::map<std::string, DayRecord> second = CatalogDays(dir + "/c");
    for (const auto& kv : first)
        EXPECT_EQ(second.at(kv.first).run_id.value_or(-1), kv.second.run_id.value_or(-1)) << kv.first;
    EXPECT_EQ(signature(a.days[6]), before6);

    // The damaged file replaced by a sound one: that day alone runs again.
    RunProgram({"/bin/cp", a.SoundFile(7), dir + "/sound.pkt"});
    ASSERT_EQ(rename((dir + "/sound.pkt").c_str(), damaged.c_str()), 0);
    r = RunProgram(cmd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(a.days[7] + " ok"), std::string::npos) << r.err;
    const std::map<std::string, DayRecord> third = CatalogDays(dir + "/c");
    for (const auto& kv : first) {
        if (kv.first == a.days[7]) {
            EXPECT_NE(third.at(kv.first).run_id.value_or(-1), kv.second.run_id.value_or(-1));
            EXPECT_EQ(third.at(kv.first).OutcomeText(), "ok");
        } else {
            EXPECT_EQ(third.at(kv.first).run_id.value_or(-1), kv.second.run_id.value_or(-1)) << kv.first;
        }
    }
    EXPECT_EQ(signature(a.days[6]), before6);
    // The day after it now continues it.
    EXPECT_EQ(third.at(a.days[8]).continuity.value_or(""), "ok");

    // A product gone: that day alone runs again.
    ASSERT_EQ(unlink((dir + "/c/days/" + a.days[8] + "/" + a.days[8] + ".att").c_str()), 0);
    r = RunProgram(cmd);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::map<std::string, DayRecord> fourth = CatalogDays(dir + "/c");
    for (const auto& kv : third)
        EXPECT_EQ(fourth.at(kv.first).run_id.value_or(-1) != kv.second.run_id.value_or(-1), kv.first == a.days[8])
            << kv.first;
    EXPECT_EQ(access((dir + "/c/days/" + a.days[8] + "/" + a.days[8] + ".att").c_str(), R_OK), 0);

    // A manifest or a result no longer the one made: that day alone runs again.
    for (const char* record : {"/manifest.json", "/result.txt"}) {
        const std::string path = dir + "/c/days/" + a.days[5] + record;
        WriteFile(path, ReadFile(path).substr(1));
        const std::map<std::string, DayRecord> before = CatalogDays(dir + "/c");
        r = RunProgram(cmd);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto& kv : CatalogDays(dir + "/c"))
            EXPECT_EQ(kv.second.run_id != before.at(kv.first).run_id, kv.first == a.days[5]) << record << kv.first;
    }
}

// trokgen puts a set's epoch on the first packet: the catalogued times must
// choose that set again, so that a second run has nothing to do.
TEST(Trokcampaign, ASetWhoseEpochIsTheFirstPacketIsChosenAgain)
{
    const std::string dir = FreshTestDir();
    std::string list;
    for (const char* day : {"2026-06-01", "2026-06-02", "2026-06-03"}) {
        const std::string pkt = dir + "/" + day + ".pkt";
        const ProgramResult g = RunProgram({TROKGEN_PATH, "--out", pkt, "--tle", dir + "/" + day + ".tle",
                                            "--seconds", "30", "--start", day});
        ASSERT_EQ(g.status, 0) << g.err;
        list += pkt + "\n";
    }
    WriteFile(dir + "/list", list);
    WriteFile(dir + "/history.tle", ReadFile(dir + "/2026-06-01.tle") + ReadFile(dir + "/2026-06-02.tle") +
                                        ReadFile(dir + "/2026-06-03.tle"));
    const std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run", "--list", dir + "/list", "--elements",
                                          dir + "/history.tle", "--out", dir + "/c"};
    ProgramResult r = RunProgram(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::map<std::string, DayRecord> first = CatalogDays(dir + "/c");
    for (const auto& kv : first) EXPECT_EQ(kv.second.element_age_days.value_or(-1), 0) << kv.first;
    r = RunProgram(cmd);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& kv : CatalogDays(dir + "/c"))
        EXPECT_EQ(kv.second.run_id.value_or(-1), first.at(kv.first).run_id.value_or(-1)) << kv.first;
}

// Time and orbit numbers between consecutive days, on rows made up for it:
// 1000 s orbits; a set whose omega + M is 401 degrees numbers one higher.
struct MadeUpDay {
    double first, last;              // first and last packet
    long long firstOrbit, lastOrbit;
    double firstNode, lastNode;      // predicted nodes of those orbits
    double firstCrossing, lastCrossing;   // observed crossings (NaN: none)
    bool highSet;                    // omega + M of 360 degrees or more
    int firstNumbering, lastNumbering;
};

DayRecord MadeUpRow(const std::string& name, const MadeUpDay& d)
{
    std::vector<double> v(13, 0.0);
    v[0] = 2 * 3.141592653589793 / (1000.0 / 60.0);
    if (d.highSet) v[4] = v[5] = 3.5;   // radians
    std::string l1, l2;
    noradelements(v).Get(l1, l2);
    DayRecord r;
    r.day = name;
    r.outcome = campaign::Outcome::Ok;
    // The day's first and last of each.
    std::tie(r.first_packet_tai93, r.last_packet_tai93) = std::make_pair(d.first, d.last);
    std::tie(r.first_orbit, r.last_orbit) = std::make_pair(d.firstOrbit, d.lastOrbit);
    std::tie(r.first_node_tai93, r.last_node_tai93) = std::make_pair(d.firstNode, d.lastNode);
    std::tie(r.first_crossing_tai93, r.last_crossing_tai93) =
        std::make_pair(campaign::Finite(d.firstCrossing), campaign::Finite(d.lastCrossing));
    std::tie(r.first_orbit_numbering, r.last_orbit_numbering) = std::make_pair(d.firstNumbering, d.lastNumbering);
    std::tie(r.element_line1, r.element_line2) = std::make_pair(l1, l2);
    return r;
}

TEST(CampaignContinuity, HolesOverlapsAndOrbitNumbersWithTheirCauses)
{
    const double none = std::nan("");
    // The day before: orbits 100 to 186, the last begun at its crossing at 85900 s.
    const MadeUpDay before = {0, 86400, 100, 186, 0, 86000, 1000, 85900, false, 0, 0};
    const MadeUpDay beforeHigh = {0, 86400, 101, 187, 0, 86000, 1000, 85900, true, 0, 0};
    const MadeUpDay beforeShort = {0, 86400, 100, 186, 0, 86000, 1000, 85900, false, 0, -1};
    const struct {
        MadeUpDay dayBefore;
        std::string name;
        MadeUpDay day;
        std::string continuity;
    } cases[] = {
        // From the predicted nodes (no crossings): the same orbit goes on, or the next one starts.
        {before, "2026-01-02", {86401, 172000, 186, 171000, 86000, 171000, none, none, false, 0, 0}, "ok"},
        {before, "2026-01-02", {86401, 172000, 187, 171000, 87000, 171000, none, none, false, 0, 0}, "ok"},
        {before, "2026-01-02", {86401, 172000, 188, 171000, 86000, 171000, none, none, false, 0, 0},
         "orbit numbers jump: the day before ends with orbit 186, this day starts with orbit 188 where 186 was due"},
        // From the observed crossings: the revolution under way at midnight goes on ...
        {before, "2026-01-02", {86401, 172000, 186, 171000, 86000, 171000, 86900, 171900, false, 0, 0}, "ok"},
        // ... or the day's first record is the crossing that begins the next one.
        {before, "2026-01-02", {86401, 172000, 187, 171000, 86000, 171000, 87401, 171900, false, 0, 0}, "ok"},
        {before, "2026-01-02", {86401, 172000, 187, 171000, 86000, 171000, 86900, 171900, true, 0, 0},
         "where 186 was due (this day's element set has omega + M of 401.07"},
        {beforeHigh, "2026-01-02", {86401, 172000, 186, 171000, 86000, 171000, 86900, 171900, false, 0, 0},
         "where 187 was due (the day before's element set has omega + M of 401.07"},
        {beforeHigh, "2026-01-02", {86401, 172000, 187, 171000, 86000, 171000, 86900, 171900, true, 0, 0}, "ok"},
        {before, "2026-01-02", {86401, 172000, 187, 171000, 87000, 171000, 86900, 171900, false, 1, 0},
         "(this day's first orbit, under way when its data begin, carries the next revolution's number)"},
        {beforeShort, "2026-01-02", {86401, 172000, 187, 171000, 86000, 171000, 86900, 171900, false, 0, 0},
         "where 186 was due (the day before's last orbit carries the previous revolution's number"},
        {before, "2026-01-02", {86401, 172000, 188, 171000, 86000, 171000, 86900, 171900, false, 0, 0},
         "(the two element sets' revolution numbers differ by 2 from the revolutions between them)"},
        // Time.
        {before, "2026-01-02", {90000, 172000, 190, 171000, 90000, 171000, none, none, false, 0, 0},
         "hole of 3600.0 s after the day before"},
        {before, "2026-01-02", {86390, 172000, 186, 171000, 86000, 171000, none, none, false, 0, 0},
         "overlap of 10.0 s with the day before"},
        {before, "2026-01-03", {86401, 172000, 186, 171000, 86000, 171000, none, none, false, 0, 0}, "first day"},
    };
    for (const auto& c : cases) {
        std::map<std::string, DayRecord> days;
        days["2026-01-01"] = MadeUpRow("2026-01-01", c.dayBefore);
        days[c.name] = MadeUpRow(c.name, c.day);
        campaign::CrossDayChecks(days);
        const std::string got = days[c.name].continuity.value_or("");
        if (c.continuity == "ok" || c.continuity == "first day") EXPECT_EQ(got, c.continuity);
        else EXPECT_NE(got.find(c.continuity), std::string::npos) << got;
    }
}

namespace {

// Whether the process has the signal pending (its own or its group's), by
// /proc/PID/status; a process that is gone has nothing more to wait for.
bool SignalPending(pid_t pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    if (!status) return true;
    std::string line;
    const unsigned long long bit = 1ULL << (sig - 1);
    while (std::getline(status, line))
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
            if (std::stoull(line.substr(7), nullptr, 16) & bit) return true;
    return false;
}

} // namespace

TEST(Trokcampaign, StoppedRunLeavesNoProcessAndTheNextRunFinishes)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/list", a.packetFiles[12] + "\n" + a.packetFiles[13] + "\n" + a.packetFiles[14] + "\n");
    const std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run", "--list", dir + "/list", "--elements",
                                          a.history, "--out", dir + "/c", "-j", "1"};
    // SIGTERM to the driver while the first day's task runs, past the
    // instant from which a batch system's job script says a SIGTERM is its
    // time limit.
    const pid_t pid = StartInBackground(cmd, {{"TROK_TIME_LIMIT_AT", "1000000000"}}, "/dev/null");
    ASSERT_GE(pid, 0);
    // trokproc of the first day is running (its command line names the product).
    const std::string running = std::string("-ephemerisfile") + '\0' + dir + "/c/run/work/";
    for (int i = 0; i < 1000 && ProcessesNaming(running).empty(); ++i) usleep(10000);
    const std::vector<pid_t> trokproc = ProcessesNaming(running);
    ASSERT_FALSE(trokproc.empty()) << "trokproc never started";
    // Held while the stop reaches them (trokproc and what runs it), so that
    // trokproc cannot finish the day first on a busy machine; each goes on
    // once a SIGTERM is pending for it.
    std::vector<pid_t> held = trokproc;
    for (pid_t p : held) kill(p, SIGSTOP);
    kill(pid, SIGTERM);
    for (int i = 0; i < 500 && !held.empty(); ++i) {
        for (size_t j = held.size(); j-- > 0;)
            if (SignalPending(held[j], SIGTERM)) {
                kill(held[j], SIGCONT);
                held.erase(held.begin() + static_cast<long>(j));
            }
        usleep(10000);
    }
    for (pid_t p : held) kill(p, SIGCONT);
    EXPECT_EQ(Reap(pid), 128 + SIGTERM);
    EXPECT_TRUE(ProcessesNaming(dir + "/c").empty()) << "a task outlived the stopped run";
    std::map<std::string, DayRecord> days = CatalogDays(dir + "/c");
    EXPECT_EQ(days.count(a.days[14]), 0u) << "a day started after the stop";
    ASSERT_EQ(days.count(a.days[12]), 1u);
    EXPECT_EQ(days.at(a.days[12]).OutcomeText(), "stopped");
    const std::string reason = days.at(a.days[12]).reason.value_or("");
    EXPECT_EQ(reason, "stopped at the time limit (SIGTERM) while trokproc ran");
    const ProgramResult find = RunProgram({"/usr/bin/find", dir + "/c/days", "-name", "*.trokproc-tmp"});
    EXPECT_EQ(find.out, "") << "temporary files left";

    const ProgramResult again = RunProgram(cmd);
    EXPECT_EQ(again.status, 0) << again.err;
    days = CatalogDays(dir + "/c");
    for (int i : {12, 13, 14}) EXPECT_EQ(days.at(a.days[i]).OutcomeText(), "ok") << a.days[i];
}

TEST(Trokcampaign, SameInputsGiveByteIdenticalProductsAndExports)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/list", a.packetFiles[0] + "\n" + a.packetFiles[1] + "\n");
    for (const char* c : {"c1", "c2"}) {
        std::vector<std::string> cmd = {TROKCAMPAIGN_PATH, "run", "--list", dir + "/list", "--elements", a.history,
                                        "--out", dir + "/" + c, "--exports", "-j", "2"};
        if (std::string(c) == "c1") cmd.push_back("--plots");
        const ProgramResult r = RunProgram(cmd);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    for (int i = 0; i < 2; ++i)
        for (const char* ext : {".eph", ".att", ".oem", ".aem", ".tle"}) {
            const std::string name = "/days/" + a.days[i] + "/" + a.days[i] + ext;
            const std::string one = ReadFile(dir + "/c1" + name);
            EXPECT_GT(one.size(), 100u) << name;
            EXPECT_TRUE(one == ReadFile(dir + "/c2" + name)) << name << " differs";
        }
    // The report links each day's quicklook page, which is there.
    const std::string html = ReadFile(dir + "/c1/report.html");
    for (int i = 0; i < 2; ++i) {
        const std::string link = "days/" + a.days[i] + "/quicklook/report.html";
        EXPECT_NE(html.find("href='" + link + "'"), std::string::npos) << link;
        EXPECT_EQ(access((dir + "/c1/" + link).c_str(), R_OK), 0) << link;
    }
}

TEST(Trokcampaign, ReportOpensInChromiumWithEveryImageAndNoConsoleError)
{
    if (access(kChromium, X_OK) != 0)
        GTEST_SKIP() << "Chromium is not installed (Debian package chromium; as root: apt-get install -y chromium)";
    const CampaignRun& run = BaseCampaign();
    const std::string html = ReadFile(run.dir + "/report.html");
    EXPECT_EQ(html.find("http:"), std::string::npos);
    EXPECT_EQ(html.find("https:"), std::string::npos);
    EXPECT_EQ(html.find(" src='days/"), std::string::npos) << "images must be inline";
    // The not-ok days with the command that redoes one.
    EXPECT_NE(html.find("--redo " + TestArchive().days[3]), std::string::npos);

    const std::string dir = FreshTestDir();
    Browser browser(dir);
    std::string session, why;
    ASSERT_TRUE(OpenPage(browser, "file://" + run.dir + "/report.html", session, why)) << why;
    const std::string loaded = browser.Call(
        "Runtime.evaluate",
        "{\"expression\":\"(() => { const im = Array.from(document.images); return im.filter(i => i.complete && "
        "i.naturalWidth > 0).length + ' of ' + im.length; })()\",\"returnByValue\":true}",
        session);
    EXPECT_EQ(JsonString(loaded, "value"), "6 of 6");
    // One calendar cell per day, its reason on hover.
    const std::string cells = browser.Call(
        "Runtime.evaluate",
        "{\"expression\":\"document.querySelectorAll('.cal td [title]').length + ' ' + "
        "document.querySelector('.cal td [title*=\\\"Packet File Read Error\\\"]').title.slice(0, 10)\","
        "\"returnByValue\":true}",
        session);
    EXPECT_EQ(JsonString(cells, "value"), "20 " + TestArchive().days[3]);
    for (const std::string& e : PageErrors(browser)) ADD_FAILURE() << e;
    browser.Stop();
    EXPECT_TRUE(ProcessesNaming(dir + "/profile").empty()) << "a browser process outlived the test";
}

TEST(Trokcampaign, BadArgumentsAndInputsEndWith255AndOneMessage)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/twice", a.packetFiles[0] + "\n" + dir + "/../x/2026-06-21.pkt\n");
    mkdir((dir + "/open").c_str(), 0755);
    chmod((dir + "/open").c_str(), 0777);   // anyone may plant files in it
    mkdir((dir + "/sticky").c_str(), 0755);
    chmod((dir + "/sticky").c_str(), 01777);   // anyone may add names, and plant folders
    mkfifo((dir + "/fifo.pkt").c_str(), 0600);
    WriteFile(dir + "/fifolist", dir + "/fifo.pkt\n");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"run"}, "give one of --archive DIR and --list FILE"},
        {{"run", "--archive", a.archive, "--list", dir + "/twice", "--elements", a.history, "--out", dir + "/c"},
         "give one of --archive DIR and --list FILE"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/c", "--no-wait"},
         "--no-wait goes with --engine slurm"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/c", "--engine", "pbs"},
         "--engine takes local or slurm, not \"pbs\""},
        {{"run", "--archive", a.archive, "--elements", dir + "/none.tle", "--out", dir + "/c"},
         "none.tle: cannot read the element sets: No such file or directory"},
        {{"run", "--list", dir + "/twice", "--elements", a.history, "--out", dir + "/c"},
         "are both packet files of 2026-06-21"},
        {{"run", "--archive", dir, "--elements", a.history, "--out", dir + "/c"}, "no packet files"},
        {{"status", dir}, "not a campaign (no catalog.sqlite)"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/open"},
         "cannot use the campaign folder: " + dir + "/open is writable by others"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/sticky"},
         "cannot use the campaign folder: " + dir + "/sticky is writable by others"},
        {{"run", "--list", dir + "/fifolist", "--elements", a.history, "--out", dir + "/c"},
         "fifo.pkt: no day in its name (YYYY/MM/DD.pkt, YYYY-MM-DD or YYYYMMDD) and cannot be read to date it: a "
         "FIFO, not a regular file"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", "  "}, "\"  \": a name of blanks"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/c", "--out", dir + "/d"},
         "--out is given twice"},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/c", "--timeout", "0x10"},
         "--timeout takes a number of seconds above 0, at most 8640000 (100 days), not \"0x10\""},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/c", "--timeout", "1e308"},
         "not \"1e308\""},
        {{"run", "--archive", a.archive, "--elements", a.history, "--out", dir + "/c", "-j", " 2"},
         "-j takes a number of jobs from 1 to 1024, not \" 2\""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"/usr/bin/timeout", "60", TROKCAMPAIGN_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProgramResult r = RunProgram(argv);
        EXPECT_EQ(r.status, 255) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("trokcampaign: ", 0), 0u) << r.err;
    }
    // Nothing was written into the folders others can write to.
    for (const char* open : {"/open", "/sticky"}) EXPECT_TRUE(Temporaries(dir + open).empty() && access((dir + open + "/run").c_str(), F_OK) != 0);
}

TEST(Trokjob, NameOptionNamesTheProducts)
{
    const CampaignArchive& a = TestArchive();
    const std::string dir = FreshTestDir();
    const ProgramResult r = RunProgram({std::string(TROK_SOURCE_DIR) + "/jobs/trokjob", "--name", a.days[0],
                                        a.packetFiles[0], a.element, dir + "/out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(access((dir + "/out/" + a.days[0] + ".eph").c_str(), R_OK), 0);
    EXPECT_EQ(access((dir + "/out/" + a.days[0] + ".att").c_str(), R_OK), 0);
    for (const char* bad : {"a/b", "..", ".hidden"}) {
        const ProgramResult b = RunProgram({std::string(TROK_SOURCE_DIR) + "/jobs/trokjob", "--name", bad,
                                            a.packetFiles[0], a.element, dir + "/out"});
        EXPECT_EQ(b.status, 2) << bad;
    }
}

} // namespace
