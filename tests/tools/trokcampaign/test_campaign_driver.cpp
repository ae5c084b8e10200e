// The driver's logic against a fake engine: which days take their result,
// which are stopped and why, a stop passed on once, a failure that leaves
// nothing running. No processes.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "campaign_driver.h"
#include "campaign_failure.h"
#include "platform/make_dirs.h"
#include "platform/stop_signals.h"
#include "run_program.h"

namespace {

using campaign::DayEnd;
using campaign::DayRecord;
using campaign::Outcome;

// An engine that reports what its script says, one batch of ended days a
// poll, and notes what the driver asked of it.
class FakeEngine : public campaign::Engine
{
public:
    std::vector<std::vector<DayEnd>> script;
    bool signalOnFirstPoll = false, failOnPoll = false;
    std::string status = "done";
    int starts = 0, stops = 0, abandons = 0, polls = 0;

    void Start(const campaign::RunPlan&) override { ++starts; }
    std::vector<DayEnd> Poll() override
    {
        if (signalOnFirstPoll && polls == 0) raise(SIGTERM);
        if (failOnPoll) campaign::Fail("the queue cannot be read");
        return static_cast<size_t>(polls) < script.size() ? script[polls++] : (++polls, std::vector<DayEnd>());
    }
    void Stop() override { ++stops; }
    void Abandon() override { ++abandons; }
    bool Done() const override { return static_cast<size_t>(polls) >= script.size(); }
    std::string Status() const override { return status; }
    int PollMs() const override { return 0; }
};

struct Fixture {
    std::string dir;
    campaign::RunPlan plan;
    campaign::Catalog catalog;
    campaign::RunState st;
    std::map<std::string, DayRecord> days;
};

// A run (number 7) of four days, the first three with result files: one of
// this run (ok), one of this run that says it was stopped, one of an
// earlier run.
void Prepare(Fixture& f)
{
    f.dir = FreshTestDir();
    f.st.campaignDir = f.dir;
    f.st.runId = 7;
    f.st.runToken = f.plan.settings.runToken = "token of run 7";
    f.plan.settings.runId = 7;
    f.plan.settings.campaign = f.dir;
    const std::map<std::string, std::pair<Outcome, long long>> results = {
        {"2026-06-01", {Outcome::Ok, 7}}, {"2026-06-02", {Outcome::Stopped, 7}}, {"2026-06-03", {Outcome::Ok, 6}}};
    for (const char* day : {"2026-06-01", "2026-06-02", "2026-06-03", "2026-06-04"}) {
        f.plan.days.emplace_back(day, std::string("/in/") + day + ".pkt");
        auto r = results.find(day);
        if (r == results.end()) continue;
        DayRecord rec;
        rec.day = day;
        rec.outcome = r->second.first;
        rec.run_id = r->second.second;
        rec.reason = "the task's own reason";
        ASSERT_TRUE(platform::MakeDirs(f.dir + "/days/" + day).ok);
        WriteFile(f.dir + "/days/" + day + "/result.txt",
                  campaign::ResultText(rec, {{1, 2, 0.5, false}}, "token of run " + std::to_string(rec.run_id.value_or(0))));
    }
    std::string error;
    ASSERT_TRUE(f.catalog.Open(f.dir + "/catalog.sqlite", campaign::CatalogAccess::Create, error)) << error;
}

TEST(CampaignDriver, DaysTakeTheirResultOfThisRunOrTheEnginesReason)
{
    Fixture f;
    Prepare(f);
    FakeEngine engine;
    engine.script = {{},
                     {{"2026-06-02", "time limit of 600 s reached", true}, {"2026-06-01", "unused", true}},
                     {},
                     {{"2026-06-03", "the task ended with status 1 before the day's result", false},
                      {"2026-06-04", "the task ended with status 1 before the day's result", false}}};
    engine.status = "submitted";
    EXPECT_EQ(campaign::DriveRun(engine, f.plan, f.catalog, f.days, f.st), "submitted");
    EXPECT_EQ(engine.starts, 1);
    EXPECT_EQ(engine.stops, 0);
    ASSERT_EQ(f.st.finished.size(), 4u);
    EXPECT_EQ(f.st.finished[0]->day, "2026-06-02") << "in the order they ended";
    // The engine's time limit wins over the task's "stopped"; an ok result stays.
    EXPECT_EQ(f.days["2026-06-02"].reason.value_or(""), "time limit of 600 s reached");
    EXPECT_TRUE(f.days["2026-06-01"].Is(Outcome::Ok));
    EXPECT_EQ(f.days["2026-06-01"].reason.value_or(""), "the task's own reason");
    EXPECT_EQ(f.st.nodesOf.count("2026-06-01"), 1u);
    // No result of this run: stopped, with the packet file of the plan.
    for (const char* day : {"2026-06-03", "2026-06-04"}) {
        const DayRecord& r = f.days[day];
        EXPECT_TRUE(r.Is(Outcome::Stopped)) << day;
        EXPECT_EQ(r.run_id.value_or(-1), 7) << day;
        EXPECT_EQ(r.packet_path.value_or(""), std::string("/in/") + day + ".pkt") << day;
        EXPECT_EQ(r.reason.value_or(""), "the task ended with status 1 before the day's result") << day;
        EXPECT_EQ(f.st.nodesOf.count(day), 0u) << day;
    }
}

TEST(CampaignDriver, AStopIsPassedOnOnceAndAFailureAbandonsTheTasks)
{
    Fixture f;
    Prepare(f);
    {
        const platform::StopSignals stops;
        FakeEngine engine;
        engine.signalOnFirstPoll = true;
        engine.script = {{}, {}, {{"2026-06-01", "the campaign was stopped", false}}};
        EXPECT_EQ(campaign::DriveRun(engine, f.plan, f.catalog, f.days, f.st), "done");
        EXPECT_EQ(engine.stops, 1);
        EXPECT_EQ(engine.polls, 3) << "the driver waits for the tasks it started";
    }
    { const platform::StopSignals reset; }   // the stop noted is forgotten
    FakeEngine failing;
    failing.script = {{}};
    failing.failOnPoll = true;
    EXPECT_THROW(campaign::DriveRun(failing, f.plan, f.catalog, f.days, f.st), campaign::Failure);
    EXPECT_EQ(failing.abandons, 1);
}

} // namespace

