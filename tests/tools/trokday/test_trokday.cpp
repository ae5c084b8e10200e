// trokday end to end: each outcome with its status, run log line and
// messages; the exports and the quicklook page; --skip-done, which skips
// only products made from the same inputs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "run_program.h"
#include "toolkit/cli/tab_fields.h"

namespace {

// 20 minutes of telemetry, its element set, the same cut inside a packet,
// and the 40 minutes it is the first half of, in `dir`.
struct Day {
    std::string dir, pkt, tle, cut, longer;
};

Day MakeDay(const std::string& dir)
{
    Day d;
    d.dir = dir;
    d.pkt = d.dir + "/day.pkt";
    d.tle = d.dir + "/day.tle";
    d.cut = d.dir + "/cut.pkt";
    d.longer = d.dir + "/longer.pkt";
    EXPECT_EQ(RunProgram({TROKGEN_PATH, "--out", d.longer, "--tle", d.tle, "--seconds", "2400"}).status, 0);
    const std::string bytes = ReadFile(d.longer);
    WriteFile(d.pkt, bytes.substr(0, bytes.size() / 2));
    WriteFile(d.cut, bytes.substr(0, 5000));
    return d;
}

// The fields of the run log's last line.
std::vector<std::string> LastLine(const std::string& runlog)
{
    std::string text = ReadFile(runlog);
    if (text.empty()) return {};
    text.pop_back();
    return toolkit::TabFields(text.substr(text.rfind('\n') + 1));
}

// A stand-in for trokproc: a shell script.
std::string FakeTrokproc(const std::string& dir, const std::string& body)
{
    const std::string path = dir + "/fake-trokproc";
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
}

ProgramResult Trokday(std::vector<std::string> args, const std::string& trokproc = TROKPROC_PATH)
{
    args.insert(args.begin(), {"/usr/bin/env", "TROKPROC=" + trokproc, TROKDAY_PATH});
    return RunProgram(args);
}

TEST(Trokday, EachOutcomeHasItsStatusItsLineAndItsMessage)
{
    const std::string dir = FreshTestDir(), out = dir + "/out", log = out + "/runlog.tsv";
    const Day d = MakeDay(dir);
    WriteFile(dir + "/nosuchsat.cfg", "-noradsatname NOSUCHSAT\n");
    const struct {
        std::vector<std::string> args;
        std::string trokproc;   // "" for the real one
        int status;
        const char* outcome;
        std::string reason;     // "" for none, else its beginning
        std::string said;       // on standard error
    } cases[] = {
        {{d.pkt, d.tle, out}, "", 0, "ok", "-", ""},
        {{d.cut, d.tle, out}, "", 255, "input-refused", "Packet File Read Error", "\nPacket File Read Error"},
        {{"--config", dir + "/nosuchsat.cfg", "--name", "bad", d.pkt, d.tle, out}, "", 3, "check-failed",
         "qlrdump: check failed: ephemeris header", "check of " + out + "/bad.eph and " + out + "/bad.att failed"},
        {{"--name", "aged", "--max-element-age", "0.001", d.pkt, d.tle, out}, "", 0, "ok", "-", ""},
        {{"--name", "f", d.pkt, d.tle, out}, "echo broken >&2; exit 7", 7, "failed", "broken",
         "trokproc ended with status 7"},
        {{"--name", "crash", d.pkt, d.tle, out}, "kill -SEGV $$", 139, "failed", "trokproc ended with signal 11",
         ""},
        {{"--name", "s", d.pkt, d.tle, out}, "kill -TERM $PPID $$", 143, "stopped", "stopped by SIGTERM", ""},
        {{"--name", "k", d.pkt, d.tle, out}, "kill -KILL $$", 137, "stopped", "trokproc ended by signal 9", ""},
        {{"--name", "t", "--time-limit", "1", d.pkt, d.tle, out}, "sleep 0.2; kill -TERM $PPID $$", 143,
         "time-limit", "SIGTERM at the time limit", ""},
    };
    for (const auto& c : cases) {
        const ProgramResult r = Trokday(c.args, c.trokproc.empty() ? TROKPROC_PATH : FakeTrokproc(dir, c.trokproc));
        const std::string what = c.outcome + std::string(" ") + c.args.front();
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        const std::vector<std::string> f = LastLine(log);
        ASSERT_EQ(f.size(), 9u) << what;
        EXPECT_EQ(f[2], c.args[c.args.size() - 3]) << what;
        EXPECT_EQ(f[3], std::to_string(c.status)) << what;
        EXPECT_EQ(f[4], c.outcome) << what;
        EXPECT_EQ(f[8].rfind(c.reason, 0), 0u) << what << ": " << f[8];
        EXPECT_NE(r.err.find(c.said), std::string::npos) << what << ": " << r.err;
        if (c.outcome == std::string("ok")) {
            EXPECT_NE(f[5], "-") << what;
        }
        if (c.outcome == std::string("check-failed")) {
            EXPECT_NE(r.err.find(f[8] + "\n"), std::string::npos) << "the reason is the first check failed line";
            EXPECT_EQ(r.err.find("qlrdump: check failed:"), r.err.find(f[8])) << r.err;
        }
    }
    // The stopped jobs left no product and no temporary file.
    for (const char* name : {"s", "k", "t", "f"})
        EXPECT_NE(access((out + "/" + name + ".eph").c_str(), F_OK), 0) << name;
    EXPECT_TRUE(Temporaries(out).empty());
}

TEST(Trokday, ExportsAndTheQuicklookPageWhenAsked)
{
    const std::string dir = FreshTestDir(), out = dir + "/out";
    const Day d = MakeDay(dir);
    const ProgramResult r = Trokday({"--exports", "--plots", d.pkt, d.tle, out});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* f : {"day.eph", "day.att", "day.oem", "day.aem", "day.quicklook/report.html", "day.made"})
        EXPECT_EQ(access((out + "/" + f).c_str(), R_OK), 0) << f;
    const std::string made = ReadFile(out + "/day.made");
    for (const char* role : {"\npacket\t", "\nelements\t", "\nconfig\t", "\neph\t", "\natt\t", "\noem\t", "\naem\t",
                             "\nquicklook\t"})
        EXPECT_NE(made.find(role), std::string::npos) << role << made;
    EXPECT_EQ(LastLine(out + "/runlog.tsv").at(4), "ok");
}

