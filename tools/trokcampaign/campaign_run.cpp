#include "campaign_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>

#include "campaign_elements.h"
#include "campaign_report.h"
#include "campaign_slurm.h"
#include "campaign_task.h"
#include "campaign_util.h"
#include "toolkit_text.h"
#include "orbitlib_class_noradelements.h"
#include "timelib_proc_TAI93.h"
#include "toolkit_cli.h"
#include "toolkit_output.h"
#include "toolkit_sha256.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"
#include "vn_class_outputfile.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"
#include "vn_version.h"

extern char** environ;

namespace campaign {

namespace {

volatile sig_atomic_t stopRequest = 0;
int wakeFd = -1;

void OnSignal(int sig)
{
    const int saved = errno;
    if (sig != SIGCHLD) stopRequest = sig;
    const char c = 0;
    if (wakeFd >= 0) (void)!write(wakeFd, &c, 1);
    errno = saved;
}

// Waits up to `ms` milliseconds or until a signal writes to the wake-up
// pipe `fd`, then empties the pipe.
void Doze(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, ms);
    char buf[256];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

// The day of a packet file from its path: .../YYYY/MM/DD.ext, or a name
// holding YYYY-MM-DD or YYYYMMDD; "" when the path names none.
std::string DayFromPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string stem = base.substr(0, base.find('.'));
    if (stem.size() == 2 && slash != std::string::npos && slash >= 8) {
        // .../YYYY/MM/DD.ext
        const std::string d = path.substr(slash - 7, 4) + "-" + path.substr(slash - 2, 2) + "-" + stem;
        if (path[slash - 3] == '/' && (slash < 8 || path[slash - 8] == '/' || slash == 7) && ValidDay(d)) return d;
    }
    for (size_t i = 0; i + 10 <= base.size(); ++i)
        if (ValidDay(base.substr(i, 10))) return base.substr(i, 10);
    for (size_t i = 0; i + 8 <= base.size(); ++i) {
        const std::string d = base.substr(i, 4) + "-" + base.substr(i + 4, 2) + "-" + base.substr(i + 6, 2);
        bool digits = true;
        for (size_t k = i; k < i + 8; ++k) digits = digits && std::isdigit(static_cast<unsigned char>(base[k]));
        if (digits && ValidDay(d)) return d;
    }
    return "";
}

// The UTC day of a packet file's first packet, read as trokproc reads it.
std::string DayFromPackets(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    if (!file.good() || file.NoPackets() < 1) return "";
    trokpacket first;
    file.ReadPacket(first, file.BegPacket());
    if (file.fail()) return "";
    const std::string utc = UtcText(JulianDayToTAI93(first.TimeTag()));
    return utc.size() >= 10 && ValidDay(utc.substr(0, 10)) ? utc.substr(0, 10) : "";
}

bool IsDigits(const std::string& s, size_t n)
{
    if (s.size() != n) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (const dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// DIR/YYYY/MM/DD.pkt, each day once; the days between the first and the
// last without a file are planned as missing (empty path).
std::map<std::string, std::string> ArchiveDays(const std::string& archive)
{
    struct stat st;
    if (stat(archive.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        Fail(archive + ": not a folder of packet files (DIR/YYYY/MM/DD.pkt)");
    std::map<std::string, std::string> days;
    for (const std::string& y : Entries(archive)) {
        if (!IsDigits(y, 4)) continue;
        for (const std::string& m : Entries(archive + "/" + y)) {
            if (!IsDigits(m, 2)) continue;
            for (const std::string& f : Entries(archive + "/" + y + "/" + m)) {
                if (f.size() != 6 || f.compare(2, 4, ".pkt") != 0 || !IsDigits(f.substr(0, 2), 2)) continue;
                const std::string day = y + "-" + m + "-" + f.substr(0, 2);
                if (!ValidDay(day)) continue;
                days[day] = archive + "/" + y + "/" + m + "/" + f;
            }
        }
    }
    if (days.empty()) Fail(archive + ": no packet files (DIR/YYYY/MM/DD.pkt)");
    const long first = DayNumber(days.begin()->first), last = DayNumber(days.rbegin()->first);
    for (long n = first; n <= last; ++n) days.emplace(DayText(n), "");
    return days;
}

// One packet file a line; each file's day from its path, else from its
// first packet. Two files of one day are refused.
std::map<std::string, std::string> ListDays(const std::string& list)
{
    std::string text, error;
    if (!ReadText(list, text, error)) Fail(list + ": cannot read the list of packet files: " + error);
    std::map<std::string, std::string> days;
    size_t lineNo = 0;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) b = text.size();
        std::string line = text.substr(a, b - a);
        a = b + 1;
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty()) continue;
        if (line.find('\t') != std::string::npos)
            Fail(list + ": line " + std::to_string(lineNo) + ": names with tabs cannot be used");
        const std::string path = AbsolutePath(line);
        std::string day = DayFromPath(path);
        if (day.empty()) day = DayFromPackets(path);
        if (day.empty())
            Fail(list + ": line " + std::to_string(lineNo) + ": " + line +
                 ": no day in its name (YYYY/MM/DD.pkt, YYYY-MM-DD or YYYYMMDD) and no packet to date it by");
        auto it = days.find(day);
        if (it != days.end())
            Fail(list + ": line " + std::to_string(lineNo) + ": " + line + " and " + it->second +
                 " are both packet files of " + day);
        days[day] = path;
    }
    if (days.empty()) Fail(list + ": no packet files listed");
    return days;
}

// The satellite name and the text of trokproc's configuration file, read
// by trokproc's own reader.
void ReadConfiguration(const std::string& path, std::string& satellite, std::string& text)
{
    cfg_list list;
    satellite = list.getvalue("-noradsatname");
    text.clear();
    if (path.empty()) return;   // the built-in defaults
    std::string error;
    if (!ReadText(path, text, error)) Fail(path + ": cannot read the configuration file: " + error);
    configurationfile file(path);
    std::string keyword, value;
    while (file.readline(keyword, value))
        if (!list.setvalue(keyword, value))
            Fail(path + ": not a trokproc configuration file: unknown keyword " + keyword);
    satellite = list.getvalue("-noradsatname");
}

std::string ProgramVersion(const std::string& path)
{
    std::string out;
    const ChildResult r = RunChild({path, "--version"}, {}, -1, &out);
    const std::string line = FirstLine(out);
    if (r.status != 0 || line.empty()) Fail(path + ": cannot tell its version (--version)");
    return line;
}

// Why a day must run, or "" when its row is up to date.
std::string WhyRun(const DayRow& row, const std::string& packet, const ElementHistory& history,
                   const std::string& configHash, const std::string& versionsHash, double maxAge,
                   const RunOptions& o, const std::string& campaignDir, DayRow& refreshed)
{
    const std::string outcome = row.Get(C_outcome);
    if (outcome.empty()) return "new";
    if (outcome == "stopped") return "stopped before";
    if (outcome == "missing") return "packet file appeared";
    if (row.Get(C_packet_path) != packet) return "another packet file";
    std::string signature;
    if (!FileSignature(packet, signature)) return "packet file unreadable";
    if (signature != row.Get(C_packet_signature)) {
        // Touched or replaced: the content decides.
        std::string hash, error;
        uint64_t size = 0;
        if (!toolkit::Sha256File(packet, hash, size, error) || hash != row.Get(C_packet_sha256))
            return "packet file changed";
        refreshed.Set(C_packet_signature, signature);
    }
    if (row.Get(C_config_sha256) != configHash) return "configuration changed";
    if (row.Get(C_versions_sha256) != versionsHash) return "program versions changed";
    const double first = row.Num(C_first_packet_tai93, DayStartTai93(row.Get(C_day)));
    const double last = row.Num(C_last_packet_tai93, first);
    double age = 0;
    const ElementSet* set = ChooseElementSet(history, first, last, age);
    if ((set ? set->sha256 : std::string()) != row.Get(C_element_sha256)) return "element set changed";
    (void)maxAge;
    if (outcome != "ok" && outcome != "check-failed") return "";
    // The products: each as this campaign made it, by identity or by content.
    std::map<std::string, std::string> made = KeyValues(row.Get(C_products_signature), ';');
    std::vector<std::pair<Column, Column>> wanted = {{C_eph_path, C_eph_sha256}, {C_att_path, C_att_sha256}};
    if (o.exports && outcome == "ok") {
        if (!row.Has(C_oem_path) || !row.Has(C_aem_path)) return "exports wanted";
        wanted.push_back({C_oem_path, C_oem_sha256});
        wanted.push_back({C_aem_path, C_aem_sha256});
    }
    if (o.plots && !row.Has(C_quicklook_path)) return "quicklook page wanted";
    bool resigned = false;
    for (const auto& w : wanted) {
        const std::string rel = row.Get(w.first);
        if (rel.empty()) return "products missing";
        std::string now;
        if (!FileSignature(campaignDir + "/" + rel, now)) return "products missing";
        if (now == made[rel]) continue;
        std::string hash, error;
        uint64_t size = 0;
        if (!toolkit::Sha256File(campaignDir + "/" + rel, hash, size, error) || hash != row.Get(w.second))
            return "products changed";
        made[rel] = now;
        resigned = true;
    }
    if (o.plots) {
        std::string now;
        if (!FileSignature(campaignDir + "/" + row.Get(C_quicklook_path), now)) return "quicklook page missing";
    }
    if (resigned) {
        std::string s;
        for (const auto& m : made) s += m.first + "=" + m.second + ";";
        refreshed.Set(C_products_signature, s);
    }
    return "";
}

// Progress on standard error: one line kept up to date on a terminal,
// otherwise a line per day.
class Progress
{
public:
    explicit Progress(size_t days) : total(days), terminal(isatty(2) != 0), start(std::chrono::steady_clock::now()) {}

    void Day(const DayRow& row)
    {
        ++done;
        if (row.Get(C_outcome) != "ok") ++failed;
        if (!terminal) {
            std::cerr << "trokcampaign: " << row.Get(C_day) << " " << row.Get(C_outcome)
                      << (row.Has(C_reason) ? ": " + row.Get(C_reason) : std::string()) << "\n";
            return;
        }
        Line(false);
    }
    void Line(bool last)
    {
        if (!terminal || total == 0) return;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = s > 0 ? static_cast<double>(done) / s : 0;
        std::string line = "trokcampaign: " + std::to_string(done) + " done, " + std::to_string(failed) +
                           " failed, " + std::to_string(total - done) + " remaining, " + toolkit::FixedText(rate, 1) +
                           " days/s";
        if (rate > 0 && done < total) line += ", " + toolkit::FixedText(static_cast<double>(total - done) / rate, 0) + " s left";
        std::cerr << "\r" << line << "\033[K" << (last ? "\n" : "") << std::flush;
    }
    size_t Failed() const { return failed; }

private:
    size_t total, done = 0, failed = 0;
    bool terminal;
    std::chrono::steady_clock::time_point start;
};

struct Task {
    pid_t pid = -1;
    std::vector<std::string> days;
    std::chrono::steady_clock::time_point started, termSent;
    double limit = 0;
    bool timedOut = false, termed = false;
};

// Sends SIGTERM to a task (pgsentry passes it to its whole group).
void Terminate(Task& t)
{
    if (t.termed) return;
    kill(t.pid, SIGTERM);
    t.termed = true;
    t.termSent = std::chrono::steady_clock::now();
}

// What one run of the driver (or the command that folds in a Slurm job's
// results) changes; written to the catalog as it goes and at the end.
struct RunState {
    std::string campaignDir;
    long long runId = -1;
    std::vector<DayRow*> finished;                                 // in the order they finished
    std::map<std::string, std::vector<Catalog::Node>> nodesOf;     // their node offsets
    size_t stored = 0;                                             // finished days already stored
    std::chrono::steady_clock::time_point lastStore = std::chrono::steady_clock::now();
};

// The day's result of run `runId`, read into `row`; false when the day has
// none (its task ended before it, or the result is of an earlier run).
bool TakeResult(RunState& st, const std::string& day, DayRow& row)
{
    DayRow fresh;
    std::string text, nodes, error;
    if (!ReadText(st.campaignDir + "/days/" + day + "/result.txt", text, error) ||
        !ParseResult(text, fresh, nodes) || fresh.Get(C_run_id) != std::to_string(st.runId))
        return false;
    row = fresh;
    st.nodesOf[day] = Catalog::ParseNodes(nodes);
    return true;
}

void MarkStopped(RunState& st, DayRow& row, const std::string& day, const std::string& packet,
                 const std::string& reason)
{
    row.Set(C_day, day);
    row.Set(C_outcome, "stopped");
    row.Set(C_run_id, std::to_string(st.runId));
    row.Set(C_packet_path, packet);
    row.Set(C_reason, reason);
}

// The finished days go to the catalog every few seconds (or now), so that a
// driver that dies keeps most of its work.
void StoreFinished(Catalog& catalog, RunState& st, bool now)
{
    const auto t = std::chrono::steady_clock::now();
    if (st.stored == st.finished.size() || (!now && std::chrono::duration<double>(t - st.lastStore).count() < 2.0))
        return;
    std::vector<const DayRow*> rows(st.finished.begin() + static_cast<long>(st.stored), st.finished.end());
    std::string error;
    if (!catalog.StoreDays(rows, {}, error)) Fail(st.campaignDir + "/catalog.sqlite: " + error);
    st.stored = st.finished.size();
    st.lastStore = t;
}

// The end of a run: the checks between days, every changed row and the
// node offsets into the catalog at once, and the report.
void CompleteRun(Catalog& catalog, std::map<std::string, DayRow>& days, RunState& st,
                 const std::vector<DayRow*>& changed, const std::map<std::string, std::string>& settings)
{
    std::map<std::string, std::string> before;
    for (const auto& kv : days) before[kv.first] = kv.second.Get(C_continuity) + "|" + kv.second.Get(C_step_s);
    CrossDayChecks(days);
    std::set<const DayRow*> write(st.finished.begin(), st.finished.end());
    write.insert(changed.begin(), changed.end());
    for (const auto& kv : days)
        if (before[kv.first] != kv.second.Get(C_continuity) + "|" + kv.second.Get(C_step_s)) write.insert(&kv.second);
    std::string error;
    if (!catalog.StoreDays(std::vector<const DayRow*>(write.begin(), write.end()), st.nodesOf, error))
        Fail(st.campaignDir + "/catalog.sqlite: " + error);
    if (!WriteReport(st.campaignDir, days, settings, error)) Fail(st.campaignDir + "/report.html: " + error);
}

std::map<std::string, std::string> ReportSettings(Catalog& catalog)
{
    std::map<std::string, std::string> settings;
    for (const char* key : {"archive", "list", "elements", "satellite", "command"}) settings[key] = catalog.Setting(key);
    return settings;
}

// A Slurm run as its plan describes it: the days in the order of the job's
// list, days_per_task of them to a task.
struct SlurmRun {
    std::string jobId;
    int daysPerTask = 1;
    std::vector<std::pair<std::string, std::string>> days;   // day, packet file
};

std::string TaskName(const SlurmRun& run, long task) { return run.jobId + "_" + std::to_string(task); }

// Folds in what a Slurm job has finished: each day with a result of the run,
// and each day whose task has left the queue without one, as stopped with
// the scheduler's account of the task. `settled` holds the days already
// folded in. The days still queued or running go to `waiting` (day, state).
void CollectSlurm(RunState& st, const SlurmRun& run, const std::map<long, std::string>& queued,
                  std::map<std::string, DayRow>& days, std::set<std::string>& settled, Progress* progress,
                  std::vector<std::pair<std::string, std::string>>* waiting)
{
    std::map<long, std::string> ended;
    bool asked = false;
    std::string source;
    for (size_t i = 0; i < run.days.size(); ++i) {
        const std::string& day = run.days[i].first;
        if (settled.count(day)) continue;
        const long task = static_cast<long>(i) / run.daysPerTask;
        auto q = queued.find(task);
        if (q != queued.end() && q->second == "PENDING") {
            if (waiting) waiting->emplace_back(day, "queued");
            continue;
        }
        DayRow& row = days[day];
        if (!TakeResult(st, day, row)) {
            if (q != queued.end()) {
                if (waiting) waiting->emplace_back(day, "running");
                continue;
            }
            // The task has left the queue without this day's result.
            if (!asked) {
                ended = EndedTasks(run.jobId, source);
                asked = true;
            }
            const std::string name = TaskName(run, task);
            auto e = ended.find(task);
            std::string reason;
            if (e != ended.end()) {
                reason = "the Slurm task " + name + " ended " + e->second + " before the day's result";
            } else {
                const bool logged = access((st.campaignDir + "/run/slurm/" + name + ".log").c_str(), F_OK) == 0;
                reason = logged ? "the Slurm task " + name + " ended before the day's result (see run/slurm/" +
                                      name + ".log)"
                                : "the Slurm task " + name + " ended without starting";
            }
            MarkStopped(st, row, day, run.days[i].second, reason);
        }
        settled.insert(day);
        st.finished.push_back(&row);
        if (progress) progress->Day(row);
    }
}

bool ReadSlurmRun(const std::string& campaignDir, const Catalog::Run& last, SlurmRun& run, std::string& error)
{
    std::string text;
    Plan plan;
    if (!ReadText(PlanPath(campaignDir), text, error) || !ParsePlan(text, plan)) {
        error = PlanPath(campaignDir) + ": cannot read the plan of Slurm job " + last.jobId +
                (error.empty() ? "" : ": " + error);
        return false;
    }
    if (plan.settings["run_id"] != std::to_string(last.id)) {
        error = PlanPath(campaignDir) + ": not the plan of run " + std::to_string(last.id) + " (Slurm job " +
                last.jobId + ")";
        return false;
    }
    run.jobId = last.jobId;
    run.daysPerTask = std::max(1, std::atoi(plan.settings["days_per_task"].c_str()));
    run.days = plan.days;
    return true;
}

} // namespace

bool ReconcileSlurm(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRow>& days,
                    bool write, SlurmView& view, std::string& error)
{
    view = SlurmView();
    Catalog::Run last;
    // A job left by run --no-wait, or by a run that waited for it and was
    // killed (its row still says running: only one run holds the campaign).
    if (!catalog.LastRun(last) || last.engine != "slurm" || last.jobId.empty() ||
        (last.status != "submitted" && last.status != "running"))
        return true;
    SlurmRun run;
    if (!ReadSlurmRun(campaignDir, last, run, error)) return false;
    std::map<long, std::string> queued;
    if (!QueuedTasks(run.jobId, queued, error)) return false;
    RunState st;
    st.campaignDir = campaignDir;
    st.runId = last.id;
    std::set<std::string> settled;
    std::vector<std::pair<std::string, std::string>> waiting;
    // Without the right to write, the rows are read into a copy.
    std::map<std::string, DayRow> copy;
    std::map<std::string, DayRow>& rows = write ? days : copy;
    if (!write) copy = days;
    CollectSlurm(st, run, queued, rows, settled, nullptr, &waiting);
    view.jobId = run.jobId;
    view.active = !queued.empty();
    view.waiting = waiting;
    view.finished = st.finished.size();
    if (!write) return true;
    try {
        if (view.active) {
            StoreFinished(catalog, st, true);
            std::string e;
            catalog.StoreDays({}, st.nodesOf, e);
        } else {
            CompleteRun(catalog, days, st, {}, ReportSettings(catalog));
            if (!catalog.SetRunStatus(last.id, "done", static_cast<long long>(run.days.size()), error)) return false;
        }
    } catch (const Failure& f) {
        error = f.message;
        return false;
    }
    return true;
}

void CrossDayChecks(std::map<std::string, DayRow>& days)
{
    const DayRow* prev = nullptr;
    long prevNumber = 0;
    for (auto& kv : days) {
        DayRow& row = kv.second;
        const long number = DayNumber(kv.first);
        const DayRow* before = prev && prevNumber == number - 1 ? prev : nullptr;
        prev = &row;
        prevNumber = number;
        const bool products = row.Has(C_first_orbit) && row.Has(C_first_packet_tai93) &&
                              (row.Get(C_outcome) == "ok" || row.Get(C_outcome) == "check-failed");
        row.Clear(C_step_s);
        if (!products) {
            row.Clear(C_continuity);
            continue;
        }
        if (!before) {
            row.Set(C_continuity, "first day");
            continue;
        }
        const bool beforeProducts = before->Has(C_last_orbit) && before->Has(C_last_packet_tai93) &&
                                    (before->Get(C_outcome) == "ok" || before->Get(C_outcome) == "check-failed");
        if (!beforeProducts) {
            row.Set(C_continuity, "the day before is " + before->Get(C_outcome));
            continue;
        }
        std::vector<std::string> breaks;
        const double step = row.Num(C_first_packet_tai93) - before->Num(C_last_packet_tai93);
        row.SetNum(C_step_s, step, 3);
        if (step <= 0) breaks.push_back("overlap of " + toolkit::FixedText(-step, 1) + " s with the day before");
        else if (step > kHoleSeconds)
            breaks.push_back("hole of " + toolkit::FixedText(step, 1) + " s after the day before");
        const std::string orbits = OrbitContinuity(*before, row);
        if (!orbits.empty()) breaks.push_back(orbits);
        std::string text;
        for (const std::string& b : breaks) text += (text.empty() ? "" : "; ") + b;
        row.Set(C_continuity, text.empty() ? "ok" : text);
    }
}

std::string OrbitContinuity(const DayRow& before, const DayRow& row)
{
    ElementSet setBefore, setToday;
    setBefore.line1 = before.Get(C_element_line1);
    setBefore.line2 = before.Get(C_element_line2);
    setToday.line1 = row.Get(C_element_line1);
    setToday.line2 = row.Get(C_element_line2);
    SetNumberingValues(setBefore);
    SetNumberingValues(setToday);
    const double period = setToday.periodSeconds;
    const long long last = static_cast<long long>(before.Num(C_last_orbit));
    const long long first = static_cast<long long>(row.Num(C_first_orbit));
    // Which revolution the day's first orbit is, from what was observed: the
    // revolutions from the day before's last ascending crossing to this day's
    // first one; the first orbit is the one before that crossing. Without
    // crossings on both sides, from the predicted nodes: the same revolution
    // goes on (nodes less than half a revolution apart) or the next begins.
    long long expected = -1;
    if (period > 0 && row.Has(C_first_crossing_tai93) && before.Has(C_last_crossing_tai93)) {
        const double turns = (row.Num(C_first_crossing_tai93) - before.Num(C_last_crossing_tai93)) / period;
        expected = last + std::llround(turns) - 1;
    } else if (period > 0) {
        const double nodeStep = row.Num(C_first_node_tai93) - before.Num(C_last_node_tai93);
        if (std::fabs(nodeStep) < period / 2) expected = last;
        else if (std::fabs(nodeStep - period) < period / 2) expected = last + 1;
    }
    if (expected < 0)
        return first == last || first == last + 1 ? std::string()
                                                   : "orbit numbers jump from " + std::to_string(last) + " to " +
                                                         std::to_string(first);
    if (first == expected) return "";

    // The causes the numbering model has for it, each worth one revolution.
    std::vector<std::string> causes;
    const bool highToday = setToday.omegaPlusMeanDeg >= 360, highBefore = setBefore.omegaPlusMeanDeg >= 360;
    if (highToday && !highBefore)
        causes.push_back("this day's element set has omega + M of " + toolkit::FixedText(setToday.omegaPlusMeanDeg, 4) +
                         " degrees, 360 or more, the day before's not: it counts from a node a revolution earlier, "
                         "so its orbit numbers run one higher");
    if (highBefore && !highToday)
        causes.push_back("the day before's element set has omega + M of " +
                         toolkit::FixedText(setBefore.omegaPlusMeanDeg, 4) +
                         " degrees, 360 or more, this day's not: its orbit numbers ran one higher");
    const long long firstNumbering = row.Has(C_first_orbit_numbering) ? std::llround(row.Num(C_first_orbit_numbering)) : 0;
    const long long lastNumbering = before.Has(C_last_orbit_numbering) ? std::llround(before.Num(C_last_orbit_numbering)) : 0;
    // The first orbit takes the whole revolutions from the set's node to
    // its first record: a first record past the predicted node of a
    // revolution whose crossing is still to come (or, before the set's
    // node, counted toward zero) gives it the next number.
    if (firstNumbering != 0)
        causes.push_back(std::string("this day's first orbit, under way when its data begin, carries the ") +
                         (firstNumbering > 0 ? "next" : "previous") + " revolution's number");
    if (lastNumbering < 0)
        causes.push_back("the day before's last orbit carries the previous revolution's number: its ascending "
                         "crossing came before its predicted node");
    else if (lastNumbering > 0)
        causes.push_back("the day before's last orbit carries the next revolution's number: its ascending crossing "
                         "came after its predicted node, before its element set's epoch");
    const long long rest = (first - expected) - ((highToday ? 1 : 0) - (highBefore ? 1 : 0) + firstNumbering - lastNumbering);
    if (rest != 0)
        causes.push_back("the two element sets' revolution numbers differ by " + std::to_string(rest) +
                         " from the revolutions between them");
    std::string text = "orbit numbers jump: the day before ends with orbit " + std::to_string(last) +
                       ", this day starts with orbit " + std::to_string(first) + " where " + std::to_string(expected) +
                       " was due";
    for (size_t i = 0; i < causes.size(); ++i) text += (i ? ", and " : " (") + causes[i];
    return causes.empty() ? text : text + ")";
}

int RunCampaign(const RunOptions& o)
{
    const auto runStart = std::chrono::steady_clock::now();
    try {
        // Names travel in tab-separated plan and result files.
        for (const std::string* name : {&o.out, &o.archive, &o.list, &o.elements, &o.config})
            if (name->find_first_of("\t\n") != std::string::npos)
                Fail(*name + ": names with tabs or line breaks cannot be used");
        const std::string campaignDir = AbsolutePath(o.out);
        // The campaign folder is the user's own and closed to others, so
        // nobody can plant links or FIFOs where the driver, its tasks and
        // SQLite create their files.
        toolkit::OwnFolder(campaignDir);
        std::string error;
        if (!MakeDirs(campaignDir + "/run", error)) Fail(campaignDir + ": cannot make the campaign folder: " + error);

        // One driver at a time per campaign.
        const std::string lockPath = campaignDir + "/run/lock";
        const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (lock < 0) Fail(lockPath + ": cannot open: " + std::strerror(errno));
        if (flock(lock, LOCK_EX | LOCK_NB) != 0) Fail(campaignDir + ": another trokcampaign run is using it");

        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) Fail("cannot make a pipe");
        wakeFd = pipeFds[1];
        CatchStopSignals(OnSignal, true);

        // Inputs of every day: configuration, program versions, element sets.
        const std::string configSource = o.config.empty() ? "" : AbsolutePath(o.config);
        std::string satellite, configText;
        ReadConfiguration(configSource, satellite, configText);
        const std::string ageText = toolkit::FixedText(o.maxElementAge, 6);
        const std::string configHash = toolkit::Sha256Hex(configText + "\n-- max-element-age " + ageText + "\n");
        const std::string trokproc = LocateProgram("trokproc", "TROKPROC");
        const std::string qlrdump = LocateProgram("qlrdump", "QLRDUMP");
        const std::string pgsentry = LocateProgram("pgsentry", "PGSENTRY");
        const std::string qlrplot = LocateProgram("qlrplot", "QLRPLOT");
        for (const auto& p : {std::make_pair("trokproc", trokproc), std::make_pair("qlrdump", qlrdump),
                              std::make_pair("pgsentry", pgsentry)})
            if (p.second.empty()) Fail(std::string("cannot find ") + p.first + " (beside trokcampaign or on PATH)");
        if (o.plots && qlrplot.empty()) Fail("cannot find qlrplot (beside trokcampaign or on PATH)");
        const std::string arrayScript = o.engine == "slurm" ? LocateArrayScript() : "";
        if (o.engine == "slurm" && arrayScript.empty())
            Fail("cannot find trokarray.sbatch (set TROKARRAY, or install trokproc's job scripts)");
        std::string versions = "trokcampaign " TROK_VERSION "\n" + ProgramVersion(trokproc) + "\n" +
                               ProgramVersion(qlrdump) + "\n" + ProgramVersion(pgsentry) + "\n";
        if (!qlrplot.empty()) versions += ProgramVersion(qlrplot) + "\n";
        const std::string versionsHash = toolkit::Sha256Hex(versions);

        const std::string historyPath = AbsolutePath(o.elements);
        ElementHistory history;
        if (!ReadElementHistory(historyPath, satellite, history, error))
            Fail(o.elements + ": cannot read the element sets: " + error);
        if (history.sets.empty())
            toolkit::Warn(o.elements + ": no element set of " + satellite + ": every day ends as no-elements");
        if (history.badCheckDigits)
            toolkit::Warn(o.elements + ": " + std::to_string(history.badCheckDigits) + " element set" +
                          (history.badCheckDigits == 1 ? "" : "s") + " of " + satellite +
                          " with wrong check digits left out");

        SelectPacketLayout(satellite);
        const std::map<std::string, std::string> planned =
            o.archive.empty() ? ListDays(o.list) : ArchiveDays(AbsolutePath(o.archive));

        Catalog catalog;
        if (!catalog.Open(campaignDir + "/catalog.sqlite", true, error))
            Fail(campaignDir + "/catalog.sqlite: " + error);
        std::map<std::string, DayRow> days;
        if (!catalog.LoadDays(days, error)) Fail(campaignDir + "/catalog.sqlite: " + error);

        // A Slurm job of an earlier run (run --no-wait) is folded in first;
        // one still in the queue keeps this run out.
        SlurmView pending;
        if (!ReconcileSlurm(catalog, campaignDir, days, true, pending, error))
            Fail(campaignDir + ": the Slurm job of the last run: " + error);
        if (pending.active)
            Fail(campaignDir + ": Slurm job " + pending.jobId + " of an earlier run is still running (" +
                 std::to_string(pending.waiting.size()) + " days to go): trokcampaign status " + ShellQuote(o.out) +
                 " follows it, scancel " + pending.jobId + " stops it");

        std::string setsText;
        for (const ElementSet& s : history.sets) setsText += ElementFileText(satellite, s);
        if (!WriteOutput(campaignDir + "/run/elements.tle", setsText, error) ||
            !WriteOutput(campaignDir + "/run/configfile", configText, error))
            Fail(campaignDir + "/run: cannot write: " + error);

        // The command that reruns this campaign, for the report's redo line.
        std::vector<std::string> again;
        for (size_t i = 0; i < o.argv.size(); ++i) {
            if (o.argv[i] == "--redo") {
                ++i;
                continue;
            }
            again.push_back(o.argv[i]);
        }
        std::map<std::string, std::string> settings = {
            {"archive", o.archive.empty() ? "" : AbsolutePath(o.archive)},
            {"list", o.list.empty() ? "" : AbsolutePath(o.list)},
            {"elements", historyPath}, {"config", configSource}, {"satellite", satellite},
            {"max_element_age", ageText}, {"command", ShellCommand(again)},
            {"exports", o.exports ? "yes" : "no"}, {"plots", o.plots ? "yes" : "no"}};
        if (!catalog.SetSettings(settings, error)) Fail(campaignDir + "/catalog.sqlite: " + error);

        // What to run.
        const std::set<std::string> redo(o.redo.begin(), o.redo.end());
        for (const std::string& d : redo)
            if (!planned.count(d)) Fail("--redo " + d + ": not a day of this campaign");
        std::vector<std::string> toRun;
        std::vector<DayRow*> changed;
        for (const auto& p : planned) {
            DayRow& row = days[p.first];
            const bool exists = !p.second.empty() && access(p.second.c_str(), F_OK) == 0;
            if (!exists) {
                const std::string path = p.second.empty() ? (o.archive.empty() ? std::string() :
                    AbsolutePath(o.archive) + "/" + p.first.substr(0, 4) + "/" + p.first.substr(5, 2) + "/" +
                    p.first.substr(8, 2) + ".pkt") : p.second;
                if (row.Get(C_outcome) != "missing" || row.Get(C_packet_path) != path) {
                    row.Set(C_day, p.first);
                    row.Set(C_outcome, "missing");
                    row.Set(C_reason, "no packet file " + path);
                    row.Set(C_packet_path, path);
                    changed.push_back(&row);
                }
                continue;
            }
            DayRow refreshed = row;
            const std::string why = redo.count(p.first) ? "asked to redo" :
                WhyRun(row, p.second, history, configHash, versionsHash, o.maxElementAge, o, campaignDir, refreshed);
            if (!why.empty()) toRun.push_back(p.first);
            else if (refreshed.Get(C_packet_signature) != row.Get(C_packet_signature) ||
                     refreshed.Get(C_products_signature) != row.Get(C_products_signature)) {
                row = refreshed;
                changed.push_back(&row);
            }
        }
        // Days of the catalog that the archive or list no longer holds.
        for (auto& kv : days)
            if (!planned.count(kv.first) && kv.second.Get(C_outcome) != "missing") {
                kv.second.Set(C_outcome, "missing");
                kv.second.Set(C_reason, "no longer in the " + std::string(o.archive.empty() ? "list" : "archive"));
                changed.push_back(&kv.second);
            }

        RunState st;
        st.campaignDir = campaignDir;
        st.runId = catalog.BeginRun(o.engine, ShellCommand(o.argv), error);
        if (st.runId < 0) Fail(campaignDir + "/catalog.sqlite: " + error);

        Plan plan;
        plan.settings = {{"run_id", std::to_string(st.runId)}, {"campaign", campaignDir},
                         {"satellite", satellite}, {"config", campaignDir + "/run/configfile"},
                         {"config_source", configSource}, {"config_sha256", configHash},
                         {"versions", versions}, {"versions_sha256", versionsHash},
                         {"max_element_age", ageText},
                         {"exports", o.exports ? "yes" : "no"}, {"plots", o.plots ? "yes" : "no"},
                         {"engine", o.engine}, {"trokproc", trokproc}, {"qlrdump", qlrdump},
                         {"qlrplot", qlrplot}, {"elements", campaignDir + "/run/elements.tle"},
                         {"history", historyPath}, {"days_per_task", std::to_string(o.daysPerTask)}};
        for (const std::string& d : toRun) plan.days.emplace_back(d, planned.at(d));
        if (!WriteOutput(PlanPath(campaignDir), PlanText(plan), error))
            Fail(PlanPath(campaignDir) + ": cannot write: " + error);

        Progress progress(toRun.size());
        const std::string self = SelfPath();
        std::string status = "done";
        if (o.engine == "local" && !toRun.empty()) {
            // The local engine: pgsentry trokcampaign task CAMPAIGN DAY..., N at a time.
            const int slots = o.jobs > 0 ? o.jobs : std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
            outputfile taskLog;
            if (!taskLog.Open(campaignDir + "/run/tasks.log")) Fail(taskLog.Name() + ": " + taskLog.Error());
            KeepStopSignals();
            std::vector<Task> running;
            size_t next = 0;

            auto collect = [&](const Task& t, int exitStatus) {
                for (const std::string& d : t.days) {
                    DayRow& row = days[d];
                    DayRow fresh;
                    if (!TakeResult(st, d, fresh) || (t.timedOut && fresh.Get(C_outcome) == "stopped")) {
                        // No result of this run: the task was stopped before it.
                        MarkStopped(st, row, d, planned.at(d),
                                    t.timedOut ? "time limit of " + toolkit::FixedText(t.limit, 0) + " s reached" :
                                    stopRequest ? "the campaign was stopped" :
                                    "the task ended with status " + std::to_string(exitStatus) +
                                        " before the day's result");
                        st.nodesOf.erase(d);
                    } else {
                        row = fresh;
                    }
                    st.finished.push_back(&row);
                    progress.Day(row);
                }
            };

            while (next < toRun.size() || !running.empty()) {
                while (!stopRequest && next < toRun.size() && static_cast<int>(running.size()) < slots) {
                    Task t;
                    for (int k = 0; k < o.daysPerTask && next < toRun.size(); ++k) t.days.push_back(toRun[next++]);
                    std::vector<std::string> argv = {pgsentry, self, "task", campaignDir};
                    argv.insert(argv.end(), t.days.begin(), t.days.end());
                    std::vector<char*> args;
                    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
                    args.push_back(nullptr);
                    // posix_spawn: no copy of the driver's memory for each task.
                    posix_spawn_file_actions_t files;
                    posix_spawn_file_actions_init(&files);
                    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
                    posix_spawn_file_actions_adddup2(&files, taskLog.Fd(), 1);
                    posix_spawn_file_actions_adddup2(&files, taskLog.Fd(), 2);
                    posix_spawnattr_t attr;
                    posix_spawnattr_init(&attr);
                    sigset_t defaults;
                    sigemptyset(&defaults);
                    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
                    posix_spawnattr_setsigdefault(&attr, &defaults);
                    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
                    const int spawned = posix_spawn(&t.pid, args[0], &files, &attr, args.data(), environ);
                    posix_spawn_file_actions_destroy(&files);
                    posix_spawnattr_destroy(&attr);
                    if (spawned != 0) {
                        for (Task& r : running) Terminate(r);
                        Fail(pgsentry + ": cannot start a task: " + std::strerror(spawned));
                    }
                    t.started = std::chrono::steady_clock::now();
                    t.limit = o.timeout * static_cast<double>(t.days.size());
                    running.push_back(t);
                }
                if (stopRequest)
                    for (Task& t : running) Terminate(t);

                // Reap whatever ended.
                bool reaped = false;
                for (size_t i = 0; i < running.size();) {
                    int ws = 0;
                    const pid_t r = waitpid(running[i].pid, &ws, WNOHANG);
                    if (r != running[i].pid) {
                        ++i;
                        continue;
                    }
                    Task t = running[i];
                    running.erase(running.begin() + static_cast<long>(i));
                    // pgsentry leaves as soon as it has passed SIGTERM on: give
                    // its group a moment to clean up, then end what is left.
                    if (t.termed) {
                        bool left = kill(-t.pid, 0) == 0;
                        for (int k = 0; k < 100 && left; ++k) {
                            usleep(20000);
                            left = kill(-t.pid, 0) == 0;
                        }
                        if (left) kill(-t.pid, SIGKILL);
                    }
                    collect(t, WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws));
                    reaped = true;
                }
                // Time limits: SIGTERM, then SIGKILL to the group 2 s later.
                const auto now = std::chrono::steady_clock::now();
                for (Task& t : running) {
                    if (!t.termed && std::chrono::duration<double>(now - t.started).count() > t.limit) {
                        t.timedOut = true;
                        Terminate(t);
                    } else if (t.termed && std::chrono::duration<double>(now - t.termSent).count() > 2.0) {
                        kill(-t.pid, SIGKILL);
                        kill(t.pid, SIGKILL);
                    }
                }
                StoreFinished(catalog, st, false);
                if (stopRequest && next < toRun.size()) next = toRun.size();
                if (!reaped && !running.empty()) {
                    progress.Line(false);
                    Doze(pipeFds[0], 250);
                }
            }
            progress.Line(true);
            if (!taskLog.Commit()) toolkit::Warn(taskLog.Name() + ": " + taskLog.Error());
        } else if (o.engine == "slurm" && !toRun.empty()) {
            // The Slurm engine: an array job through trokarray.sbatch, each
            // task `trokcampaign task CAMPAIGN DAY...` for its batch of days.
            std::string list;
            for (const std::string& d : toRun) list += d + "\n";
            const std::string listPath = campaignDir + "/run/days.list";
            if (!WriteOutput(listPath, list, error)) Fail(listPath + ": cannot write: " + error);
            if (!MakeDirs(campaignDir + "/run/slurm", error)) Fail(campaignDir + "/run/slurm: " + error);
            ArrayJob job;
            job.script = arrayScript;
            job.list = listPath;
            job.logDir = campaignDir + "/run/slurm";
            job.command = {self, "task", campaignDir};
            job.linesPerTask = o.daysPerTask;
            job.tasks = (toRun.size() + static_cast<size_t>(o.daysPerTask) - 1) / static_cast<size_t>(o.daysPerTask);
            job.throttle = o.jobs;
            // The task's time: its days at --timeout each, and two minutes
            // for the early SIGTERM's lead and Slurm's own start.
            job.minutes = static_cast<int>(std::ceil((o.timeout * o.daysPerTask + 120.0) / 60.0));
            job.name = "trokcampaign";
            job.env = {{"PGSENTRY", pgsentry}};
            SlurmRun run;
            run.daysPerTask = o.daysPerTask;
            run.days = plan.days;
            if (!SubmitArray(job, run.jobId, error))
                Fail(error + (job.tasks > 1000 ? " (" + std::to_string(job.tasks) +
                                                     " tasks: more --days-per-task make fewer)" : ""));
            if (!catalog.SetRunJob(st.runId, run.jobId, error)) Fail(campaignDir + "/catalog.sqlite: " + error);
            toolkit::Say("Slurm job " + run.jobId + ": " + std::to_string(job.tasks) + " task" +
                         (job.tasks == 1 ? "" : "s") + " for " + std::to_string(toRun.size()) + " day" +
                         (toRun.size() == 1 ? "" : "s") + (o.noWait ? "; trokcampaign status " + ShellQuote(o.out) +
                                                                          " follows it" : ""));
            if (o.noWait) {
                // The job runs on; status and the next run fold it in.
                status = "submitted";
            } else {
                std::set<std::string> settled;
                bool cancelled = false;
                auto stopAsked = std::chrono::steady_clock::now();
                for (;;) {
                    std::map<long, std::string> queued;
                    if (!QueuedTasks(run.jobId, queued, error)) {
                        if (!cancelled) CancelJob(run.jobId);
                        Fail(error + " (Slurm job " + run.jobId + " cancelled)");
                    }
                    if (stopRequest && !cancelled) {
                        CancelJob(run.jobId);
                        cancelled = true;
                        stopAsked = std::chrono::steady_clock::now();
                    }
                    // The job's tasks that left the queue meanwhile are
                    // folded in after another look at the queue, so that a
                    // task's last result is not taken for missing.
                    CollectSlurm(st, run, queued, days, settled, &progress, nullptr);
                    StoreFinished(catalog, st, false);
                    if (queued.empty()) break;
                    if (cancelled && std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAsked)
                                             .count() > 120.0) {
                        status = "submitted";   // left for status to fold in
                        break;
                    }
                    progress.Line(false);
                    Doze(pipeFds[0], 2000);
                }
                progress.Line(true);
            }
        }

        if (status != "submitted") CompleteRun(catalog, days, st, changed, settings);
        else {
            StoreFinished(catalog, st, true);
            std::vector<const DayRow*> rows(changed.begin(), changed.end());
            if (!catalog.StoreDays(rows, st.nodesOf, error)) Fail(campaignDir + "/catalog.sqlite: " + error);
        }
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();
        if (stopRequest && status == "done") status = "stopped";
        catalog.EndRun(st.runId, static_cast<long long>(toRun.size()), static_cast<long long>(st.finished.size()),
                       status, cpu, wall, usage.ru_maxrss, error);
        if (stopRequest) {
            toolkit::Say("stopped; run again to finish the campaign");
            return 128 + stopRequest;
        }
        if (status == "submitted") return 0;
        size_t notOk = 0;
        for (const auto& kv : days) notOk += kv.second.Get(C_outcome) != "ok";
        if (notOk) {
            toolkit::Say(std::to_string(notOk) + " of " + std::to_string(days.size()) +
                         " days are not ok (trokcampaign status " + ShellQuote(o.out) + ")");
            return 1;
        }
        return 0;
    } catch (const Failure& f) {
        toolkit::Fail(f.message);
    }
}

} // namespace campaign
