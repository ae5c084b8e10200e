// The catalog's rows: days and their node offsets, the campaign's settings,
// the runs (campaign_catalog.h).
#include <sqlite3.h>

#include <algorithm>
#include <charconv>

#include "campaign_catalog.h"
#include "campaign_sqlite.h"
#include "toolkit/time/unixtime.h"
#include "toolkit/time/utcday.h"

namespace campaign {

namespace {

// The campaign's settings by name, in the order they are stored.
const std::pair<const char*, std::string CampaignSettings::*> kSettings[] = {
    {"archive", &CampaignSettings::archive},   {"command", &CampaignSettings::command},
    {"config", &CampaignSettings::config},     {"elements", &CampaignSettings::elements},
    {"exports", &CampaignSettings::exports},   {"final_after", &CampaignSettings::final_after},
    {"inbox", &CampaignSettings::inbox},       {"list", &CampaignSettings::list},
    {"max_element_age", &CampaignSettings::max_element_age}, {"plots", &CampaignSettings::plots},
    {"satellite", &CampaignSettings::satellite},
};

// A column of a loaded row into the record, by the column's type. A real
// goes through the shortest text that reads back as the same number
// (SQLite's own text of a real keeps 15 digits, too few for TAI93 seconds
// to the microsecond); a real that is not finite, or text in a numeric
// column, is NULL.
void LoadColumn(const Statement& st, int i, const Column& c, DayRecord& r)
{
    const int type = sqlite3_column_type(st.Raw(), i);
    if (type == SQLITE_NULL) return SetColumnText(r, c, std::nullopt);
    if (auto f = std::get_if<Integer DayRecord::*>(&c.field); f && type != SQLITE_TEXT) {
        r.**f = sqlite3_column_int64(st.Raw(), i);
    } else if (auto g = std::get_if<Real DayRecord::*>(&c.field); g && type != SQLITE_TEXT) {
        r.**g = Finite(sqlite3_column_double(st.Raw(), i));
    } else if (type == SQLITE_FLOAT) {
        char buf[40];
        const auto end = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(st.Raw(), i));
        SetColumnText(r, c, std::string(buf, end.ptr));
    } else {
        SetColumnText(r, c, st.ColumnText(i));
    }
}

void BindColumn(Statement& st, int i, const Column& c, const DayRecord& r)
{
    const std::optional<std::string> text = ColumnText(r, c);
    if (!text) st.Null(i);
    else if (auto f = std::get_if<Integer DayRecord::*>(&c.field)) st.Int(i, *(r.**f));
    else if (auto g = std::get_if<Real DayRecord::*>(&c.field)) st.Double(i, *(r.**g));
    else st.Text(i, *text);
}

} // namespace

bool Catalog::LoadDays(std::map<std::string, DayRecord>& days, std::string& error)
{
    // The columns the catalog has (a catalog only read keeps its layout).
    std::vector<const Column*> read;
    std::string sql;
    for (const Column& c : Columns()) {
        const std::vector<std::string>& cols = have["days"];
        if (std::find(cols.begin(), cols.end(), c.name) == cols.end()) continue;
        sql += std::string(read.empty() ? "SELECT " : ", ") + c.name;
        read.push_back(&c);
    }
    Statement st(db, sql + " FROM days");
    std::string why;
    while (st.Row(why)) {
        DayRecord r;
        for (size_t i = 0; i < read.size(); ++i) LoadColumn(st, static_cast<int>(i), *read[i], r);
        if (!toolkit::ValidDay(r.day)) {
            error = path + ": table days: a row whose day is \"" + r.day + "\", not a day (YYYY-MM-DD)";
            return false;
        }
        days[r.day] = r;
    }
    if (!why.empty()) error = path + ": cannot read the days: " + why;
    return why.empty();
}

bool Catalog::StoreDays(const std::vector<const DayRecord*>& rows, const std::map<std::string, std::vector<Node>>& nodes,
                        std::string& error)
{
    if (rows.empty() && nodes.empty()) return true;
    std::string names, marks;
    for (const Column& c : Columns()) {
        names += std::string(names.empty() ? "" : ", ") + c.name;
        marks += marks.empty() ? "?" : ", ?";
    }
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement st(db, "INSERT OR REPLACE INTO days (" + names + ") VALUES (" + marks + ")");
            for (const DayRecord* r : rows) {
                for (size_t i = 0; i < Columns().size(); ++i) BindColumn(st, static_cast<int>(i + 1), Columns()[i], *r);
                if (!st.Done(e)) return false;
            }
            for (const auto& n : nodes)
                if (!StoreNodes(n.first, n.second, e)) return false;
            return true;
        },
        why);
    if (!ok) error = path + ": cannot store the days: " + why;
    return ok;
}