// --skip-done skips only products made from the same packet file, element
// file and configuration that are still the ones made.
TEST(Trokday, SkipDoneKeepsOnlyProductsMadeFromTheSameInputs)
{
    const std::string dir = FreshTestDir(), out = dir + "/out", pkt = dir + "/in.pkt", tle = dir + "/in.tle";
    const Day d = MakeDay(dir);
    WriteFile(pkt, ReadFile(d.pkt));
    WriteFile(tle, ReadFile(d.tle));
    const std::vector<std::string> job = {"--skip-done", pkt, tle, out};
    auto stamp = [&] {
        struct stat st;
        return stat((out + "/in.eph").c_str(), &st) == 0 ? std::to_string(st.st_ino) + "." +
                                                                std::to_string(st.st_mtim.tv_nsec)
                                                          : std::string();
    };
    auto outcome = [&] { return LastLine(out + "/runlog.tsv").at(4); };
    ASSERT_EQ(Trokday(job).status, 0);
    EXPECT_EQ(outcome(), "ok");
    std::string made = stamp();

    ASSERT_EQ(Trokday(job).status, 0);
    EXPECT_EQ(outcome(), "skipped");
    EXPECT_EQ(LastLine(out + "/runlog.tsv").at(5), LastLine(out + "/runlog.tsv").at(5));
    EXPECT_EQ(stamp(), made);
    // The same bytes written anew: still the same input.
    WriteFile(pkt, ReadFile(d.pkt));
    ASSERT_EQ(Trokday(job).status, 0);
    EXPECT_EQ(outcome(), "skipped");

    const struct {
        const char* change;
        std::function<void()> apply;
    } changes[] = {
        {"the packet file grew with a later dump", [&] { WriteFile(pkt, ReadFile(d.longer)); }},
        {"another element file", [&] { WriteFile(tle, ReadFile(d.tle) + "\n"); }},
        {"a product replaced", [&] { WriteFile(out + "/in.att", ReadFile(out + "/in.att") + "x"); }},
        {"no record", [&] { unlink((out + "/in.made").c_str()); }},
    };
    for (const auto& c : changes) {
        c.apply();
        const ProgramResult r = Trokday(job);
        EXPECT_EQ(r.status, 0) << c.change << ": " << r.err;
        EXPECT_EQ(outcome(), "ok") << c.change;
        EXPECT_NE(stamp(), made) << c.change;
        made = stamp();
        ASSERT_EQ(Trokday(job).status, 0);
        EXPECT_EQ(outcome(), "skipped") << "after " << c.change;
    }
}

TEST(Trokday, WrongArgumentsEndWith2AndTheUsage)
{
    const std::string dir = FreshTestDir();
    const Day d = MakeDay(dir);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus", "x"}, "trokday: unknown option --bogus\ntrokday: usage: trokday "},
        {{d.pkt, d.tle}, "trokday: usage: trokday "},
        {{"--time-limit", "0", d.pkt, d.tle, dir}, "trokday: --time-limit: not a whole number of seconds: 0\n"},
        {{"--name", "a/b", d.pkt, d.tle, dir}, "--name takes a plain file name not starting with '.', not a/b\n"},
        {{dir + "/.pkt", d.tle, dir}, ": no product name can be made from this name\n"},
        {{"--job-name", "trokjob", "--runlog"}, "trokjob: --runlog needs a value\ntrokjob: usage: trokjob "},
    };
    for (const auto& c : cases) {
        const ProgramResult r = Trokday(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(access((dir + "/runlog.tsv").c_str(), F_OK), -1) << "a refused job logs nothing";
}

} // namespace
