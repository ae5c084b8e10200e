// pktmerge on trokgen's recorder dumps, through the real trokproc: the
// merged day's products are the clean day's whatever the order of the
// dumps; the report names what was resolved and what is still missing; a
// stretch across midnight splits where the campaign's days do; inputs that
// cannot be used get one reason each.
#include <gtest/gtest.h>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"
#include "text_lines.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/time/utcday.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"

namespace {

const std::string kMerge = PKTMERGE_PATH, kGen = TROKGEN_PATH, kTrok = TROKPROC_PATH;

// Lines printed by a Python expression over the JSON report `r` (one line
// per item when it is a list).
std::string Query(const std::string& dir, const std::string& report, const std::string& expr)
{
    const ProgramResult r = RunProgram(
        {"/usr/bin/python3", "-c",
         "import json,sys\nr = json.load(open(sys.argv[1]))\nv = " + expr +
             "\nprint('\\n'.join(map(str, v)) if isinstance(v, list) else v)",
         report},
        dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

std::vector<std::string> Files(const std::string& dir)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') out.push_back(e->d_name);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The time tags (TAI93 seconds) of the telemetry packets of a file, by
// trokproc's own reader.
std::vector<double> TimeTags(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    std::vector<double> out;
    trokpacket pkt;
    for (size_t n = 0; n < file.NoPackets(); ++n) {
        file.ReadPacket(pkt, n);
        out.push_back((pkt.TimeTag() - 2448988.5003125) * 86400.0);
    }
    return out;
}

// A simulated day with gaps, repeats and other packets, as a clean file
// and as recorder dumps, and the clean day's products.
class DumpedDay : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        pelk = GetParam();
        std::vector<std::string> gen{kGen, "--out", "day.pkt", "--config", "day.cfg", "--seconds", "86400",
                                     "--small-gaps", "3", "--large-gaps", "1", "--other-apid", "20", "--repeats",
                                     "2", "--seed", "21", "--dumps", "dumps"};
        if (pelk) gen.push_back("--pelk");
        const ProgramResult g = RunProgram(gen, dir);
        ASSERT_EQ(g.status, 0) << g.err;
        ASSERT_EQ(Run({kTrok, "-configfile", "day.cfg", "-ephemerisfile", "clean.eph", "-attitudefile", "clean.att"})
                      .status,
                  0);
        for (const std::string& name : Lines(ReadFile(dir + "/dumps/arrival.txt"))) arrival.push_back("dumps/" + name);
        for (const std::string& line : Lines(ReadFile(dir + "/dumps/faults.txt"))) {
            const std::vector<std::string> f = TabFields(line);
            faults.emplace(f[0], f.size() > 1 ? std::vector<std::string>(f.begin() + 1, f.end()) : f);
        }
    }

    ProgramResult Run(const std::vector<std::string>& argv) { return RunProgram(argv, dir); }

    ProgramResult Merge(const std::string& out, const std::string& report, std::vector<std::string> dumps)
    {
        std::vector<std::string> argv{kMerge, "-o", out, "--json", report};
        if (pelk) argv.insert(argv.end(), {"--satellite", "PELK"});
        argv.insert(argv.end(), dumps.begin(), dumps.end());
        return Run(argv);
    }

    // The fault of a kind: its dump and offset.
    std::pair<std::string, std::string> Fault(const std::string& kind)
    {
        const auto f = faults.find(kind);
        EXPECT_NE(f, faults.end()) << kind;
        if (f == faults.end()) return {};
        return {"dumps/" + f->second[0], f->second.size() > 1 ? f->second[1] : ""};
    }

    const std::string dir = FreshTestDir();
    bool pelk = false;
    std::vector<std::string> arrival;
    std::multimap<std::string, std::vector<std::string>> faults;
};

} // namespace

