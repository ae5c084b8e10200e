// The catalog's rows of ingestion: dumps, versions and the inbox's files
// (campaign_catalog.h).
#include <sqlite3.h>

#include "campaign_catalog.h"
#include "campaign_sqlite.h"

namespace campaign {

bool Catalog::LoadDumps(std::map<std::string, DumpRow>& dumps, std::string& error)
{
    if (have["dumps"].empty()) return true;
    Statement st(db, "SELECT sha256, name, arrived_utc, first_packet_utc, last_packet_utc, days, deliveries, "
                     "outcome, reason FROM dumps");
    std::string why;
    while (st.Row(why)) {
        DumpRow d;
        d.sha256 = st.ColumnText(0).value_or("");
        d.name = st.ColumnText(1).value_or("");
        d.arrived_utc = st.ColumnText(2).value_or("");
        d.first_packet_utc = st.ColumnText(3).value_or("");
        d.last_packet_utc = st.ColumnText(4).value_or("");
        d.days = st.ColumnText(5).value_or("");
        d.deliveries = sqlite3_column_int64(st.Raw(), 6);
        d.outcome = st.ColumnText(7).value_or("");
        d.reason = st.ColumnText(8).value_or("");
        dumps[d.sha256] = d;
    }
    if (!why.empty()) error = path + ": cannot read the dumps: " + why;
    return why.empty();
}

bool Catalog::LoadVersions(std::vector<VersionRow>& versions, std::string& error)
{
    if (have["versions"].empty()) return true;
    Statement st(db, "SELECT day, version, level, dumps, l0_sha256, eph_sha256, att_sha256, outcome, made_utc, "
                     "latency_s FROM versions ORDER BY day, version");
    std::string why;
    while (st.Row(why)) {
        VersionRow v;
        v.day = st.ColumnText(0).value_or("");
        v.version = sqlite3_column_int64(st.Raw(), 1);
        v.level = st.ColumnText(2).value_or("");
        v.dumps = sqlite3_column_int64(st.Raw(), 3);
        v.l0_sha256 = st.ColumnText(4).value_or("");
        v.eph_sha256 = st.ColumnText(5).value_or("");
        v.att_sha256 = st.ColumnText(6).value_or("");
        v.outcome = st.ColumnText(7).value_or("");
        v.made_utc = st.ColumnText(8).value_or("");
        if (sqlite3_column_type(st.Raw(), 9) != SQLITE_NULL) v.latency_s = sqlite3_column_double(st.Raw(), 9);
        versions.push_back(v);
    }
    if (!why.empty()) error = path + ": cannot read the versions: " + why;
    return why.empty();
}

bool Catalog::LoadInbox(std::map<std::string, InboxRow>& inbox, std::string& error)
{
    if (have["inbox"].empty()) return true;
    Statement st(db, "SELECT name, signature, sha256, seen_utc FROM inbox");
    std::string why;
    while (st.Row(why)) {
        InboxRow f{st.ColumnText(0).value_or(""), st.ColumnText(1).value_or(""), st.ColumnText(2).value_or(""),
                   st.ColumnText(3).value_or("")};
        inbox[f.name] = f;
    }
    if (!why.empty()) error = path + ": cannot read the inbox's files: " + why;
    return why.empty();
}

bool Catalog::StoreIngest(const std::vector<VersionRow>& versions, const std::vector<DumpRow>& dumps,
                          const std::vector<InboxRow>& inbox, std::string& error)
{
    if (versions.empty() && dumps.empty() && inbox.empty()) return true;
    std::string why;
    const bool ok = Write(
        [&](std::string& e) {
            Statement v(db, "INSERT OR REPLACE INTO versions (day, version, level, dumps, l0_sha256, eph_sha256, "
                            "att_sha256, outcome, made_utc, latency_s) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            for (const VersionRow& r : versions) {
                v.Text(1, r.day).Int(2, r.version).Text(3, r.level).Int(4, r.dumps).Text(5, r.l0_sha256);
                v.Text(6, r.eph_sha256).Text(7, r.att_sha256).Text(8, r.outcome).Text(9, r.made_utc);
                if (r.latency_s) v.Double(10, *r.latency_s);
                else v.Null(10);
                if (!v.Done(e)) return false;
            }
            Statement d(db, "INSERT OR REPLACE INTO dumps (sha256, name, arrived_utc, first_packet_utc, "
                            "last_packet_utc, days, deliveries, outcome, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
            for (const DumpRow& r : dumps) {
                d.Text(1, r.sha256).Text(2, r.name).Text(3, r.arrived_utc).Text(4, r.first_packet_utc);
                d.Text(5, r.last_packet_utc).Text(6, r.days).Int(7, r.deliveries).Text(8, r.outcome);
                if (!d.Text(9, r.reason).Done(e)) return false;
            }
            Statement f(db, "INSERT OR REPLACE INTO inbox (name, signature, sha256, seen_utc) VALUES (?, ?, ?, ?)");
            for (const InboxRow& r : inbox)
                if (!f.Text(1, r.name).Text(2, r.signature).Text(3, r.sha256).Text(4, r.seen_utc).Done(e))
                    return false;
            return true;
        },
        why);
    if (!ok) error = path + ": cannot store what the inbox brought: " + why;
    return ok;
}

} // namespace campaign
