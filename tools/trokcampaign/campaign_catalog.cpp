#include "campaign_catalog.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "campaign_fields.h"
#include "toolkit/cli/text.h"
#include "toolkit/time/unixtime.h"

namespace campaign {

const ColumnInfo kColumnInfo[kColumns] = {
    {"day", 'T'}, {"outcome", 'T'}, {"reason", 'T'},
    {"packet_path", 'T'}, {"packet_size", 'I'}, {"packet_sha256", 'T'}, {"packet_signature", 'T'},
    {"first_packet_tai93", 'R'}, {"last_packet_tai93", 'R'}, {"first_packet_utc", 'T'},
    {"last_packet_utc", 'T'},
    {"element_name", 'T'}, {"element_line1", 'T'}, {"element_line2", 'T'}, {"element_sha256", 'T'},
    {"element_epoch_tai93", 'R'}, {"element_epoch_utc", 'T'}, {"element_number", 'I'},
    {"element_age_days", 'R'},
    {"config_sha256", 'T'}, {"versions", 'T'}, {"versions_sha256", 'T'},
    {"engine", 'T'}, {"job_id", 'T'}, {"host", 'T'}, {"run_id", 'I'},
    {"records", 'I'}, {"repaired_points", 'I'}, {"large_gaps", 'I'}, {"orbits", 'I'},
    {"first_orbit", 'I'}, {"last_orbit", 'I'},
    {"first_node_tai93", 'R'}, {"last_node_tai93", 'R'}, {"max_node_offset_s", 'R'},
    {"node_hazards", 'I'},
    {"first_crossing_tai93", 'R'}, {"last_crossing_tai93", 'R'}, {"first_orbit_numbering", 'I'},
    {"last_orbit_numbering", 'I'}, {"numbering_warnings", 'T'},
    {"continuity", 'T'}, {"step_s", 'R'},
    {"eph_path", 'T'}, {"eph_sha256", 'T'}, {"att_path", 'T'}, {"att_sha256", 'T'},
    {"oem_path", 'T'}, {"oem_sha256", 'T'}, {"aem_path", 'T'}, {"aem_sha256", 'T'},
    {"quicklook_path", 'T'}, {"products_signature", 'T'},
    {"started_utc", 'T'}, {"finished_utc", 'T'}, {"seconds", 'R'}, {"trokproc_seconds", 'R'},
    {"check_seconds", 'R'}, {"export_seconds", 'R'}, {"plot_seconds", 'R'},
};

const char* const kOutcomes[6] = {"ok", "input-refused", "check-failed", "no-elements", "stopped", "missing"};

Column ColumnByName(const std::string& name)
{
    for (int c = 0; c < kColumns; ++c)
        if (name == kColumnInfo[c].name) return static_cast<Column>(c);
    return kColumns;
}

double DayRow::Num(Column c, double fallback) const
{
    if (!Has(c)) return fallback;
    char* end = nullptr;
    const double x = std::strtod(v[c]->c_str(), &end);
    return end == v[c]->c_str() ? fallback : x;
}

void DayRow::SetNum(Column c, double value, int decimals)
{
    if (std::isfinite(value)) v[c] = toolkit::FixedText(value, decimals);
    else v[c].reset();
}

std::string ResultText(const DayRow& row, const std::string& nodes)
{
    std::string text;
    for (int c = 0; c < kColumns; ++c)
        text += std::string(kColumnInfo[c].name) + "\t" + (row.v[c] ? FieldText(*row.v[c]) : "\\N") + "\n";
    text += "nodes\t" + FieldText(nodes) + "\n";
    return text;
}

bool ParseResult(const std::string& text, DayRow& row, std::string& nodes)
{
    size_t a = 0;
    bool any = false;
    while (a < text.size()) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) return false;   // cut short: not a whole result
        const std::string line = text.substr(a, b - a);
        a = b + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return false;
        const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
        if (key == "nodes") {
            nodes = FieldValue(value);
            continue;
        }
        const Column c = ColumnByName(key);
        if (c == kColumns) continue;
        if (value == "\\N") row.v[c].reset();
        else row.v[c] = FieldValue(value);
        any = true;
    }
    return any;
}

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

