#ifndef CAMPAIGN_SQLITE_H
#define CAMPAIGN_SQLITE_H

#include <sqlite3.h>

#include <optional>
#include <string>

// One prepared statement of the catalog (campaign_catalog.h), its failures
// in SQLite's own words for the catalog to put in context.
namespace campaign {

class Statement
{
public:
    Statement(sqlite3* database, const std::string& sql) : db(database)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            prepareError = sqlite3_errmsg(db);
            st = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ready(std::string& error) const
    {
        if (!st) error = prepareError;
        return st != nullptr;
    }
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
        if (!Ready(error)) return false;
        const int rc = sqlite3_step(st);
        if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
        sqlite3_reset(st);
        return rc == SQLITE_DONE;
    }
    // The next row of a query: true for a row; false at the end, or with
    // `error` set when the query failed.
    bool Row(std::string& error)
    {
        if (!Ready(error)) return false;
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
        return false;
    }
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
    std::string prepareError;
};

} // namespace campaign

#endif
