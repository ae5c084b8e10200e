#include "campaign_ingest.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "campaign_catalog.h"
#include "campaign_dumps.h"
#include "campaign_failure.h"
#include "campaign_level0.h"
#include "campaign_report.h"
#include "campaign_run_days.h"
#include "platform/closed_output.h"
#include "platform/file_signature.h"
#include "platform/path_names.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"
#include "toolkit/time/unixtime.h"
#include "toolkit/time/utcday.h"

namespace campaign {

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

// Unix seconds of "YYYY-MM-DDThh:mm:ssZ" (0 for another text).
double UnixOfIso(const std::string& iso)
{
    struct tm t = {};
    if (sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
               &t.tm_sec) != 6)
        return 0;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<double>(timegm(&t));
}

enum class Kind { Ingest, Close, Redo };

// What one pass knows and decides.
struct Pass {
    RunOptions o;
    std::string campaignDir;
    Kind kind = Kind::Ingest;
    std::set<std::string> closing;                // days to make final (close)
    std::map<std::string, DumpRow> dumps;         // the catalog's
    std::map<std::string, InboxRow> seen;
    std::vector<VersionRow> versions;
    std::vector<Arrival> arrivals;
    std::map<std::string, DumpRow> fresh;         // dumps new in this pass, by hash
    std::map<std::string, long long> repeats;     // the catalog's dumps delivered again
    std::map<std::string, double> arrivedAt;      // when each dump arrived (Unix seconds)
    std::map<std::string, std::vector<const DumpRow*>> byDay;   // the taken dumps of each day
    std::set<std::string> make;                   // days this pass makes anew
    std::map<std::string, std::string> levels;    // and their levels
    std::map<std::string, DayLevel0> merged;
    const platform::Folder* inbox = nullptr;
};

void LoadPass(Pass& p, Catalog& catalog)
{
    std::string error;
    if (!catalog.LoadDumps(p.dumps, error) || !catalog.LoadInbox(p.seen, error) ||
        !catalog.LoadVersions(p.versions, error))
        Fail(error);
    for (const auto& d : p.dumps) p.arrivedAt[d.first] = UnixOfIso(d.second.arrived_utc);
}

// The inbox's new files: refused ones said once, repeats counted, new dumps
// surveyed for their days.
void TakeInbox(Pass& p, const platform::Folder& inbox, const platform::Folder& kept)
{
    std::string error;
    if (!TakeArrivals(inbox, p.seen, kept, p.arrivals, error)) Fail(error);
    for (const Arrival& a : p.arrivals) {
        if (!a.refused.empty()) {
            toolkit::Warn(inbox.PathOf(a.name) + ": not taken: " + a.refused);
        } else if (p.dumps.count(a.sha256)) {
            ++p.repeats[a.sha256];
        } else if (p.fresh.count(a.sha256)) {
            ++p.fresh[a.sha256].deliveries;
        } else {
            p.fresh[a.sha256] = SurveyDump(kept.PathOf(DumpFileName(a.sha256)), a);
            p.arrivedAt[a.sha256] = a.arrived;
            if (p.fresh[a.sha256].outcome == "taken")
                for (const std::string& d : DumpDays(p.fresh[a.sha256])) p.make.insert(d);
        }
    }
}

void IndexDays(Pass& p)
{
    for (const auto* rows : {&p.dumps, &p.fresh})
        for (const auto& d : *rows)
            if (d.second.outcome == "taken")
                for (const std::string& day : DumpDays(d.second)) p.byDay[day].push_back(&d.second);
}

// The day has ended and --final-after hours have passed since the last
// arrival of a dump for it.
bool DueFinal(const Pass& p, const std::string& day, double now)
{
    if (now < static_cast<double>(toolkit::DayNumber(day) + 1) * 86400.0) return false;
    double last = 0;
    for (const DumpRow* d : p.byDay.at(day)) last = std::max(last, p.arrivedAt.at(d->sha256));
    return now - last >= p.o.finalAfter * 3600.0;
}

