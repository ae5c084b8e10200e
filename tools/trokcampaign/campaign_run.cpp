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
#include "campaign_task.h"
#include "campaign_util.h"
#include "orbitlib_class_noradelements.h"
#include "timelib_proc_TAI93.h"
#include "toolkit_sha256.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"
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

struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

// A program of the project: $VAR when set, else beside this program, else on PATH.
std::string LocateProgram(const std::string& name, const char* var)
{
    if (const char* v = std::getenv(var))
        if (*v) return v;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        const std::string beside = DirName(self) + "/" + name;
        if (access(beside.c_str(), X_OK) == 0) return beside;
    }
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t a = 0; a <= p.size();) {
        size_t b = p.find(':', a);
        if (b == std::string::npos) b = p.size();
        const std::string dir = p.substr(a, b - a);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return AbsolutePath(candidate);
        a = b + 1;
    }
    return "";
}

std::string SelfPath()
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = '\0';
    return self;
}

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
    std::map<std::string, std::string> made;
    const std::string sigs = row.Get(C_products_signature);
    for (size_t a = 0; a < sigs.size();) {
        size_t b = sigs.find(';', a);
        if (b == std::string::npos) b = sigs.size();
        const std::string item = sigs.substr(a, b - a);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) made[item.substr(0, eq)] = item.substr(eq + 1);
        a = b + 1;
    }
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
                           " failed, " + std::to_string(total - done) + " remaining, " + Fixed(rate, 1) +
                           " days/s";
        if (rate > 0 && done < total) line += ", " + Fixed(static_cast<double>(total - done) / rate, 0) + " s left";
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

} // namespace

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
        if (step <= 0) breaks.push_back("overlap of " + Fixed(-step, 1) + " s with the day before");
        else if (step > kHoleSeconds) breaks.push_back("hole of " + Fixed(step, 1) + " s after the day before");

        // The orbit numbers: the same orbit goes on across midnight (its
        // predicted node is the same), or the day starts with the next one.
        const long long last = static_cast<long long>(before->Num(C_last_orbit));
        const long long first = static_cast<long long>(row.Num(C_first_orbit));
        const double nodeStep = row.Num(C_first_node_tai93) - before->Num(C_last_node_tai93);
        const std::vector<double> v = noradelements(row.Get(C_element_line1), row.Get(C_element_line2)).Get();
        const double period = v[0] > 0 ? 2 * 3.141592653589793 / v[0] * 60.0 : 0;   // seconds
        long long expected = -1;
        if (period > 0 && std::fabs(nodeStep) < period / 2) expected = last;
        else if (period > 0 && std::fabs(nodeStep - period) < period / 2) expected = last + 1;
        if (expected >= 0 && first != expected) {
            std::string b = "orbit numbers jump: the day before ends with orbit " + std::to_string(last) +
                            ", this day starts with orbit " + std::to_string(first) + " where " +
                            std::to_string(expected) + " was due";
            if (first == expected + 1 || first == expected - 1)
                b += " (one of the element sets counts its node a revolution " +
                     std::string(first > expected ? "earlier" : "later") + ": omega + M of 360 degrees or more)";
            breaks.push_back(b);
        } else if (expected < 0 && first != last && first != last + 1) {
            breaks.push_back("orbit numbers jump from " + std::to_string(last) + " to " + std::to_string(first));
        }
        std::string text;
        for (const std::string& b : breaks) text += (text.empty() ? "" : "; ") + b;
        row.Set(C_continuity, text.empty() ? "ok" : text);
    }
}