// The dumps in arrival order merge into a file whose products are the clean
// day's byte for byte; in another order, with a dump given twice, the same
// bytes and the same report.
TEST_P(DumpedDay, MergedProductsAreTheCleanDaysInAnyOrder)
{
    const ProgramResult r = Merge("merged.pkt", "merged.json", arrival);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 3u) << r.err;
    EXPECT_EQ(r.err.rfind("pktmerge: " + std::to_string(arrival.size()) + " inputs (1 with the content of another, 0 refused)", 0), 0u)
        << r.err;
    ASSERT_EQ(Run({kTrok, "-configfile", "day.cfg", "-packetfile", "merged.pkt"}).status, 0);
    EXPECT_TRUE(ReadFile(dir + "/day.eph") == ReadFile(dir + "/clean.eph")) << "ephemeris differs";
    EXPECT_TRUE(ReadFile(dir + "/day.att") == ReadFile(dir + "/clean.att")) << "attitude differs";

    std::vector<std::string> shuffled(arrival.rbegin(), arrival.rend());
    std::rotate(shuffled.begin(), shuffled.begin() + 3, shuffled.end());
    shuffled.push_back(shuffled[1]);
    const ProgramResult again = Merge("again.pkt", "again.json", shuffled);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.err, r.err);
    EXPECT_TRUE(ReadFile(dir + "/again.pkt") == ReadFile(dir + "/merged.pkt"));
    EXPECT_EQ(ReadFile(dir + "/again.json"), ReadFile(dir + "/merged.json"));
}

// The report names every input once, with its content hash, in the order
// of the hashes; the resent dump as the copy of its original; the conflicts
// of the damaged copies with the clean copy chosen; the splice and the
// damaged time tag dropped; and the gaps the clean day has.
TEST_P(DumpedDay, ReportNamesInputsConflictsDropsAndGaps)
{
    ASSERT_EQ(Merge("merged.pkt", "m.json", arrival).status, 0);
    std::vector<std::string> hashed;
    for (const std::string& name : arrival) hashed.push_back(toolkit::Sha256Hex(ReadFile(dir + "/" + name)) + " " + name);
    std::sort(hashed.begin(), hashed.end());
    EXPECT_EQ(Query(dir, "m.json", "['%s %s' % (i['sha256'], i['name']) for i in r['inputs']]"),
              [&] {
                  std::string s;
                  for (const std::string& h : hashed) s += h + "\n";
                  return s;
              }());
    const auto resent = faults.find("resent")->second;
    EXPECT_EQ(Query(dir, "m.json", "[(i['name'], i['used']) for i in r['inputs'] if 'duplicate_of' in i]"),
              "('dumps/" + resent[1] + "', 0)\n");
    EXPECT_EQ(Query(dir, "m.json", "[i['duplicate_of'] for i in r['inputs'] if 'duplicate_of' in i]"),
              "dumps/" + resent[0] + "\n");
    EXPECT_EQ(Query(dir, "m.json", "sum(i['used'] for i in r['inputs']) == r['packets']"), "True\n");

    // Each damaged copy loses a conflict whose chosen copy lies elsewhere.
    const auto position = Fault("position"), length = Fault("length");
    std::vector<std::string> losers{"('best-fit', '" + position.first + "', " + position.second + ")",
                                    "('packet-rules', '" + length.first + "', " + length.second + ")"};
    std::sort(losers.begin(), losers.end());
    EXPECT_EQ(Query(dir, "m.json",
                    "sorted((c['reason'], p['input'], p['offset']) for c in r['conflicts'] "
                    "for k, x in enumerate(c['copies']) if k != c['chosen'] for p in x['inputs'])"),
              losers[0] + "\n" + losers[1] + "\n");
    EXPECT_EQ(Query(dir, "m.json", "len(r['conflicts'])"), "2\n");

    const auto splice = Fault("splice"), timeTag = Fault("time-tag");
    EXPECT_EQ(Query(dir, "m.json", "sorted((d['reason'], d['input'], d['offset']) for d in r['dropped'])"),
              "('damaged time tag', '" + timeTag.first + "', " + timeTag.second + ")\n('splice', '" + splice.first +
                  "', " + splice.second + ")\n");

    // The gaps of the clean day: every step over 1.1 s between its packets.
    trokpacket::pktsize = pelk ? 214 : 126;
    trokpacket::apid = pelk ? 967 : 957;
    const std::vector<double> t = TimeTags(dir + "/day.pkt");
    trokpacket::pktsize = 126;
    trokpacket::apid = 957;
    std::string gaps;
    for (size_t i = 1; i < t.size(); ++i)
        if (t[i] - t[i - 1] > 1.1) gaps += std::to_string(static_cast<long>(t[i - 1] * 10)) + "\n";
    EXPECT_EQ(Lines(gaps).size(), 4u);
    EXPECT_EQ(Query(dir, "m.json", "[int(g['start_tai93'] * 10) for g in r['gaps']]"), gaps);
    EXPECT_EQ(Query(dir, "m.json", "(r['packets'], r['repeats'] > 0, sum(r['other_apids'].values()) > 20)"),
              "(" + std::to_string(t.size()) + ", True, True)\n");
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, DumpedDay, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "pelk" : "vorn"; });