// Which days this pass makes, and at which level.
void DecideLevels(Pass& p, const std::map<std::string, DayRecord>& days)
{
    const double now = Now();
    for (const std::string& d : p.closing)
        if (!p.byDay.count(d)) Fail("close " + d + ": no dump of the campaign holds data of that day");
    for (const auto& kv : p.byDay) {
        const auto row = days.find(kv.first);
        const std::string current = row != days.end() ? row->second.level.value_or("") : "";
        const bool closing = p.closing.count(kv.first) && current != "final";
        const bool due = p.kind == Kind::Ingest && current != "final" && DueFinal(p, kv.first, now);
        if (closing || due) p.make.insert(kv.first);
        p.levels[kv.first] = current == "final" || closing || due ? "final" : "nrt";
    }
}

// Numbered from the recorded versions alone: a pass killed after its day
// was stored but before its version was recorded makes that number again.
long long NextVersion(const Pass& p, const std::string& day)
{
    long long last = 0;
    for (const VersionRow& v : p.versions)
        if (v.day == day) last = std::max(last, v.version);
    return last + 1;
}

const DayLevel0& Merged(Pass& p, const CampaignFolder& folder, const std::string& day)
{
    auto m = p.merged.find(day);
    if (m != p.merged.end()) return m->second;
    std::string error;
    if (!MergeDayDumps(folder, day, p.byDay.at(day), p.merged[day], error)) Fail(error);
    return p.merged[day];
}

// The days that run get their stamps, and their notes beside the level-0 files.
void StampDays(Pass& p, const CampaignFolder& folder, const std::vector<std::string>& toRun, RunState& st)
{
    for (const std::string& d : toRun) {
        if (!p.byDay.count(d)) continue;
        const DayLevel0& merged = Merged(p, folder, d);
        DayStamp s{p.levels.count(d) ? p.levels[d] : "nrt", NextVersion(p, d), merged.gaps};
        std::string error;
        if (!WriteLevel0Note(folder, d, s.level, s.version, merged, error)) Fail(error);
        st.stamps[d] = s;
    }
}

// --move: the inbox's files whose dumps are taken (and recorded) removed,
// each only while it is still the file that was read.
void MoveTaken(const Pass& p, const std::set<std::string>& taken)
{
    for (const Arrival& a : p.arrivals) {
        if (!a.refused.empty() || !taken.count(a.sha256)) continue;
        const auto row = p.fresh.count(a.sha256) ? p.fresh.find(a.sha256) : p.dumps.find(a.sha256);
        if (row->second.outcome != "taken") continue;   // foreign and refused dumps are left
        std::string error;
        if (!RemoveIfUnchanged(*p.inbox, a, error)) toolkit::Warn(error);
    }
}

// The versions made, and the dumps and inbox files they took, in one
// transaction: a dump of a day whose version did not come about is left
// for the next pass.
void Commit(Pass& p, Catalog& catalog, const std::map<std::string, DayRecord>& days,
            const std::map<std::string, double>& madeAt)
{
    std::vector<VersionRow> made;
    for (const auto& m : madeAt) {
        const DayRecord& r = days.at(m.first);
        double newest = 0;
        for (const DumpRow* d : p.byDay.at(m.first)) newest = std::max(newest, p.arrivedAt.at(d->sha256));
        VersionRow v{m.first, r.version.value_or(0), r.level.value_or(""),
                     static_cast<long long>(p.byDay.at(m.first).size()), r.packet_sha256.value_or(""),
                     r.eph_sha256.value_or(""), r.att_sha256.value_or(""), r.OutcomeText(),
                     toolkit::IsoUtcFromUnixSeconds(static_cast<std::time_t>(m.second)),
                     Rounded(m.second - newest, 3)};
        made.push_back(v);
    }
    std::vector<DumpRow> rows;
    std::set<std::string> taken;
    for (const auto& d : p.dumps) taken.insert(d.first);
    for (const auto& f : p.fresh) {
        bool done = true;
        if (f.second.outcome == "taken")
            for (const std::string& day : DumpDays(f.second)) done = done && madeAt.count(day);
        if (!done) continue;
        rows.push_back(f.second);
        taken.insert(f.first);
    }
    for (const auto& r : p.repeats) {
        DumpRow d = p.dumps.at(r.first);
        d.deliveries += r.second;
        rows.push_back(d);
    }
    std::vector<InboxRow> inbox;
    for (const Arrival& a : p.arrivals)
        if (!a.refused.empty() || taken.count(a.sha256))
            inbox.push_back({a.name, a.signature, a.sha256, toolkit::IsoUtcFromUnixSeconds(static_cast<std::time_t>(a.arrived))});
    std::string error;
    if (!catalog.StoreIngest(made, rows, inbox, error)) Fail(error);
    if (p.o.move) MoveTaken(p, taken);
    // The report again, with the versions just made.
    std::vector<VersionRow> versions;
    if (!made.empty() && (!catalog.LoadVersions(versions, error) ||
                          !WriteReport(p.campaignDir, days, catalog.LoadSettings(), error, versions)))
        Fail(error);
}