int RunCampaign(const RunOptions& o)
{
    const auto runStart = std::chrono::steady_clock::now();
    try {
        if (o.engine == "slurm")
            Fail("the slurm engine is not available yet; use --engine local");
        // Names travel in tab-separated plan and result files.
        for (const std::string* name : {&o.out, &o.archive, &o.list, &o.elements, &o.config})
            if (name->find_first_of("\t\n") != std::string::npos)
                Fail(*name + ": names with tabs or line breaks cannot be used");
        const std::string campaignDir = AbsolutePath(o.out);
        std::string error;
        if (!MakeDirs(campaignDir + "/run", error)) Fail(campaignDir + ": cannot make the campaign folder: " + error);

        // One driver at a time per campaign.
        const std::string lockPath = campaignDir + "/run/lock";
        const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (lock < 0) Fail(lockPath + ": cannot open: " + std::strerror(errno));
        if (flock(lock, LOCK_EX | LOCK_NB) != 0) Fail(campaignDir + ": another trokcampaign run is using it");

        // Inputs of every day: configuration, program versions, element sets.
        const std::string configSource = o.config.empty() ? "" : AbsolutePath(o.config);
        std::string satellite, configText;
        ReadConfiguration(configSource, satellite, configText);
        const std::string configHash =
            toolkit::Sha256Hex(configText + "\n-- max-element-age " + Fixed(o.maxElementAge, 6) + "\n");
        const std::string trokproc = LocateProgram("trokproc", "TROKPROC");
        const std::string qlrdump = LocateProgram("qlrdump", "QLRDUMP");
        const std::string pgsentry = LocateProgram("pgsentry", "PGSENTRY");
        const std::string qlrplot = LocateProgram("qlrplot", "QLRPLOT");
        for (const auto& p : {std::make_pair("trokproc", trokproc), std::make_pair("qlrdump", qlrdump),
                              std::make_pair("pgsentry", pgsentry)})
            if (p.second.empty()) Fail(std::string("cannot find ") + p.first + " (beside trokcampaign or on PATH)");
        if (o.plots && qlrplot.empty()) Fail("cannot find qlrplot (beside trokcampaign or on PATH)");
        std::string versions = "trokcampaign " TROK_VERSION "\n" + ProgramVersion(trokproc) + "\n" +
                               ProgramVersion(qlrdump) + "\n" + ProgramVersion(pgsentry) + "\n";
        if (!qlrplot.empty()) versions += ProgramVersion(qlrplot) + "\n";
        const std::string versionsHash = toolkit::Sha256Hex(versions);

        const std::string historyPath = AbsolutePath(o.elements);
        ElementHistory history;
        if (!ReadElementHistory(historyPath, satellite, history, error))
            Fail(o.elements + ": cannot read the element sets: " + error);
        if (history.sets.empty())
            std::cerr << "trokcampaign: warning: " << o.elements << ": no element set of " << satellite
                      << ": every day ends as no-elements" << std::endl;
        if (history.badCheckDigits)
            std::cerr << "trokcampaign: warning: " << o.elements << ": " << history.badCheckDigits << " element set"
                      << (history.badCheckDigits == 1 ? "" : "s") << " of " << satellite
                      << " with wrong check digits left out" << std::endl;
        std::string setsText;
        for (const ElementSet& s : history.sets) setsText += ElementFileText(satellite, s);
        if (!WriteFileAtomic(campaignDir + "/run/elements.tle", setsText, error) ||
            !WriteFileAtomic(campaignDir + "/run/configfile", configText, error))
            Fail(campaignDir + "/run: cannot write: " + error);

        SelectPacketLayout(satellite);
        const std::map<std::string, std::string> planned =
            o.archive.empty() ? ListDays(o.list) : ArchiveDays(AbsolutePath(o.archive));

        Catalog catalog;
        if (!catalog.Open(campaignDir + "/catalog.sqlite", true, error))
            Fail(campaignDir + "/catalog.sqlite: " + error);
        std::map<std::string, DayRow> days;
        if (!catalog.LoadDays(days, error)) Fail(campaignDir + "/catalog.sqlite: " + error);

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
            {"max_element_age", Fixed(o.maxElementAge, 6)}, {"command", ShellCommand(again)},
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

        const long long runId = catalog.BeginRun(o.engine, ShellCommand(o.argv), error);
        if (runId < 0) Fail(campaignDir + "/catalog.sqlite: " + error);

        Plan plan;
        plan.settings = {{"run_id", std::to_string(runId)}, {"campaign", campaignDir},
                         {"satellite", satellite}, {"config", campaignDir + "/run/configfile"},
                         {"config_source", configSource}, {"config_sha256", configHash},
                         {"versions", versions}, {"versions_sha256", versionsHash},
                         {"max_element_age", Fixed(o.maxElementAge, 6)},
                         {"exports", o.exports ? "yes" : "no"}, {"plots", o.plots ? "yes" : "no"},
                         {"engine", o.engine}, {"trokproc", trokproc}, {"qlrdump", qlrdump},
                         {"qlrplot", qlrplot}, {"elements", campaignDir + "/run/elements.tle"},
                         {"history", historyPath}};
        for (const std::string& d : toRun) plan.days.emplace_back(d, planned.at(d));
        if (!WriteFileAtomic(PlanPath(campaignDir), PlanText(plan), error))
            Fail(PlanPath(campaignDir) + ": cannot write: " + error);

        // The local engine: pgsentry trokcampaign task CAMPAIGN DAY..., N at a time.
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) Fail("cannot make a pipe");
        wakeFd = pipeFds[1];
        struct sigaction sa = {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaction(sig, &sa, nullptr);

        const int slots = o.jobs > 0 ? o.jobs : std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
        const std::string self = SelfPath();
        const int taskLog = open((campaignDir + "/run/tasks.log").c_str(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
        std::vector<Task> running;
        size_t next = 0;
        Progress progress(toRun.size());
        std::vector<DayRow*> finished;
        std::map<std::string, std::vector<Catalog::Node>> nodesOf;
        size_t ran = 0, stored = 0;
        auto lastCommit = std::chrono::steady_clock::now();

        auto collect = [&](const Task& t, int status) {
            for (const std::string& d : t.days) {
                DayRow fresh;
                std::string text, nodes, err;
                const std::string resultPath = campaignDir + "/days/" + d + "/result.txt";
                DayRow& row = days[d];
                if (ReadText(resultPath, text, err) && ParseResult(text, fresh, nodes) &&
                    fresh.Get(C_run_id) == std::to_string(runId) && !(t.timedOut && fresh.Get(C_outcome) == "stopped")) {
                    row = fresh;
                    std::vector<Catalog::Node> list;
                    for (size_t a = 0; a < nodes.size();) {
                        size_t b = nodes.find(';', a);
                        if (b == std::string::npos) b = nodes.size();
                        const std::string item = nodes.substr(a, b - a);
                        a = b + 1;
                        Catalog::Node n{};
                        char hz = '0';
                        if (std::sscanf(item.c_str(), "%lld:%lf:%c", &n.orbit, &n.offsetSeconds, &hz) == 3) {
                            n.hazard = hz == '1';
                            list.push_back(n);
                        }
                    }
                    nodesOf[d] = list;
                } else {
                    // No result of this run: the task was stopped before it.
                    row.Set(C_day, d);
                    row.Set(C_outcome, "stopped");
                    row.Set(C_run_id, std::to_string(runId));
                    row.Set(C_packet_path, planned.at(d));
                    std::string why = t.timedOut ? "time limit of " + Fixed(t.limit, 0) + " s reached" :
                        stopRequest ? "the campaign was stopped" :
                        "the task ended with status " + std::to_string(status) + " before the day's result";
                    row.Set(C_reason, why);
                }
                finished.push_back(&row);
                ++ran;
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
                if (taskLog >= 0) {
                    posix_spawn_file_actions_adddup2(&files, taskLog, 1);
                    posix_spawn_file_actions_adddup2(&files, taskLog, 2);
                }
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
                if (spawned != 0) Fail(pgsentry + ": cannot start a task: " + std::strerror(spawned));
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
            // What has finished goes to the catalog every few seconds, so
            // that a driver that dies keeps most of its work.
            if (std::chrono::duration<double>(now - lastCommit).count() > 2.0 && stored < finished.size()) {
                std::vector<const DayRow*> rows(finished.begin() + static_cast<long>(stored), finished.end());
                if (!catalog.StoreDays(rows, {}, error)) Fail(campaignDir + "/catalog.sqlite: " + error);
                stored = finished.size();
                lastCommit = now;
            }
            if (stopRequest && next < toRun.size()) next = toRun.size();
            if (!reaped && !running.empty()) {
                progress.Line(false);
                pollfd p{pipeFds[0], POLLIN, 0};
                poll(&p, 1, 250);
                char buf[256];
                while (read(pipeFds[0], buf, sizeof buf) > 0) {
                }
            }
        }
        progress.Line(true);
        if (taskLog >= 0) close(taskLog);

        // Across days, then everything into the catalog at once.
        std::map<std::string, std::string> continuityBefore;
        for (const auto& kv : days) continuityBefore[kv.first] = kv.second.Get(C_continuity) + "|" + kv.second.Get(C_step_s);
        CrossDayChecks(days);
        std::set<const DayRow*> write(finished.begin(), finished.end());
        write.insert(changed.begin(), changed.end());
        for (const auto& kv : days)
            if (continuityBefore[kv.first] != kv.second.Get(C_continuity) + "|" + kv.second.Get(C_step_s))
                write.insert(&kv.second);
        if (!catalog.StoreDays(std::vector<const DayRow*>(write.begin(), write.end()), nodesOf, error))
            Fail(campaignDir + "/catalog.sqlite: " + error);
        if (!WriteReport(campaignDir, days, settings, error)) Fail(campaignDir + "/report.html: " + error);
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart).count();
        catalog.EndRun(runId, static_cast<long long>(toRun.size()), static_cast<long long>(ran),
                       stopRequest ? "stopped" : "done", cpu, wall, usage.ru_maxrss, error);
        if (stopRequest) {
            std::cerr << "trokcampaign: stopped; run again to finish the campaign" << std::endl;
            return 128 + stopRequest;
        }
        size_t notOk = 0;
        for (const auto& kv : days) notOk += kv.second.Get(C_outcome) != "ok";
        if (notOk) {
            std::cerr << "trokcampaign: " << notOk << " of " << days.size()
                      << " days are not ok (trokcampaign status " << ShellQuote(o.out) << ")" << std::endl;
            return 1;
        }
        return 0;
    } catch (const Failure& f) {
        std::cerr << "trokcampaign: " << f.message << std::endl;
        return 255;
    }
}

} // namespace campaign
