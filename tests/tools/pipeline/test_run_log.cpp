// The run log's line: nine fields, escaped, the reason cut to 300
// characters; appended with one write, refused for another user's log.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "pipeline/product_names.h"
#include "pipeline/run_log.h"
#include "pipeline/time_limit.h"
#include "run_program.h"
#include "toolkit/cli/tab_fields.h"

namespace {

TEST(RunLog, NineFieldsEachReadingBackExactly)
{
    pipeline::RunLogLine l;
    l.end = 1796782969;   // 2026-12-09T02:22:49Z
    l.host = "node\t1";
    l.packet = "in/a\\b\nc\rd.pkt";
    l.status = 143;
    l.outcome = pipeline::Outcome::TimeLimit;
    l.seconds = 2.0999;
    l.reason = "SIGTERM at the time limit";
    const std::string text = pipeline::RunLogText(l);
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text, "2026-12-09T02:22:49Z\tnode\\t1\tin/a\\\\b\\nc\\rd.pkt\t143\ttime-limit\t-\t-\t2.099\t"
                    "SIGTERM at the time limit\n");
    const std::vector<std::string> fields = toolkit::TabFields(text.substr(0, text.size() - 1));
    ASSERT_EQ(fields.size(), 9u);
    EXPECT_EQ(fields[1], l.host);
    EXPECT_EQ(fields[2], l.packet);

    // No reason: "-"; a long one: 300 characters (not bytes), then "...".
    l.reason.clear();
    EXPECT_EQ(pipeline::RunLogText(l).substr(text.rfind('\t', text.size() - 2)), "\t-\n");
    l.reason = std::string(299, 'x') + "\xc3\xa9\xc3\xa9";
    const std::string cut = pipeline::RunLogText(l);
    EXPECT_EQ(cut.substr(cut.rfind('\t') + 1), std::string(299, 'x') + "\xc3\xa9...\n");
}

TEST(RunLog, AppendedWholeOrRefusedWithTheReason)
{
    const std::string dir = FreshTestDir();
    std::string message;
    ASSERT_TRUE(pipeline::AppendRunLog(dir + "/runlog.tsv", "a\n", message)) << message;
    ASSERT_TRUE(pipeline::AppendRunLog(dir + "/runlog.tsv", "b\n", message)) << message;
    EXPECT_EQ(ReadFile(dir + "/runlog.tsv"), "a\nb\n");
    EXPECT_FALSE(pipeline::AppendRunLog(dir + "/none/runlog.tsv", "a\n", message));
    EXPECT_EQ(message, dir + "/none/runlog.tsv: cannot append the run line");
    if (geteuid() != 0) return;
    WriteFile(dir + "/theirs.tsv", "");
    ASSERT_EQ(chown((dir + "/theirs.tsv").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(pipeline::AppendRunLog(dir + "/theirs.tsv", "a\n", message));
    EXPECT_EQ(message, dir + "/theirs.tsv: a file of another user; the run line is not written");
    EXPECT_EQ(ReadFile(dir + "/theirs.tsv"), "");
}

TEST(TimeLimit, ASigtermFromOneSecondBeforeTheLimitOnIsTheLimit)
{
    const pipeline::TimeLimit limit = pipeline::TimeLimit::After(1000.5, 10);
    EXPECT_FALSE(limit.Reached(SIGTERM, 1009.4));
    EXPECT_TRUE(limit.Reached(SIGTERM, 1009.5));
    EXPECT_TRUE(limit.Reached(SIGTERM, 2000));
    EXPECT_FALSE(limit.Reached(SIGINT, 2000)) << "only a SIGTERM is a time limit";
    EXPECT_FALSE(pipeline::TimeLimit().Reached(SIGTERM, 2000));
    EXPECT_TRUE(limit.Earlier(pipeline::TimeLimit::After(0, 5)).Reached(SIGTERM, 4));
    EXPECT_TRUE(pipeline::TimeLimit().Earlier(limit).Reached(SIGTERM, 1009.5));
    for (const char* bad : {"", "soon", "12x", "-5"}) {
        setenv("TROK_TIME_LIMIT_AT", bad, 1);
        EXPECT_FALSE(pipeline::TimeLimit::FromEnvironment().Set()) << bad;
    }
    setenv("TROK_TIME_LIMIT_AT", "1000", 1);
    EXPECT_TRUE(pipeline::TimeLimit::FromEnvironment().Reached(SIGTERM, 999));
    unsetenv("TROK_TIME_LIMIT_AT");
}

TEST(ProductNames, FromThePacketFileAndAListThatMakesOneTwice)
{
    const std::pair<const char*, const char*> names[] = {
        {"in/2026-06-01.pkt", "2026-06-01"}, {"a.b.pkt", "a.b"}, {"noext", "noext"}, {"in/.pkt", ""}, {"in/", ""}};
    for (const auto& n : names) EXPECT_EQ(pipeline::ProductName(n.first), n.second) << n.first;
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/list", "A/day.pkt\n\n  \nB/day.pkt\nin/.pkt\nday.raw\nother.pkt");
    std::vector<std::string> messages;
    EXPECT_FALSE(pipeline::CheckList(dir + "/list", messages));
    const std::vector<std::string> expected = {
        dir + "/list: lines 1 and 4 (A/day.pkt, B/day.pkt) both make the products day.eph and day.att",
        dir + "/list: line 5 (in/.pkt): no product name can be made from this name",
        dir + "/list: lines 1 and 6 (A/day.pkt, day.raw) both make the products day.eph and day.att"};
    EXPECT_EQ(messages, expected);
    messages.clear();
    EXPECT_FALSE(pipeline::CheckList(dir, messages));
    EXPECT_EQ(messages, std::vector<std::string>{dir + ": cannot read the list of packet files"});
}

} // namespace