// Inside the transaction of StoreDays.
bool Catalog::StoreNodes(const std::string& day, const std::vector<Node>& nodes, std::string& error)
{
    Statement del(db, "DELETE FROM nodes WHERE day = ?");
    Statement ins(db, "INSERT OR REPLACE INTO nodes (day, orbit, offset_s, hazard, record) VALUES (?, ?, ?, ?, ?)");
    bool ok = del.Text(1, day).Done(error);
    for (const Node& n : nodes) {
        if (!ok) break;
        ok = ins.Text(1, day).Int(2, n.orbit).Double(3, n.offsetSeconds).Int(4, n.hazard).Int(5, n.record).Done(error);
    }
    return ok;
}

CampaignSettings Catalog::LoadSettings()
{
    CampaignSettings s;
    Statement st(db, "SELECT key, value FROM campaign");
    std::string why;
    while (st.Row(why))
        for (const auto& k : kSettings)
            if (st.ColumnText(0).value_or("") == k.first) s.*k.second = st.ColumnText(1).value_or("");
    return s;
}

bool Catalog::StoreSettings(const CampaignSettings& s, std::string& error)
{
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement st(db, "INSERT OR REPLACE INTO campaign (key, value) VALUES (?, ?)");
            for (const auto& k : kSettings)
                if (!st.Text(1, k.first).Text(2, s.*k.second).Done(e)) return false;
            return true;
        },
        why);
    if (!ok) error = path + ": cannot store the campaign's settings: " + why;
    return ok;
}

long long Catalog::BeginRun(const std::string& engine, const std::string& command, const std::string& token,
                            std::string& error)
{
    long long id = -1;
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement st(db, "INSERT INTO runs (started_utc, engine, command, status, token) "
                             "VALUES (?, ?, ?, 'running', ?)");
            if (!st.Text(1, toolkit::IsoUtcNow()).Text(2, engine).Text(3, command).Text(4, token).Done(e)) return false;
            id = sqlite3_last_insert_rowid(db);
            return true;
        },
        why);
    if (!ok) error = path + ": cannot record the run: " + why;
    return ok ? id : -1;
}

bool Catalog::EndRun(long long runId, long long planned, long long ran, const std::string& status,
                     double driverCpuSeconds, double wallSeconds, long peakKb, std::string& error)
{
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement st(db, "UPDATE runs SET finished_utc = ?, planned = ?, ran = ?, status = ?, driver_cpu_s = ?, "
                             "wall_s = ?, driver_peak_kb = ? WHERE run_id = ?");
            return st.Text(1, toolkit::IsoUtcNow())
                .Int(2, planned)
                .Int(3, ran)
                .Text(4, status)
                .Double(5, driverCpuSeconds)
                .Double(6, wallSeconds)
                .Int(7, peakKb)
                .Int(8, runId)
                .Done(e);
        },
        why);
    if (!ok) error = path + ": cannot record the run's end: " + why;
    return ok;
}

bool Catalog::SetRunJob(long long runId, const std::string& jobId, std::string& error)
{
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement st(db, "UPDATE runs SET job_id = ? WHERE run_id = ?");
            return st.Text(1, jobId).Int(2, runId).Done(e);
        },
        why);
    if (!ok) error = path + ": cannot record the Slurm job: " + why;
    return ok;
}

bool Catalog::SetRunStatus(long long runId, const std::string& status, long long ran, std::string& error)
{
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement st(db, "UPDATE runs SET status = ?, ran = ?, finished_utc = ? WHERE run_id = ?");
            return st.Text(1, status).Int(2, ran).Text(3, toolkit::IsoUtcNow()).Int(4, runId).Done(e);
        },
        why);
    if (!ok) error = path + ": cannot record the run's end: " + why;
    return ok;
}

bool Catalog::LastRun(RunRow& run)
{
    const std::vector<std::string>& cols = have["runs"];
    const bool tokens = std::find(cols.begin(), cols.end(), "token") != cols.end();
    Statement st(db, std::string("SELECT run_id, engine, status, job_id") + (tokens ? ", token" : "") +
                         " FROM runs ORDER BY run_id DESC LIMIT 1");
    std::string why;
    if (!st.Row(why)) return false;
    run.id = sqlite3_column_int64(st.Raw(), 0);
    run.engine = st.ColumnText(1).value_or("");
    run.status = st.ColumnText(2).value_or("");
    run.jobId = st.ColumnText(3).value_or("");
    run.token = tokens ? st.ColumnText(4).value_or("") : "";
    return true;
}

} // namespace campaign
