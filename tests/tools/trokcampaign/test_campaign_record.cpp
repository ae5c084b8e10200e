// The day record's one column table: the catalog's schema, its rows, the
// task's result file and status --json all come from it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "campaign_catalog.h"
#include "campaign_expected.h"
#include "campaign_record.h"
#include "campaign_report.h"
#include "run_program.h"
#include "toolkit/cli/json.h"
#include "toolkit/cli/json_writer.h"
#include "toolkit/cli/text.h"
#include "toolkit/time/utcday.h"

namespace {

using campaign::Column;
using campaign::DayRecord;

// A record with every field set: texts with the characters the result file
// escapes, the largest and the negative numbers.
DayRecord Full()
{
    DayRecord r;
    int i = 0;
    for (const Column& c : campaign::Columns()) {
        ++i;
        if (auto f = std::get_if<campaign::Text DayRecord::*>(&c.field)) r.**f = "text\t" + std::to_string(i) + "\n\\";
        else if (auto g = std::get_if<campaign::Integer DayRecord::*>(&c.field)) r.**g = i % 2 ? -i : 9007199254740993LL;
        else if (auto h = std::get_if<campaign::Real DayRecord::*>(&c.field)) r.**h = campaign::Rounded(1056153630.216091 + i, c.decimals);
    }
    r.day = "2026-06-21";
    r.outcome = campaign::Outcome::CheckFailed;
    return r;
}

bool Same(const DayRecord& a, const DayRecord& b)
{
    for (const Column& c : campaign::Columns())
        if (campaign::ColumnText(a, c) != campaign::ColumnText(b, c)) return false;
    return true;
}

TEST(CampaignRecord, ResultFileAndCatalogRowKeepEveryColumn)
{
    const DayRecord full = Full();
    const std::vector<campaign::Node> nodes = {{10001, 2005, -0.272, true}, {10002, 7939, 1.5, false}};
    DayRecord back;
    std::vector<campaign::Node> nodesBack;
    ASSERT_TRUE(campaign::ParseResult(campaign::ResultText(full, nodes), back, nodesBack));
    EXPECT_TRUE(Same(full, back));
    ASSERT_EQ(nodesBack.size(), 2u);
    EXPECT_EQ(nodesBack[0].record, 2005);
    EXPECT_TRUE(nodesBack[0].hazard);
    // NULL stays NULL, and a result cut short is none.
    DayRecord empty;
    empty.day = "2026-06-22";
    ASSERT_TRUE(campaign::ParseResult(campaign::ResultText(empty, {}), back, nodesBack));
    EXPECT_TRUE(Same(empty, back));
    const std::string text = campaign::ResultText(full, nodes);
    EXPECT_FALSE(campaign::ParseResult(text.substr(0, text.size() - 1), back, nodesBack));

    const std::string dir = FreshTestDir();
    campaign::Catalog catalog;
    std::string error;
    ASSERT_TRUE(catalog.Open(dir + "/catalog.sqlite", campaign::CatalogAccess::Create, error)) << error;
    ASSERT_TRUE(catalog.StoreDays({&full, &empty}, {{full.day, nodes}}, error)) << error;
    std::map<std::string, DayRecord> days;
    ASSERT_TRUE(catalog.LoadDays(days, error)) << error;
    EXPECT_TRUE(Same(days.at(full.day), full));
    EXPECT_TRUE(Same(days.at(empty.day), empty));
}

TEST(CampaignRecord, SchemaAndJsonNameEveryColumnWithItsType)
{
    const std::string dir = FreshTestDir();
    {
        campaign::Catalog catalog;
        std::string error;
        ASSERT_TRUE(catalog.Open(dir + "/catalog.sqlite", campaign::CatalogAccess::Create, error)) << error;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/catalog.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA table_info(days)", -1, &st, nullptr), SQLITE_OK);
    std::vector<std::string> schema, table;
    while (sqlite3_step(st) == SQLITE_ROW)
        schema.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) + " " +
                         reinterpret_cast<const char*>(sqlite3_column_text(st, 2)));
    sqlite3_finalize(st);
    for (const Column& c : campaign::Columns()) table.push_back(std::string(c.name) + " " + c.SqlType());
    EXPECT_EQ(schema, table);
    // A text planted in a numeric column is no number, nor is a real that
    // is not finite: NULL, and the JSON stays JSON.
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO days (day, outcome, records, seconds, step_s) VALUES "
                               "('2026-06-23', 'ok', '1, \"x\": 2', 'inf', 9e999)", nullptr, nullptr, nullptr),
              SQLITE_OK);

    campaign::Catalog catalog;
    std::string error;
    std::map<std::string, DayRecord> days;
    ASSERT_TRUE(catalog.Open(dir + "/catalog.sqlite", campaign::CatalogAccess::Existing, error)) << error;
    ASSERT_TRUE(catalog.LoadDays(days, error)) << error;
    EXPECT_FALSE(days.at("2026-06-23").records.has_value());
    EXPECT_FALSE(days.at("2026-06-23").seconds.has_value());
    EXPECT_FALSE(days.at("2026-06-23").step_s.has_value());
    days["2026-06-21"] = Full();
    for (const auto& kv : days) {
        toolkit::JsonWriter w;
        campaign::WriteDayJson(w, kv.second);
        toolkit::Json json;
        ASSERT_TRUE(toolkit::ParseJson(w.Text(), json, error)) << w.Text();
        ASSERT_EQ(json.members.size(), campaign::Columns().size());
        for (size_t i = 0; i < json.members.size(); ++i) {
            const Column& c = campaign::Columns()[i];
            EXPECT_EQ(json.members[i].first, c.name);
            const toolkit::Json::Type type = json.members[i].second.type;
            if (!campaign::ColumnText(kv.second, c)) EXPECT_EQ(type, toolkit::Json::Null) << c.name;
            else EXPECT_EQ(type, std::string(c.SqlType()) == "TEXT" ? toolkit::Json::String : toolkit::Json::Number)
                << c.name;
        }
    }
    // A row whose key is no day: the catalog is refused, not read halfway.
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO days (day) VALUES ('2026-6-1')", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    days.clear();
    EXPECT_FALSE(catalog.LoadDays(days, error));
    EXPECT_EQ(error, dir + "/catalog.sqlite: table days: a row whose day is \"2026-6-1\", not a day (YYYY-MM-DD)");
}

