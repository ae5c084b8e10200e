#include "campaign_catalog_layout.h"

#include "campaign_record.h"

namespace campaign {

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

bool TableLayout::Has(const std::string& column) const
{
    for (const Col& c : columns)
        if (c.name == column) return true;
    return false;
}

const std::vector<TableLayout>& CatalogLayout()
{
    static const std::vector<TableLayout> layout = [] {
        TableLayout days{"days", {}};
        for (const Column& c : Columns()) days.columns.push_back({c.name, c.SqlType(), c.IsKey()});
        return std::vector<TableLayout>{
            days,
            {"campaign", {{"key", "TEXT", true}, {"value", "TEXT", false}}},
            {"runs",
             {{"run_id", "INTEGER", true}, {"started_utc", "TEXT", false}, {"finished_utc", "TEXT", false},
              {"engine", "TEXT", false}, {"command", "TEXT", false}, {"planned", "INTEGER", false},
              {"ran", "INTEGER", false}, {"status", "TEXT", false}, {"driver_cpu_s", "REAL", false},
              {"wall_s", "REAL", false}, {"driver_peak_kb", "INTEGER", false}, {"job_id", "TEXT", false},
              {"token", "TEXT", false}}},
            {"nodes",
             {{"day", "TEXT", true}, {"orbit", "INTEGER", false}, {"offset_s", "REAL", false},
              {"hazard", "INTEGER", false}, {"record", "INTEGER", true}}},
            {"dumps",
             {{"sha256", "TEXT", true}, {"name", "TEXT", false}, {"arrived_utc", "TEXT", false},
              {"first_packet_utc", "TEXT", false}, {"last_packet_utc", "TEXT", false}, {"days", "TEXT", false},
              {"deliveries", "INTEGER", false}, {"outcome", "TEXT", false}, {"reason", "TEXT", false}}},
            {"versions",
             {{"day", "TEXT", true}, {"version", "INTEGER", true}, {"level", "TEXT", false},
              {"dumps", "INTEGER", false}, {"l0_sha256", "TEXT", false}, {"eph_sha256", "TEXT", false},
              {"att_sha256", "TEXT", false}, {"outcome", "TEXT", false}, {"made_utc", "TEXT", false},
              {"latency_s", "REAL", false}}},
            {"inbox",
             {{"name", "TEXT", true}, {"signature", "TEXT", false}, {"sha256", "TEXT", false},
              {"seen_utc", "TEXT", false}}}};
    }();
    return layout;
}

} // namespace campaign
