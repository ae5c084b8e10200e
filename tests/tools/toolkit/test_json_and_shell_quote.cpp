// The JSON the tools read back, and the one quoting of names for a shell.
#include <gtest/gtest.h>

#include <string>

#include "toolkit/cli/json.h"
#include "toolkit/cli/json_writer.h"
#include "toolkit/cli/shell_quote.h"

namespace {

TEST(Json, ReadsWhatTheCheckWritesAndSaysWhereItStops)
{
    toolkit::Json v;
    std::string error;
    ASSERT_TRUE(toolkit::ParseJson(
        " {\"passed\": false, \"faults\": [{\"message\": \"a\\tb \\\"c\\\" \\u00e9\\u20ac\"}], "
        "\"n\": -1.5e3, \"none\": null, \"empty\": {}, \"list\": []}\n", v, error)) << error;
    ASSERT_EQ(v.type, toolkit::Json::Object);
    EXPECT_EQ(v.members.size(), 6u);
    ASSERT_TRUE(v.Find("passed") && v.Find("passed")->type == toolkit::Json::Bool);
    EXPECT_FALSE(v.Find("passed")->boolean);
    EXPECT_EQ(v.Find("faults")->items.at(0).Find("message")->text, "a\tb \"c\" \xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(v.Find("n")->number, -1500.0);
    EXPECT_EQ(v.Find("none")->type, toolkit::Json::Null);
    EXPECT_EQ(v.Find("missing"), nullptr);
    for (const auto& bad : {std::pair<std::string, std::string>{"{\"a\": 1,}", "not JSON at byte 8"},
                            {"[1 2]", "not JSON at byte 3"},
                            {"\"open", "not JSON at byte 5"},
                            {"{} x", "not JSON at byte 3"},
                            {std::string(70, '[') + std::string(70, ']'), "not JSON at byte 65"}}) {
        EXPECT_FALSE(toolkit::ParseJson(bad.first, v, error)) << bad.first;
        EXPECT_EQ(error, bad.second) << bad.first;
    }
}

// Blocks on lines of their own, indented by the blocks they stand in;
// inline containers on one line; what the reader reads back.
TEST(JsonWriter, BlocksAndLinesAsTheManifestAndStatusLayThemOut)
{
    toolkit::JsonWriter w;
    w.Object(true).Key("day").String("2026-06-01").Key("inputs").Object(true);
    w.Key("packet").Object().Key("size").Int(120).Key("age").Fixed(0.243, 4).End().End();
    w.Key("none").Array(true).End().Key("commands").Array(true).String("a b").String("c\"d").End();
    w.Key("n").Number(1056153630.216091).Key("inf").Number(1.0 / 0.0).Key("yes").Bool(true).End();
    EXPECT_EQ(w.Text(), "{\n"
                        "  \"day\": \"2026-06-01\",\n"
                        "  \"inputs\": {\n"
                        "    \"packet\": {\"size\": 120, \"age\": 0.2430}\n"
                        "  },\n"
                        "  \"none\": [],\n"
                        "  \"commands\": [\n"
                        "    \"a b\",\n"
                        "    \"c\\\"d\"\n"
                        "  ],\n"
                        "  \"n\": 1056153630.216091,\n"
                        "  \"inf\": null,\n"
                        "  \"yes\": true\n"
                        "}");
    toolkit::Json v;
    std::string error;
    ASSERT_TRUE(toolkit::ParseJson(w.Text(), v, error)) << error;
    EXPECT_EQ(v.Find("n")->number, 1056153630.216091);
    EXPECT_EQ(v.Find("commands")->items.at(1).text, "c\"d");
    // An inline object holding a block: the block's items at its own depth.
    toolkit::JsonWriter status;
    status.Object().Key("days").Array(true).Object().Key("a").Null().End().End().End();
    EXPECT_EQ(status.Text(), "{\"days\": [\n  {\"a\": null}\n]}");
}

TEST(ShellQuote, PlainWordsStayAndEveryOtherIsQuotedWhole)
{
    EXPECT_EQ(toolkit::ShellQuote("day-1_x.pkt"), "day-1_x.pkt");
    EXPECT_EQ(toolkit::ShellQuote(""), "''");
    EXPECT_EQ(toolkit::ShellQuote("a b"), "'a b'");
    EXPECT_EQ(toolkit::ShellQuote("it's $(rm -rf ~)"), "'it'\\''s $(rm -rf ~)'");
    EXPECT_EQ(toolkit::ShellQuote("line\nbreak"), "'line\nbreak'");
    EXPECT_EQ(toolkit::ShellQuote("\xc3\xa9"), "'\xc3\xa9'");
    EXPECT_EQ(toolkit::ShellCommand({"qlrdump", "--out", "my file", ""}), "qlrdump --out 'my file' ''");
}

} // namespace
