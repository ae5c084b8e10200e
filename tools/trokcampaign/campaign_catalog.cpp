#include "campaign_catalog.h"

#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "campaign_catalog_layout.h"
#include "campaign_sqlite.h"
#include "platform/folder.h"
#include "platform/path_names.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "vn_version.h"

namespace campaign {

namespace {

const char kName[] = "catalog.sqlite";
// A new catalog is made under this name and renamed into place.
const char kNewName[] = ".catalog.sqlite.new";

const char kHeldUntilStop[] = "another program held the catalog until a stop came (the results of the "
                              "days that finished stay in their folders; the next run or status takes them in)";

int BusyHandler(void* catalog, int count) { return static_cast<Catalog*>(catalog)->KeepWaiting(count) ? 1 : 0; }

// The files SQLite keeps beside a database and reads when it opens it.
std::vector<std::string> Companions(const std::string& name)
{
    return {name + "-journal", name + "-wal", name + "-shm"};
}

// A companion beside the catalog must be the user's own regular file with
// no other name: SQLite replays a journal or a log into the database.
bool CompanionsAreOurs(const platform::Folder& campaign, const std::string& name, std::string& error)
{
    for (const std::string& c : Companions(name)) {
        if (!campaign.Exists(c)) continue;
        std::string why;
        const int fd = campaign.OpenOwnFile(c, 0600, false, why);
        if (fd < 0) {
            error = why + ": SQLite would take it into " + campaign.PathOf(name) + "; refused";
            return false;
        }
        close(fd);
    }
    return true;
}

} // namespace

Catalog::~Catalog() { Close(); }

void Catalog::Close()
{
    if (db) sqlite3_close(db);
    db = nullptr;
}

bool Catalog::Exec(const std::string& sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool Catalog::KeepWaiting(int count)
{
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) {
        waitingSince = now;
        saidWaiting = false;
    }
    if (platform::StopSignals::Noted()) return false;
    if (!saidWaiting && std::chrono::duration<double>(now - waitingSince).count() >= 1.0) {
        toolkit::Say(path + ": another program holds the catalog (an sqlite3 session with an open transaction?); "
                            "waiting for it");
        saidWaiting = true;
    }
    poll(nullptr, 0, 50);
    return true;
}

bool Catalog::Write(const std::function<bool(std::string&)>& body, std::string& error)
{
    std::string why, ignored;
    if (!Exec("BEGIN IMMEDIATE", why)) {
        error = sqlite3_errcode(db) == SQLITE_BUSY ? kHeldUntilStop : why;
        return false;
    }
    if (!body(why)) {
        Exec("ROLLBACK", ignored);
        error = why;
        return false;
    }
    if (Exec("COMMIT", why)) return true;
    error = sqlite3_errcode(db) == SQLITE_BUSY ? kHeldUntilStop : why;
    Exec("ROLLBACK", ignored);
    return false;
}

bool Catalog::Open(const std::string& file, CatalogAccess access, std::string& error)
{
    platform::Folder campaign;
    if (!campaign.OpenPrivate(platform::DirName(platform::AbsolutePath(file)), error)) return false;
    return Open(campaign, access, error);
}

bool Catalog::Open(const platform::Folder& campaign, CatalogAccess access, std::string& error)
{
    Close();
    path = campaign.PathOf(kName);
    if (!CompanionsAreOurs(campaign, kName, error)) return false;
    if (!campaign.Exists(kName)) {
        if (access != CatalogAccess::Create) {
            error = campaign.Path() + ": not a campaign (no catalog.sqlite)";
            return false;
        }
        if (!MakeNew(campaign, error)) return false;
    }
    if (!OpenDatabase(campaign, kName, access, error)) return false;
    return CheckLayout(error) && (access == CatalogAccess::ReadOnly || Upgrade(error));
}

// The database file checked (the user's own regular file, no link, not
// empty), then opened by SQLite, following no link.
bool Catalog::OpenDatabase(const platform::Folder& campaign, const std::string& name, CatalogAccess access,
                           std::string& error)
{
    std::string why;
    struct stat st;
    const int fd = access == CatalogAccess::ReadOnly ? campaign.OpenFile(name, why, &st)
                                                     : campaign.OpenOwnFile(name, 0600, false, why);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        error = why.empty() ? campaign.PathOf(name) + ": cannot be looked at" : why;
        return false;
    }
    close(fd);
    if (st.st_size == 0 && name == kName) {
        error = path + " is empty: not a campaign's catalog (an emptied catalog is no new campaign; "
                       "remove it to begin the campaign anew)";
        return false;
    }
    // A journal left by an interrupted write of the user's own is rolled
    // back first, which takes the right to write.
    struct stat journal;
    const bool hot = campaign.Stat(name + "-journal", journal) && journal.st_size > 0;
    const int flags = (access == CatalogAccess::ReadOnly && !hot ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                      SQLITE_OPEN_NOFOLLOW;
    if (sqlite3_open_v2(campaign.PathOf(name).c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = campaign.PathOf(name) + ": cannot open: " + (db ? sqlite3_errmsg(db) : "out of memory");
        Close();
        return false;
    }
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_handler(db, BusyHandler, this);
    return true;
}

// The catalog made whole under another name, then renamed into place.
bool Catalog::MakeNew(const platform::Folder& campaign, std::string& error)
{
    std::string why;
    for (const std::string& stale : Companions(kNewName)) campaign.Remove(stale, why);
    if (!campaign.Remove(kNewName, why)) {
        error = why;
        return false;
    }
    const int fd = campaign.OpenOwnFile(kNewName, 0600, true, why);
    if (fd < 0) {
        error = why;
        return false;
    }
    close(fd);
    const std::string shown = path;
    path = campaign.PathOf(kNewName);
    have.clear();
    layout = 0;
    bool ok = OpenDatabase(campaign, kNewName, CatalogAccess::Create, error) && Upgrade(error);
    Close();
    path = shown;
    if (ok && !campaign.Rename(kNewName, kName, why, false)) {
        error = why;
        ok = false;
    }
    if (!ok) campaign.Remove(kNewName, why);
    return ok;
}

// Refuses a catalog this version cannot read whole: a higher layout, a
// table of ours with a column we do not know, or no table of days.
bool Catalog::CheckLayout(std::string& error)
{
    std::string why;
    Statement version(db, "PRAGMA user_version");
    if (!version.Row(why)) {
        error = path + ": not a campaign's catalog: " + (why.empty() ? "no layout version" : why);
        return false;
    }
    layout = sqlite3_column_int64(version.Raw(), 0);
    if (layout > kCatalogLayout) {
        error = path + ": made by a newer trokcampaign (catalog layout " + std::to_string(layout) +
                "; trokcampaign " TROK_VERSION " knows layouts up to " + std::to_string(kCatalogLayout) + ")";
        return false;
    }
    have.clear();
    for (const TableLayout& t : CatalogLayout()) {
        Statement info(db, "PRAGMA table_info(" + t.name + ")");
        std::vector<std::string>& columns = have[t.name];
        while (info.Row(why)) columns.push_back(info.ColumnText(1).value_or(""));
        if (!why.empty()) {
            error = path + ": not a campaign's catalog: " + why;
            return false;
        }
        for (const std::string& c : columns)
            if (!t.Has(c)) {
                error = path + ": table " + t.name + " has a column this trokcampaign does not know (" + c +
                        "): made by a newer version? (this is trokcampaign " TROK_VERSION ")";
                return false;
            }
    }
    if (have["days"].empty()) {
        error = path + ": not a campaign's catalog (no table days)";
        return false;
    }
    return true;
}

// The tables and columns of the layout that the catalog lacks, and its
// layout version, in one transaction; the rollback journal in use.
bool Catalog::Upgrade(std::string& error)
{
    std::string why;
    if (!Exec("PRAGMA journal_mode = DELETE", why)) {
        error = path + ": cannot use a rollback journal: " + why;
        return false;
    }
    // A catalog of this layout with every table and column: nothing to write.
    bool whole = layout == kCatalogLayout;
    for (const TableLayout& t : CatalogLayout())
        for (const TableLayout::Col& c : t.columns) {
            const std::vector<std::string>& cols = have[t.name];
            whole = whole && std::find(cols.begin(), cols.end(), c.name) != cols.end();
        }
    if (whole) return true;
    const bool ok = Write(
        [&](std::string& e) {
            for (const TableLayout& t : CatalogLayout()) {
                std::vector<std::string>& cols = have[t.name];
                if (cols.empty()) {   // made whole
                    if (!Exec(t.CreateSql(), e)) return false;
                    for (const TableLayout::Col& c : t.columns) cols.push_back(c.name);
                    continue;
                }
                for (const TableLayout::Col& c : t.columns) {
                    if (std::find(cols.begin(), cols.end(), c.name) != cols.end()) continue;
                    if (!Exec("ALTER TABLE " + t.name + " ADD COLUMN " + c.name + " " + c.type, e)) return false;
                    cols.push_back(c.name);
                }
            }
            return Exec("PRAGMA user_version = " + std::to_string(kCatalogLayout), e);
        },
        why);
    if (!ok) error = path + ": cannot bring the catalog's tables up to date: " + why;
    return ok;
}

} // namespace campaign