// Three hours across midnight: --by-day writes two files that together are
// the stretch, each packet on the side of the midnight the campaign's days
// have; --day gives the same day alone.
TEST(PktmergeDays, AStretchAcrossMidnightSplitsWhereTheCampaignsDaysDo)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(RunProgram({kGen, "--out", "s.pkt", "--start", "2026-06-01T22:30:00Z", "--seconds", "10800", "--seed",
                          "4", "--dumps", "d"},
                         dir)
                  .status,
              0);
    std::vector<std::string> argv{kMerge, "--by-day", "out", "-q", "--json", "days.json"};
    for (const std::string& name : Lines(ReadFile(dir + "/d/arrival.txt"))) argv.push_back("d/" + name);
    const ProgramResult r = RunProgram(argv, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Files(dir + "/out/2026/06"), (std::vector<std::string>{"01.pkt", "02.pkt"}));
    const std::string first = ReadFile(dir + "/out/2026/06/01.pkt"), second = ReadFile(dir + "/out/2026/06/02.pkt");
    EXPECT_TRUE(first + second == ReadFile(dir + "/s.pkt"));
    const double midnight = toolkit::DayStartTai93("2026-06-02");
    const std::vector<double> before = TimeTags(dir + "/out/2026/06/01.pkt"), after = TimeTags(dir + "/out/2026/06/02.pkt");
    ASSERT_GT(before.size(), 5000u);
    ASSERT_GT(after.size(), 5000u);
    EXPECT_LT(before.back(), midnight);
    EXPECT_GE(after.front(), midnight);
    EXPECT_LT(after.front() - before.back(), 1.1);
    EXPECT_EQ(Query(dir, "days.json", "[(d['day'], d['packets']) for d in r['days']]"),
              "('2026-06-01', " + std::to_string(before.size()) + ")\n('2026-06-02', " + std::to_string(after.size()) +
                  ")\n");

    argv = {kMerge, "-o", "second.pkt", "-q", "--day", "2026-06-02"};
    for (const std::string& name : Files(dir + "/d"))
        if (name.size() > 4 && name.substr(name.size() - 4) == ".pkt") argv.push_back("d/" + name);
    ASSERT_EQ(RunProgram(argv, dir).status, 0);
    EXPECT_TRUE(ReadFile(dir + "/second.pkt") == second);
    argv[5] = "2026-06-03";
    const ProgramResult none = RunProgram(argv, dir);
    EXPECT_EQ(none.status, 255);
    EXPECT_EQ(none.err, "pktmerge: nothing to merge: no telemetry packets of APID 957 (126-byte packets) on 2026-06-03\n");
}