bool Catalog::Open(const std::string& path, bool create, std::string& error)
{
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "cannot open";
        return false;
    }
    sqlite3_busy_timeout(db, 10000);
    std::string columns;
    std::vector<std::pair<std::string, std::string>> dayColumns;
    for (int c = 0; c < kColumns; ++c) {
        const char* type = kColumnInfo[c].type == 'I' ? "INTEGER" : kColumnInfo[c].type == 'R' ? "REAL" : "TEXT";
        columns += std::string(c ? ", " : "") + kColumnInfo[c].name + " " + type;
        if (c == C_day) columns += " PRIMARY KEY";
        dayColumns.emplace_back(kColumnInfo[c].name, type);
    }
    return Exec("CREATE TABLE IF NOT EXISTS days (" + columns + ");"
                "CREATE TABLE IF NOT EXISTS campaign (key TEXT PRIMARY KEY, value TEXT);"
                "CREATE TABLE IF NOT EXISTS runs (run_id INTEGER PRIMARY KEY, started_utc TEXT, "
                "finished_utc TEXT, engine TEXT, command TEXT, planned INTEGER, ran INTEGER, status TEXT, "
                "driver_cpu_s REAL, wall_s REAL, driver_peak_kb INTEGER, job_id TEXT);"
                "CREATE TABLE IF NOT EXISTS nodes (day TEXT, orbit INTEGER, offset_s REAL, hazard INTEGER, "
                "record INTEGER, PRIMARY KEY (day, record));",
                error) &&
           AddMissingColumns("days", dayColumns, error) &&
           AddMissingColumns("runs", {{"job_id", "TEXT"}}, error) &&
           AddMissingColumns("nodes", {{"record", "INTEGER"}}, error);
}

bool Catalog::AddMissingColumns(const std::string& table,
                                const std::vector<std::pair<std::string, std::string>>& columns, std::string& error)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + table + ")").c_str(), -1, &st, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    std::set<std::string> have;
    while (sqlite3_step(st) == SQLITE_ROW)
        if (const unsigned char* name = sqlite3_column_text(st, 1)) have.insert(reinterpret_cast<const char*>(name));
    sqlite3_finalize(st);
    for (const auto& c : columns)
        if (!have.count(c.first) && !Exec("ALTER TABLE " + table + " ADD COLUMN " + c.first + " " + c.second, error))
            return false;
    return true;
}

bool Catalog::LoadDays(std::map<std::string, DayRow>& days, std::string& error)
{
    std::string sql = "SELECT ";
    for (int c = 0; c < kColumns; ++c) sql += std::string(c ? ", " : "") + kColumnInfo[c].name;
    sql += " FROM days";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        DayRow row;
        for (int c = 0; c < kColumns; ++c) {
            const int type = sqlite3_column_type(st, c);
            if (type == SQLITE_NULL) continue;
            if (type == SQLITE_FLOAT) {
                // The shortest text that reads back as the same number
                // (SQLite's own text of a real keeps 15 digits, too few for
                // TAI93 seconds to the microsecond).
                char buf[40];
                const auto r = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(st, c));
                row.v[c] = std::string(buf, r.ptr);
                continue;
            }
            const unsigned char* t = sqlite3_column_text(st, c);
            row.v[c] = t ? reinterpret_cast<const char*>(t) : "";
        }
        days[row.Get(C_day)] = row;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

bool Catalog::StoreDays(const std::vector<const DayRow*>& rows, const std::map<std::string, std::vector<Node>>& nodes,
                        std::string& error)
{
    if (rows.empty() && nodes.empty()) return true;
    std::string sql = "INSERT OR REPLACE INTO days VALUES (";
    for (int c = 0; c < kColumns; ++c) sql += c ? ", ?" : "?";
    sql += ")";
    if (!Exec("BEGIN", error)) return false;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        Exec("ROLLBACK", error);
        return false;
    }
    bool ok = true;
    for (const DayRow* row : rows) {
        sqlite3_reset(st);
        for (int c = 0; c < kColumns && ok; ++c) {
            const std::optional<std::string>& v = row->v[c];
            if (!v) {
                sqlite3_bind_null(st, c + 1);
            } else if (kColumnInfo[c].type == 'I' && !v->empty()) {
                sqlite3_bind_int64(st, c + 1, std::strtoll(v->c_str(), nullptr, 10));
            } else if (kColumnInfo[c].type == 'R' && !v->empty()) {
                sqlite3_bind_double(st, c + 1, std::strtod(v->c_str(), nullptr));
            } else if (kColumnInfo[c].type != 'T') {
                sqlite3_bind_null(st, c + 1);
            } else {
                sqlite3_bind_text(st, c + 1, v->c_str(), static_cast<int>(v->size()), SQLITE_TRANSIENT);
            }
        }
        if (sqlite3_step(st) != SQLITE_DONE) ok = false;
    }
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    for (const auto& n : nodes) {
        if (!ok) break;
        ok = StoreNodes(n.first, n.second, error);
    }
    std::string ignored;
    if (!ok) {
        Exec("ROLLBACK", ignored);
        return false;
    }
    return Exec("COMMIT", error);
}

std::string Catalog::Setting(const std::string& key)
{
    sqlite3_stmt* st = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, "SELECT value FROM campaign WHERE key = ?", -1, &st, nullptr) != SQLITE_OK)
        return value;
    sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
        value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return value;
}