RunHooks PassHooks(Pass& p, const CampaignFolder& folder)
{
    RunHooks h;
    h.beforeRun = [&p, &folder](const std::vector<std::string>& toRun, RunState& st) {
        StampDays(p, folder, toRun, st);
    };
    h.afterRun = [&p](Catalog& catalog, std::map<std::string, DayRecord>& all, RunState& st) {
        Commit(p, catalog, all, st.madeAt);
    };
    return h;
}

// The run that makes a campaign of dumps again from them, for the report.
std::vector<std::string> RedoCommand(const RunOptions& o)
{
    std::vector<std::string> c{"trokcampaign", "run", "--elements", platform::AbsolutePath(o.elements), "--out",
                               platform::AbsolutePath(o.out)};
    if (!o.config.empty()) c.insert(c.end(), {"--config", platform::AbsolutePath(o.config)});
    if (o.exports) c.push_back("--exports");
    if (o.plots) c.push_back("--plots");
    c.insert(c.end(), {"--max-element-age", toolkit::FixedText(o.maxElementAge, 6)});
    return c;
}

// The files the inputs were read from, as one text.
std::string InputsSignature(const RunInputs& in)
{
    std::string all;
    for (const std::string* path : {&in.trokproc, &in.qlrdump, &in.pgsentry, &in.qlrplot, &in.configSource,
                                    &in.historyPath}) {
        std::string one;
        if (!path->empty() && !platform::FileSignature(*path, one)) one = "?";
        all += *path + "=" + one + ";";
    }
    return all;
}

// The pass's inputs: the cached ones while their files are unchanged.
std::shared_ptr<const RunInputs> PassInputs(const RunOptions& o, InputsCache* cache)
{
    if (cache && cache->inputs && InputsSignature(*cache->inputs) == cache->signature) return cache->inputs;
    auto in = std::make_shared<const RunInputs>(ReadInputs(o));
    if (cache) {
        cache->inputs = in;
        cache->signature = InputsSignature(*in);
    }
    return in;
}

// One pass, the campaign held meanwhile: the inbox taken (when given), the
// days to make merged, and a run of them. The exit status.
int OnePass(Pass& p, const platform::Folder* inbox, InputsCache* cache = nullptr)
{
    const auto start = std::chrono::steady_clock::now();
    CampaignFolder folder;
    platform::LockFile lock;
    HoldCampaign(p.o, folder, lock);
    p.campaignDir = folder.Path();
    p.o.redoCommand = RedoCommand(p.o);
    const std::shared_ptr<const RunInputs> inputs = PassInputs(p.o, cache);
    const RunInputs& in = *inputs;
    RefuseOtherSatellite(folder, in.satellite);
    Catalog catalog;
    std::map<std::string, DayRecord> days;
    OpenCatalog(folder, catalog, days);
    LoadPass(p, catalog);
    platform::Folder kept;
    std::string error;
    if (!folder.top.OpenSub("dumps", kept, error, true)) Fail(error);
    RemoveStaleCopies(kept);
    p.inbox = inbox;
    if (inbox) TakeInbox(p, *inbox, kept);
    IndexDays(p);
    DecideLevels(p, days);
    std::map<std::string, std::string> planned;
    for (const auto& kv : p.byDay) {
        planned[kv.first] = Level0Path(folder.Path(), kv.first);
        struct stat st;   // (a file of the held campaign's own)
        if (p.kind == Kind::Redo || p.make.count(kv.first) || stat(planned[kv.first].c_str(), &st) != 0)
            Merged(p, folder, kv.first);
    }
    if (p.kind != Kind::Redo) {
        if (p.make.empty()) {   // nothing to make: what came is recorded
            Commit(p, catalog, days, {});
            return 0;
        }
        p.o.redo.assign(p.make.begin(), p.make.end());
    }
    return RunDays(p.o, in, folder, catalog, days, planned, PassHooks(p, folder), start);
}