// Inputs that cannot be used: one reason each; beside a good input the
// output is written with status 1, alone nothing is written and the status
// is 255. None of them blocks or ends the run otherwise.
TEST(PktmergeInputs, UnusableInputsAreRefusedEachWithItsReason)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/good.pkt", Steady(0, 100).Bytes());
    std::string noise(50000, '\0');
    uint32_t seed = 5;
    for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    WriteFile(dir + "/noise.pkt", noise);
    WriteFile(dir + "/empty.pkt", "");
    toolkit::PacketFileBuilder others;
    for (unsigned k = 0; k < 30; ++k) others.AddOther(1010, 40 + k, k);
    WriteFile(dir + "/others.pkt", others.Bytes());
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
    std::vector<std::pair<std::string, std::string>> bad{
        {"noise.pkt", "holds no telemetry packets of APID 957 (126-byte packets)"},
        {"empty.pkt", "holds no telemetry packets of APID 957 (126-byte packets)"},
        {"others.pkt", "holds no telemetry packets of APID 957 (126-byte packets)"},
        {"fifo", "a FIFO, not a regular file"},
        {"folder", "a folder, not a regular file"},
        {"missing.pkt", "No such file or directory"},
    };
    // A link another user planted, to a file of ours.
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && nobody) {
        ASSERT_EQ(symlink("good.pkt", (dir + "/theirs.pkt").c_str()), 0);
        ASSERT_EQ(lchown((dir + "/theirs.pkt").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        bad.emplace_back("theirs.pkt", "a link of another user");
    }
    ASSERT_EQ(symlink("good.pkt", (dir + "/mine.pkt").c_str()), 0);
    for (const auto& b : bad) {
        SCOPED_TRACE(b.first);
        ProgramResult r = RunProgram({kMerge, "-o", "out.pkt", "--json", "out.json", b.first}, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "pktmerge: " + b.first + ": refused: " + b.second +
                             "\npktmerge: nothing to merge: no telemetry packets of APID 957 (126-byte packets) in "
                             "the inputs\n");
        struct stat st;
        EXPECT_NE(stat((dir + "/out.pkt").c_str(), &st), 0);
        EXPECT_NE(stat((dir + "/out.json").c_str(), &st), 0);
        EXPECT_TRUE(Temporaries(dir).empty());

        r = RunProgram({kMerge, "-o", "out.pkt", "-q", "--json", "out.json", b.first, "mine.pkt"}, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "pktmerge: " + b.first + ": refused: " + b.second + "\n");
        EXPECT_TRUE(ReadFile(dir + "/out.pkt") == Steady(0, 100).Bytes());
        EXPECT_EQ(Query(dir, "out.json", "[i['refused'] for i in r['inputs'] if 'refused' in i]"), b.second + "\n");
        unlink((dir + "/out.pkt").c_str());
        unlink((dir + "/out.json").c_str());
    }
}

TEST(PktmergeInputs, BadArgumentsAndOutputsThatCannotBeWritten)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/a.pkt", Steady(0, 10).Bytes());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{kMerge, "-o", "x.pkt"}, "pktmerge: no dump given (see pktmerge --help)\n"},
        {{kMerge, "a.pkt"}, "pktmerge: give -o OUT or --by-day DIR (see pktmerge --help)\n"},
        {{kMerge, "-o", "x.pkt", "--by-day", "d", "a.pkt"}, "pktmerge: give -o or --by-day, not both (see pktmerge --help)\n"},
        {{kMerge, "--by-day", "d", "--day", "2026-06-01", "a.pkt"}, "pktmerge: --day goes with -o only (see pktmerge --help)\n"},
        {{kMerge, "-o", "x.pkt", "--day", "2026-02-30", "a.pkt"},
         "pktmerge: --day takes a UTC day YYYY-MM-DD (1958 to 2099), not \"2026-02-30\"\n"},
        {{kMerge, "-o", "./a.pkt", "a.pkt"}, "pktmerge: output file \"./a.pkt\" and input file \"a.pkt\" are the same file\n"},
        {{kMerge, "-o", "x.pkt", "--json", "a.pkt", "a.pkt"},
         "pktmerge: report file \"a.pkt\" and input file \"a.pkt\" are the same file\n"},
        {{kMerge, "-o", " ", "a.pkt"}, "pktmerge: the output file has no name (\" \" is blank or empty)\n"},
        {{kMerge, "--frobnicate", "a.pkt"}, "pktmerge: unknown option --frobnicate (see pktmerge --help)\n"},
        {{kMerge, "-o", "nodir/x.pkt", "a.pkt"},
         "pktmerge: cannot open the output file \"nodir/x.pkt\": No such file or directory\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = RunProgram(c.first, dir);
        EXPECT_EQ(r.status, 255) << c.second;
        EXPECT_EQ(r.err, c.second);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(Files(dir), std::vector<std::string>{"a.pkt"});
    if (access("/dev/full", W_OK) == 0) {
        const ProgramResult r = RunProgram({kMerge, "-o", "/dev/full", "a.pkt"}, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err.rfind("pktmerge: cannot write \"/dev/full\": ", 0), 0u) << r.err;
    }
    const ProgramResult v = RunProgram({kMerge, "--version"}, dir);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("pktmerge ", 0), 0u);
}