bool Catalog::SetSettings(const std::map<std::string, std::string>& values, std::string& error)
{
    if (!Exec("BEGIN", error)) return false;
    sqlite3_stmt* st = nullptr;
    bool ok = sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO campaign VALUES (?, ?)", -1, &st, nullptr) == SQLITE_OK;
    for (const auto& kv : values) {
        if (!ok) break;
        sqlite3_reset(st);
        sqlite3_bind_text(st, 1, kv.first.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, kv.second.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(st) == SQLITE_DONE;
    }
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    std::string ignored;
    if (!ok) {
        Exec("ROLLBACK", ignored);
        return false;
    }
    return Exec("COMMIT", error);
}

std::vector<Catalog::Node> Catalog::ParseNodes(const std::string& text)
{
    std::vector<Node> list;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find(';', a);
        if (b == std::string::npos) b = text.size();
        const std::string item = text.substr(a, b - a);
        a = b + 1;
        Node n{};
        char hazard = '0';
        if (std::sscanf(item.c_str(), "%lld:%lld:%lf:%c", &n.orbit, &n.record, &n.offsetSeconds, &hazard) == 4) {
            n.hazard = hazard == '1';
            list.push_back(n);
        }
    }
    return list;
}

long long Catalog::BeginRun(const std::string& engine, const std::string& command, std::string& error)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO runs (started_utc, engine, command, status) VALUES (?, ?, ?, 'running')",
                           -1, &st, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return -1;
    }
    const std::string now = toolkit::IsoUtcNow();
    sqlite3_bind_text(st, 1, now.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, engine.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, command.c_str(), -1, SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    if (!ok) {
        error = sqlite3_errmsg(db);
        return -1;
    }
    return sqlite3_last_insert_rowid(db);
}

bool Catalog::EndRun(long long runId, long long planned, long long ran, const std::string& status,
                     double driverCpuSeconds, double wallSeconds, long peakKb, std::string& error)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "UPDATE runs SET finished_utc = ?, planned = ?, ran = ?, status = ?, driver_cpu_s = ?, "
                           "wall_s = ?, driver_peak_kb = ? WHERE run_id = ?",
                           -1, &st, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    const std::string now = toolkit::IsoUtcNow();
    sqlite3_bind_text(st, 1, now.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, planned);
    sqlite3_bind_int64(st, 3, ran);
    sqlite3_bind_text(st, 4, status.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(st, 5, driverCpuSeconds);
    sqlite3_bind_double(st, 6, wallSeconds);
    sqlite3_bind_int64(st, 7, peakKb);
    sqlite3_bind_int64(st, 8, runId);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return ok;
}

bool Catalog::SetRunJob(long long runId, const std::string& jobId, std::string& error)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "UPDATE runs SET job_id = ? WHERE run_id = ?", -1, &st,
                           nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    sqlite3_bind_text(st, 1, jobId.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, runId);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return ok;
}

bool Catalog::SetRunStatus(long long runId, const std::string& status, long long ran, std::string& error)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "UPDATE runs SET status = ?, ran = ?, finished_utc = ? WHERE run_id = ?", -1, &st,
                           nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    const std::string now = toolkit::IsoUtcNow();
    sqlite3_bind_text(st, 1, status.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, ran);
    sqlite3_bind_text(st, 3, now.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 4, runId);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(st);
    return ok;
}

bool Catalog::LastRun(Run& run)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT run_id, engine, status, job_id FROM runs ORDER BY run_id DESC LIMIT 1", -1,
                           &st, nullptr) != SQLITE_OK)
        return false;
    const bool found = sqlite3_step(st) == SQLITE_ROW;
    if (found) {
        auto text = [&](int i) {
            const unsigned char* t = sqlite3_column_text(st, i);
            return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
        };
        run.id = sqlite3_column_int64(st, 0);
        run.engine = text(1);
        run.status = text(2);
        run.jobId = text(3);
    }
    sqlite3_finalize(st);
    return found;
}

// Inside the transaction of StoreDays.
bool Catalog::StoreNodes(const std::string& day, const std::vector<Node>& nodes, std::string& error)
{
    sqlite3_stmt* del = nullptr;
    sqlite3_stmt* ins = nullptr;
    bool ok = sqlite3_prepare_v2(db, "DELETE FROM nodes WHERE day = ?", -1, &del, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO nodes (day, orbit, offset_s, hazard, record) VALUES (?, ?, ?, ?, ?)", -1, &ins, nullptr) ==
                  SQLITE_OK;
    if (ok) {
        sqlite3_bind_text(del, 1, day.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(del) == SQLITE_DONE;
    }
    for (const Node& n : nodes) {
        if (!ok) break;
        sqlite3_reset(ins);
        sqlite3_bind_text(ins, 1, day.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(ins, 2, n.orbit);
        sqlite3_bind_double(ins, 3, n.offsetSeconds);
        sqlite3_bind_int(ins, 4, n.hazard ? 1 : 0);
        sqlite3_bind_int64(ins, 5, n.record);
        ok = sqlite3_step(ins) == SQLITE_DONE;
    }
    if (!ok) error = sqlite3_errmsg(db);
    sqlite3_finalize(del);
    sqlite3_finalize(ins);
    return ok;
}

} // namespace campaign
