#include "campaign_catalog.h"

#include <sqlite3.h>

#include <charconv>
#include <set>

#include "toolkit/time/unixtime.h"

namespace campaign {

namespace {

// A table as the catalog makes it: its columns with their SQL types, the
// key's columns marked.
struct TableLayout {
    std::string name;
    struct Col {
        std::string name, type;
        bool key;
    };
    std::vector<Col> columns;

    std::string CreateSql() const;
};

std::string TableLayout::CreateSql() const
{
    std::string sql = "CREATE TABLE IF NOT EXISTS " + name + " (", keys;
    size_t keyCount = 0;
    for (const Col& c : columns) keyCount += c.key;
    for (const Col& c : columns) {
        sql += (&c == &columns.front() ? "" : ", ") + c.name + " " + c.type + (c.key && keyCount == 1 ? " PRIMARY KEY" : "");
        if (c.key) keys += (keys.empty() ? "" : ", ") + c.name;
    }
    return sql + (keyCount > 1 ? ", PRIMARY KEY (" + keys + ")" : "") + ");";
}

// The catalog's tables. A table that a later version adds goes here; a
// column added to one is added to an earlier catalog when it is opened.
std::vector<TableLayout> Layout()
{
    TableLayout days{"days", {}};
    for (const Column& c : Columns()) days.columns.push_back({c.name, c.SqlType(), c.IsKey()});
    return {days,
            {"campaign", {{"key", "TEXT", true}, {"value", "TEXT", false}}},
            {"runs",
             {{"run_id", "INTEGER", true}, {"started_utc", "TEXT", false}, {"finished_utc", "TEXT", false},
              {"engine", "TEXT", false}, {"command", "TEXT", false}, {"planned", "INTEGER", false},
              {"ran", "INTEGER", false}, {"status", "TEXT", false}, {"driver_cpu_s", "REAL", false},
              {"wall_s", "REAL", false}, {"driver_peak_kb", "INTEGER", false}, {"job_id", "TEXT", false}}},
            {"nodes",
             {{"day", "TEXT", true}, {"orbit", "INTEGER", false}, {"offset_s", "REAL", false},
              {"hazard", "INTEGER", false}, {"record", "INTEGER", true}}}};
}

// The campaign's settings by name, in the order they are stored.
const std::pair<const char*, std::string CampaignSettings::*> kSettings[] = {
    {"archive", &CampaignSettings::archive},   {"command", &CampaignSettings::command},
    {"config", &CampaignSettings::config},     {"elements", &CampaignSettings::elements},
    {"exports", &CampaignSettings::exports},   {"list", &CampaignSettings::list},
    {"max_element_age", &CampaignSettings::max_element_age}, {"plots", &CampaignSettings::plots},
    {"satellite", &CampaignSettings::satellite},
};

// One prepared statement; its error (SQLite's message) in `error`.
class Statement
{
public:
    Statement(sqlite3* database, const char* sql) : db(database)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) st = nullptr;
    }
    ~Statement() { sqlite3_finalize(st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ready() const { return st != nullptr; }
    Statement& Text(int i, const std::string& v)
    {
        sqlite3_bind_text(st, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Int(int i, long long v)
    {
        sqlite3_bind_int64(st, i, v);
        return *this;
    }
    Statement& Double(int i, double v)
    {
        sqlite3_bind_double(st, i, v);
        return *this;
    }
    Statement& Null(int i)
    {
        sqlite3_bind_null(st, i);
        return *this;
    }
    // Runs it to its end (a write); false with `error` set.
    bool Done(std::string& error)
    {
        const bool ok = st && sqlite3_step(st) == SQLITE_DONE;
        if (!ok) error = sqlite3_errmsg(db);
        if (st) sqlite3_reset(st);
        return ok;
    }
    // The next row of a query.
    bool Row() { return st && sqlite3_step(st) == SQLITE_ROW; }
    std::optional<std::string> ColumnText(int i) const
    {
        if (sqlite3_column_type(st, i) == SQLITE_NULL) return std::nullopt;
        const unsigned char* t = sqlite3_column_text(st, i);
        return std::string(t ? reinterpret_cast<const char*>(t) : "");
    }
    sqlite3_stmt* Raw() const { return st; }

private:
    sqlite3* db;
    sqlite3_stmt* st = nullptr;
};

// A column of a loaded row into the record, by the column's type. A real
// goes through the shortest text that reads back as the same number
// (SQLite's own text of a real keeps 15 digits, too few for TAI93 seconds
// to the microsecond).
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

Catalog::~Catalog()
{
    if (db) sqlite3_close(db);
}

bool Catalog::Exec(const std::string& sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool Catalog::Open(const std::string& path, CatalogAccess access, std::string& error)
{
    const int flags = SQLITE_OPEN_READWRITE | (access == CatalogAccess::Create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "cannot open";
        return false;
    }
    sqlite3_busy_timeout(db, 10000);
    return MakeTables(error);
}

// Each table of the layout, made when missing, and given the columns that a
// catalog of an earlier version lacks.
bool Catalog::MakeTables(std::string& error)
{
    for (const TableLayout& t : Layout()) {
        if (!Exec(t.CreateSql(), error)) return false;
        std::set<std::string> have;
        Statement info(db, ("PRAGMA table_info(" + t.name + ")").c_str());
        while (info.Row()) have.insert(info.ColumnText(1).value_or(""));
        for (const TableLayout::Col& c : t.columns)
            if (!have.count(c.name) && !Exec("ALTER TABLE " + t.name + " ADD COLUMN " + c.name + " " + c.type, error))
                return false;
    }
    return true;
}

bool Catalog::LoadDays(std::map<std::string, DayRecord>& days, std::string& error)
{
    std::string sql = "SELECT ";
    for (const Column& c : Columns()) sql += std::string(&c == &Columns().front() ? "" : ", ") + c.name;
    Statement st(db, (sql + " FROM days").c_str());
    if (!st.Ready()) {
        error = sqlite3_errmsg(db);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(st.Raw())) == SQLITE_ROW) {
        DayRecord r;
        for (size_t i = 0; i < Columns().size(); ++i) LoadColumn(st, static_cast<int>(i), Columns()[i], r);
        days[r.day] = r;
    }
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

bool Catalog::StoreDays(const std::vector<const DayRecord*>& rows, const std::map<std::string, std::vector<Node>>& nodes,
                        std::string& error)
{
    if (rows.empty() && nodes.empty()) return true;
    std::string sql = "INSERT OR REPLACE INTO days VALUES (";
    for (const Column& c : Columns()) sql += &c == &Columns().front() ? "?" : ", ?";
    if (!Exec("BEGIN", error)) return false;
    bool ok = true;
    {
        Statement st(db, (sql + ")").c_str());
        for (const DayRecord* r : rows) {
            if (!ok) break;
            for (size_t i = 0; i < Columns().size(); ++i) BindColumn(st, static_cast<int>(i + 1), Columns()[i], *r);
            ok = st.Done(error);
        }
        for (const auto& n : nodes) {
            if (!ok) break;
            ok = StoreNodes(n.first, n.second, error);
        }
    }
    std::string ignored;
    if (!ok) {
        Exec("ROLLBACK", ignored);
        return false;
    }
    return Exec("COMMIT", error);
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
    while (st.Row())
        for (const auto& k : kSettings)
            if (st.ColumnText(0).value_or("") == k.first) s.*k.second = st.ColumnText(1).value_or("");
    return s;
}

bool Catalog::StoreSettings(const CampaignSettings& s, std::string& error)
{
    if (!Exec("BEGIN", error)) return false;
    bool ok = true;
    {
        Statement st(db, "INSERT OR REPLACE INTO campaign VALUES (?, ?)");
        for (const auto& k : kSettings)
            if (ok) ok = st.Text(1, k.first).Text(2, s.*k.second).Done(error);
    }
    std::string ignored;
    if (!ok) {
        Exec("ROLLBACK", ignored);
        return false;
    }
    return Exec("COMMIT", error);
}

long long Catalog::BeginRun(const std::string& engine, const std::string& command, std::string& error)
{
    Statement st(db, "INSERT INTO runs (started_utc, engine, command, status) VALUES (?, ?, ?, 'running')");
    if (!st.Text(1, toolkit::IsoUtcNow()).Text(2, engine).Text(3, command).Done(error)) return -1;
    return sqlite3_last_insert_rowid(db);
}

bool Catalog::EndRun(long long runId, long long planned, long long ran, const std::string& status,
                     double driverCpuSeconds, double wallSeconds, long peakKb, std::string& error)
{
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
        .Done(error);
}

bool Catalog::SetRunJob(long long runId, const std::string& jobId, std::string& error)
{
    Statement st(db, "UPDATE runs SET job_id = ? WHERE run_id = ?");
    return st.Text(1, jobId).Int(2, runId).Done(error);
}

bool Catalog::SetRunStatus(long long runId, const std::string& status, long long ran, std::string& error)
{
    Statement st(db, "UPDATE runs SET status = ?, ran = ?, finished_utc = ? WHERE run_id = ?");
    return st.Text(1, status).Int(2, ran).Text(3, toolkit::IsoUtcNow()).Int(4, runId).Done(error);
}

bool Catalog::LastRun(RunRow& run)
{
    Statement st(db, "SELECT run_id, engine, status, job_id FROM runs ORDER BY run_id DESC LIMIT 1");
    if (!st.Row()) return false;
    run.id = sqlite3_column_int64(st.Raw(), 0);
    run.engine = st.ColumnText(1).value_or("");
    run.status = st.ColumnText(2).value_or("");
    run.jobId = st.ColumnText(3).value_or("");
    return true;
}

} // namespace campaign