// The dumps of an archive's days merge back into the archive's stream, a
// file for each day with the packets of that UTC day: trokgen cuts its
// archive every 86400 s from the start, 2.7 ms a day short of a UTC day of
// the products' model, so the first packet of its second file is still the
// first day's by the shared midnight.
TEST(PktmergeDays, AnArchivesDumpsMergeBackIntoItsDays)
{
    const std::string dir = FreshTestDir();
    const ProgramResult g =
        RunProgram({kGen, "--archive", "arc", "--days", "2", "--seed", "6", "--small-gaps", "4", "--dumps", "d"}, dir);
    ASSERT_EQ(g.status, 0) << g.err;
    std::vector<std::string> argv{kMerge, "--by-day", "out", "-q"};
    for (const std::string& name : Lines(ReadFile(dir + "/d/arrival.txt"))) argv.push_back("d/" + name);
    const ProgramResult r = RunProgram(argv, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    // trokgen cuts its archive at the same midnights, so the days come back
    // as they were written, byte for byte.
    EXPECT_EQ(Files(dir + "/out/2026/06"), Files(dir + "/arc/2026/06"));
    EXPECT_TRUE(ReadFile(dir + "/out/2026/06/01.pkt") == ReadFile(dir + "/arc/2026/06/01.pkt"));
    EXPECT_TRUE(ReadFile(dir + "/out/2026/06/02.pkt") == ReadFile(dir + "/arc/2026/06/02.pkt"));
    const double midnight = toolkit::DayStartTai93("2026-06-02");
    EXPECT_LT(TimeTags(dir + "/arc/2026/06/01.pkt").back(), midnight);
    EXPECT_GE(TimeTags(dir + "/arc/2026/06/02.pkt").front(), midnight);
}

// The report carries names as the other JSON outputs do: UTF-8 as it is,
// other bytes as lone surrogates that Python's surrogateescape turns back.
TEST(PktmergeInputs, ReportNamesComeBackAsTheyWereGiven)
{
    const std::string dir = FreshTestDir();
    const std::string names[] = {"lat\xc3\xa9 \xe2\x82\xac.pkt", "\xe9t\xe9.pkt", "q\"b\\t\tn.pkt"};
    for (size_t i = 0; i < 3; ++i) WriteFile(dir + "/" + names[i], Steady(10 * i, 12).Bytes());
    ASSERT_EQ(RunProgram({kMerge, "-o", "m.pkt", "-q", "--json", "m.json", names[0], names[1], names[2]}, dir).status,
              0);
    std::vector<std::string> hex;
    for (const std::string& n : names) {
        std::string h;
        for (unsigned char c : n) {
            char b[3];
            std::snprintf(b, sizeof b, "%02x", c);
            h += b;
        }
        hex.push_back(h);
    }
    std::sort(hex.begin(), hex.end());
    EXPECT_EQ(Query(dir, "m.json", "sorted(i['name'].encode('utf-8', 'surrogateescape').hex() for i in r['inputs'])"),
              hex[0] + "\n" + hex[1] + "\n" + hex[2] + "\n");
}