// Runs a pass with the stop signals noted, its failure the command's.
int Guarded(Pass& p, const platform::Folder* inbox)
{
    try {
        const platform::StopSignals stops(true);
        const platform::ClosedOutputGuard pipes;
        if (!stops.Ready()) Fail("cannot make a pipe");
        return OnePass(p, inbox);
    } catch (const Failure& f) {
        toolkit::Fail(f.message);
    }
}

} // namespace

void RefuseDumpCampaign(const CampaignFolder& folder)
{
    if (!folder.top.Exists("catalog.sqlite")) return;
    Catalog catalog;
    std::string error;
    if (!catalog.Open(folder.top, CatalogAccess::ReadOnly, error)) Fail(error);
    if (!catalog.LoadSettings().inbox.empty())
        Fail(folder.Path() + ": a campaign of recorder dumps: its days are made from its dumps (trokcampaign run "
                             "without --archive and --list makes them again)");
}

namespace {

// A campaign of dumps' settings as the options of a command that names only
// the campaign; a campaign that is none is refused.
RunOptions StoredOptions(const std::string& campaign, const std::string& command)
{
    CampaignFolder folder;
    Catalog catalog;
    std::string error;
    const std::string usage = command == "run" ? "give one of --archive DIR and --list FILE: " : "";
    if (!OpenCampaign(campaign, false, folder, error)) toolkit::Fail(usage + "cannot use the campaign folder: " + error);
    if (!catalog.Open(folder.top, CatalogAccess::ReadOnly, error)) toolkit::Fail(usage + error);
    const CampaignSettings s = catalog.LoadSettings();
    if (s.inbox.empty())
        toolkit::Fail(folder.Path() + ": not a campaign of recorder dumps (" +
                      (command == "run" ? "give one of --archive DIR and --list FILE" : "made by ingest or watch") + ")");
    RunOptions o;
    o.out = campaign;
    o.inbox = s.inbox;
    o.elements = s.elements;
    o.config = s.config;
    o.exports = s.exports == "yes";
    o.plots = s.plots == "yes";
    o.maxElementAge = std::strtod(s.max_element_age.c_str(), nullptr);
    o.finalAfter = s.final_after.empty() ? 24.0 : std::strtod(s.final_after.c_str(), nullptr);
    return o;
}

} // namespace

int IngestOnce(const RunOptions& o, const platform::Folder& inbox, InputsCache& cache)
{
    Pass p;
    p.o = o;
    return OnePass(p, &inbox, &cache);
}

int CloseCommand(const std::string& campaign, const std::vector<std::string>& days)
{
    Pass p;
    p.o = StoredOptions(campaign, "close");
    p.o.argv = {"trokcampaign", "close", campaign};
    p.o.argv.insert(p.o.argv.end(), days.begin(), days.end());
    p.kind = Kind::Close;
    p.closing.insert(days.begin(), days.end());
    return Guarded(p, nullptr);
}

int IngestCommand(const RunOptions& o)
{
    platform::Folder inbox;
    std::string error;
    if (!inbox.OpenToRead(o.inbox, error)) toolkit::Fail("cannot use the inbox: " + error);
    Pass p;
    p.o = o;
    return Guarded(p, &inbox);
}

int RunFromDumps(const RunOptions& o)
{
    Pass p;
    const RunOptions stored = StoredOptions(o.out, "run");
    p.o = o;
    p.o.inbox = stored.inbox;
    p.o.finalAfter = stored.finalAfter;
    p.kind = Kind::Redo;
    return Guarded(p, nullptr);
}

} // namespace campaign
