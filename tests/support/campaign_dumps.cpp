#include "campaign_dumps.h"

#include <sqlite3.h>
#include <stdio.h>

#include <map>

#include <gtest/gtest.h>

#include "run_program.h"
#include "text_lines.h"
#include "toolkit/products/qlrproduct.h"
#include "vn_class_quality_flags.h"

DumpedDay MakeDumpedDay(const std::string& dir)
{
    DumpedDay d;
    d.dir = dir;
    d.dumps = dir + "/dumps";
    d.history = dir + "/el.tle";
    d.clean = dir + "/clean";
    const ProgramResult g = RunProgram({TROKGEN_PATH, "--out", "day.pkt", "--config", "day.cfg", "--seconds", "86400",
                                        "--small-gaps", "3", "--large-gaps", "1", "--other-apid", "20", "--repeats",
                                        "2", "--seed", "21", "--dumps", "dumps", "--tle", "el.tle"},
                                       dir);
    EXPECT_EQ(g.status, 0) << g.err;
    d.arrival = Lines(ReadFile(d.dumps + "/arrival.txt"));
    for (const std::string& line : Lines(ReadFile(d.dumps + "/faults.txt")))
        if (line.compare(0, 7, "resent\t") == 0) d.resent = TabFields(line).back();
    EXPECT_FALSE(d.resent.empty());
    EXPECT_EQ(RunProgram({"/bin/mkdir", "-p", dir + "/arch/2026/06"}).status, 0);
    EXPECT_EQ(rename((dir + "/day.pkt").c_str(), (dir + "/arch/2026/06/01.pkt").c_str()), 0);
    const ProgramResult r = RunProgram(
        {TROKCAMPAIGN_PATH, "run", "--archive", dir + "/arch", "--elements", d.history, "--out", d.clean});
    EXPECT_EQ(r.status, 0) << r.err;
    return d;
}

void Deliver(const std::string& from, const std::string& inbox, const std::string& name)
{
    WriteFile(inbox + "/" + name + ".part", ReadFile(from + "/" + name));
    ASSERT_EQ(rename((inbox + "/" + name + ".part").c_str(), (inbox + "/" + name).c_str()), 0);
}

std::string Sql(const std::string& campaignDir, const std::string& query)
{
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2((campaignDir + "/catalog.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "(no catalog)";
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, query.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        out = std::string("(") + sqlite3_errmsg(db) + ")";
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const unsigned char* t = sqlite3_column_text(st, i);
                out += (i ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
            }
            out += "\n";
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

std::string Products(const std::string& campaignDir, const std::string& day)
{
    const std::string base = campaignDir + "/days/" + day + "/" + day;
    return ReadFile(base + ".eph") + ReadFile(base + ".att");
}

size_t MeasuredRecordsDiffering(const std::string& campaignDir, const std::string& cleanDir, const std::string& day,
                                size_t& compared)
{
    size_t differing = 0;
    compared = 0;
    for (const auto& kind : {std::make_pair(".eph", toolkit::ProductKind::Ephemeris),
                             std::make_pair(".att", toolkit::ProductKind::Attitude)}) {
        toolkit::Product made, clean;
        std::string error;
        EXPECT_TRUE(toolkit::ReadProduct(campaignDir + "/days/" + day + "/" + day + kind.first, kind.second, made,
                                         error)) << error;
        EXPECT_TRUE(toolkit::ReadProduct(cleanDir + "/days/" + day + "/" + day + kind.first, kind.second, clean,
                                         error)) << error;
        std::map<double, const toolkit::ProductRecord*> byTime;
        for (const toolkit::ProductRecord& r : clean.records) byTime[r.tai93] = &r;
        for (const toolkit::ProductRecord& r : made.records) {
            if (r.flags & quality_flags::rep) continue;   // interpolated
            ++compared;
            const auto c = byTime.find(r.tai93);
            bool same = c != byTime.end();
            for (int k = 0; same && k < 6; ++k) same = r.v[k] == c->second->v[k];
            differing += !same;
        }
    }
    return differing;
}