// Ingestion's stamps: a day with a verdict of this run takes its new level,
// version and gaps, and when it was made; a day stopped, or one whose
// result is of an earlier run, keeps the version it had.
TEST(CampaignDriver, OnlyADayWithAVerdictOfThisRunTakesItsNewVersion)
{
    Fixture f;
    Prepare(f);
    for (const char* day : {"2026-06-01", "2026-06-02", "2026-06-03"}) {
        f.days[day].day = day;
        f.days[day].level = "nrt";
        f.days[day].version = 4;
        f.days[day].gaps = "10.000-20.000";
        f.st.stamps[day] = {"final", 5, ""};
    }
    FakeEngine engine;
    engine.script = {{{"2026-06-01", "", false}, {"2026-06-02", "", false}, {"2026-06-03", "", false}}};
    campaign::DriveRun(engine, f.plan, f.catalog, f.days, f.st);
    const DayRecord& made = f.days["2026-06-01"];
    EXPECT_EQ(made.level.value_or(""), "final");
    EXPECT_EQ(made.version.value_or(0), 5);
    EXPECT_EQ(made.gaps.value_or("-"), "");
    EXPECT_EQ(f.st.madeAt.count("2026-06-01"), 1u);
    for (const char* day : {"2026-06-02", "2026-06-03"}) {
        EXPECT_EQ(f.days[day].level.value_or(""), "nrt") << day;
        EXPECT_EQ(f.days[day].version.value_or(0), 4) << day;
        EXPECT_EQ(f.days[day].gaps.value_or(""), "10.000-20.000") << day;
        EXPECT_EQ(f.st.madeAt.count(day), 0u) << day;
    }
}