// The report links a day's quicklook page only as the campaign makes it:
// a catalog that holds another address (javascript:, a remote page) gives
// no link.
TEST(CampaignReport, LinksOnlyTheCampaignsOwnQuicklookPages)
{
    std::map<std::string, DayRecord> days;
    for (const char* day : {"2026-06-01", "2026-06-02", "2026-06-03"}) {
        days[day].day = day;
        days[day].outcome = campaign::Outcome::Ok;
    }
    days["2026-06-01"].quicklook_path = "days/2026-06-01/quicklook/report.html";
    days["2026-06-02"].quicklook_path = "javascript:alert(1)";
    days["2026-06-03"].quicklook_path = "https://elsewhere.example/report.html";
    const std::string html = campaign::ReportHtml("/c", days, {});
    EXPECT_NE(html.find("href='days/2026-06-01/quicklook/report.html'"), std::string::npos);
    EXPECT_EQ(html.find("javascript:"), std::string::npos);
    EXPECT_EQ(html.find("elsewhere"), std::string::npos);
}

TEST(CampaignRecord, SettingsReadBackAndAMissingCatalogIsNone)
{
    const std::string path = FreshTestDir() + "/catalog.sqlite";
    campaign::Catalog catalog;
    std::string error;
    EXPECT_FALSE(campaign::Catalog().Open(path, campaign::CatalogAccess::Existing, error));
    ASSERT_TRUE(catalog.Open(path, campaign::CatalogAccess::Create, error)) << error;
    campaign::CampaignSettings settings;
    settings.command = "trokcampaign run --archive 'a b'";
    settings.max_element_age = "7.000000";
    ASSERT_TRUE(catalog.StoreSettings(settings, error)) << error;
    const campaign::CampaignSettings back = catalog.LoadSettings();
    EXPECT_EQ(back.command, settings.command);
    EXPECT_EQ(back.max_element_age, settings.max_element_age);
}

} // namespace

// What a day not final still expects, in the words of status and the
// report: its merge's gaps, and what is missing before its first and after
// its last packet; a final day, and a day not of dumps, expect nothing.
TEST(CampaignExpected, GapsAndTheUnreceivedEndsOfTheDayInOrder)
{
    const double midnight = toolkit::DayStartTai93("2026-06-01");
    auto at = [&](int h, int m, int s) { return midnight + h * 3600 + m * 60 + s; };
    DayRecord d;
    d.day = "2026-06-01";
    d.level = "nrt";
    d.version = 11;
    d.first_packet_tai93 = at(0, 0, 0);
    d.last_packet_tai93 = at(23, 59, 59);
    d.gaps = toolkit::FixedText(at(18, 41, 0), 3) + "-" + toolkit::FixedText(at(20, 38, 0), 3);
    std::map<std::string, DayRecord> days{{d.day, d}};
    EXPECT_EQ(campaign::StillExpected(days),
              std::vector<std::string>{"2026-06-01 nrt v11: 1 h 57 min missing 18:41-20:38"});

    d.first_packet_tai93 = at(1, 30, 0);
    d.last_packet_tai93 = at(22, 0, 0);
    d.gaps = toolkit::FixedText(at(3, 0, 0), 3) + "-" + toolkit::FixedText(at(3, 0, 8), 3) + ";" + *d.gaps;
    EXPECT_EQ(campaign::MissingStretches(d),
              (std::vector<std::string>{"1 h 30 min missing 00:00-01:30", "8 s missing 03:00:00-03:00:08",
                                        "1 h 57 min missing 18:41-20:38", "2 h 0 min missing 22:00-24:00"}));
    d.gaps.reset();
    d.first_packet_tai93 = at(0, 0, 0);
    d.last_packet_tai93 = at(23, 59, 59);
    days = {{d.day, d}};
    EXPECT_EQ(campaign::StillExpected(days), std::vector<std::string>{"2026-06-01 nrt v11: nothing missing"});
    days[d.day].level = "final";
    days["2026-06-02"].day = "2026-06-02";   // a day of an archive: no level
    EXPECT_TRUE(campaign::StillExpected(days).empty());
}
