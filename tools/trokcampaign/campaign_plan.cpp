#include "campaign_plan.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "toolkit/time/utcday.h"
#include "campaign_failure.h"
#include "campaign_fields.h"
#include "campaign_slurm_commands.h"
#include "pipeline/programs.h"
#include "orbitlib_class_noradelements.h"
#include "platform/file_reading.h"
#include "platform/file_signature.h"
#include "platform/path_names.h"
#include "platform/program_lookup.h"
#include "timelib_proc_TAI93.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/time/civilutc.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"
#include "vn_version.h"

namespace campaign {

namespace {

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
        if (path[slash - 3] == '/' && (slash < 8 || path[slash - 8] == '/' || slash == 7) && toolkit::ValidDay(d)) return d;
    }
    for (size_t i = 0; i + 10 <= base.size(); ++i)
        if (toolkit::ValidDay(base.substr(i, 10))) return base.substr(i, 10);
    for (size_t i = 0; i + 8 <= base.size(); ++i) {
        const std::string d = base.substr(i, 4) + "-" + base.substr(i + 4, 2) + "-" + base.substr(i + 6, 2);
        bool digits = true;
        for (size_t k = i; k < i + 8; ++k) digits = digits && std::isdigit(static_cast<unsigned char>(base[k]));
        if (digits && toolkit::ValidDay(d)) return d;
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
    const std::string utc = toolkit::IsoCivilOrModelUtcFromTai93(JulianDayToTAI93(first.TimeTag()), 3);
    return utc.size() >= 10 && toolkit::ValidDay(utc.substr(0, 10)) ? utc.substr(0, 10) : "";
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
                if (!toolkit::ValidDay(day)) continue;
                days[day] = archive + "/" + y + "/" + m + "/" + f;
            }
        }
    }
    if (days.empty()) Fail(archive + ": no packet files (DIR/YYYY/MM/DD.pkt)");
    const long first = toolkit::DayNumber(days.begin()->first), last = toolkit::DayNumber(days.rbegin()->first);
    for (long n = first; n <= last; ++n) days.emplace(toolkit::DayText(n), "");
    return days;
}

// One packet file a line; each file's day from its path, else from its
// first packet. Two files of one day are refused.
std::map<std::string, std::string> ListDays(const std::string& list)
{
    std::string text, error;
    if (!platform::ReadWholeFile(list, text, error)) Fail(list + ": cannot read the list of packet files: " + error);
    std::map<std::string, std::string> days;
    size_t lineNo = 0;
    for (std::string line : Lines(text)) {
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty()) continue;
        if (line.find('\t') != std::string::npos)
            Fail(list + ": line " + std::to_string(lineNo) + ": names with tabs cannot be used");
        const std::string path = platform::AbsolutePath(line);
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
    if (!platform::ReadWholeFile(path, text, error)) Fail(path + ": cannot read the configuration file: " + error);
    configurationfile file(path);
    std::string keyword, value;
    while (file.readline(keyword, value))
        if (!list.setvalue(keyword, value))
            Fail(path + ": not a trokproc configuration file: unknown keyword " + keyword);
    satellite = list.getvalue("-noradsatname");
}

std::string ProgramVersion(const std::string& path)
{
    std::string line;
    if (!pipeline::ProgramVersion(path, line)) Fail(path + ": cannot tell its version (--version)");
    return line;
}

// Why the products of a day that made them must be made again, or "" when
// they are still the ones this campaign made and all that is wanted.
// Products only touched are signed again in `refreshed`.
std::string WhyRemake(const DayRecord& row, const RunOptions& o, const std::string& campaignDir, DayRecord& refreshed)
{
    // The products: each as this campaign made it, by identity or by content.
    std::map<std::string, std::string> made = KeyValues(row.products_signature.value_or(""), ';');
    std::vector<std::pair<Text DayRecord::*, Text DayRecord::*>> wanted = {{&DayRecord::eph_path, &DayRecord::eph_sha256},
                                                                           {&DayRecord::att_path, &DayRecord::att_sha256}};
    if (o.exports && row.Is(Outcome::Ok)) {
        if (!Filled(row.oem_path) || !Filled(row.aem_path)) return "exports wanted";
        wanted.push_back({&DayRecord::oem_path, &DayRecord::oem_sha256});
        wanted.push_back({&DayRecord::aem_path, &DayRecord::aem_sha256});
    }
    if (o.plots && !Filled(row.quicklook_path)) return "quicklook page wanted";
    bool resigned = false;
    for (const auto& w : wanted) {
        const std::string rel = (row.*w.first).value_or("");
        std::string now;
        if (rel.empty() || !platform::FileSignature(campaignDir + "/" + rel, now)) return "products missing";
        if (now == made[rel]) continue;
        std::string hash, error;
        uint64_t size = 0;
        if (!toolkit::Sha256File(campaignDir + "/" + rel, hash, size, error) || hash != (row.*w.second).value_or(""))
            return "products changed";
        made[rel] = now;
        resigned = true;
    }
    std::string now;
    if (o.plots && !platform::FileSignature(campaignDir + "/" + *row.quicklook_path, now)) return "quicklook page missing";
    if (resigned) {
        std::string s;
        for (const auto& m : made) s += m.first + "=" + m.second + ";";
        refreshed.products_signature = s;
    }
    return "";
}

// Why a day must run, or "" when its row is up to date.
std::string WhyRun(const DayRecord& row, const std::string& packet, const RunInputs& in, const RunOptions& o,
                   const std::string& campaignDir, DayRecord& refreshed)
{
    if (!row.outcome) return "new";
    if (row.Is(Outcome::Stopped)) return "stopped before";
    if (row.Is(Outcome::Missing)) return "packet file appeared";
    if (row.packet_path.value_or("") != packet) return "another packet file";
    std::string signature;
    if (!platform::FileSignature(packet, signature)) return "packet file unreadable";
    if (signature != row.packet_signature.value_or("")) {
        // Touched or replaced: the content decides.
        std::string hash, error;
        uint64_t size = 0;
        if (!toolkit::Sha256File(packet, hash, size, error) || hash != row.packet_sha256.value_or(""))
            return "packet file changed";
        refreshed.packet_signature = signature;
    }
    if (row.config_sha256.value_or("") != in.configHash) return "configuration changed";
    if (row.versions_sha256.value_or("") != in.versionsHash) return "program versions changed";
    const double first = row.first_packet_tai93.value_or(toolkit::DayStartTai93(row.day));
    const double last = row.last_packet_tai93.value_or(first);
    double age = 0;
    const ElementSet* set = ChooseElementSet(in.history, first, last, age);
    if ((set ? set->sha256 : std::string()) != row.element_sha256.value_or("")) return "element set changed";
    if (!row.MadeProducts()) return "";
    return WhyRemake(row, o, campaignDir, refreshed);
}

} // namespace

RunInputs ReadInputs(const RunOptions& o)
{
    RunInputs in;
    in.configSource = o.config.empty() ? "" : platform::AbsolutePath(o.config);
    ReadConfiguration(in.configSource, in.satellite, in.configText);
    in.ageText = toolkit::FixedText(o.maxElementAge, 6);
    in.configHash = toolkit::Sha256Hex(in.configText + "\n-- max-element-age " + in.ageText + "\n");

    in.trokproc = platform::FindOwnProgram("trokproc", "TROKPROC");
    in.qlrdump = platform::FindOwnProgram("qlrdump", "QLRDUMP");
    in.pgsentry = platform::FindOwnProgram("pgsentry", "PGSENTRY");
    in.qlrplot = platform::FindOwnProgram("qlrplot", "QLRPLOT");
    for (const auto& p : {std::make_pair("trokproc", in.trokproc), std::make_pair("qlrdump", in.qlrdump),
                          std::make_pair("pgsentry", in.pgsentry)})
        if (p.second.empty()) Fail(std::string("cannot find ") + p.first + " (beside trokcampaign or on PATH)");
    if (o.plots && in.qlrplot.empty()) Fail("cannot find qlrplot (beside trokcampaign or on PATH)");
    in.arrayScript = o.engine == "slurm" ? LocateArrayScript() : "";
    if (o.engine == "slurm" && in.arrayScript.empty())
        Fail("cannot find trokarray.sbatch (set TROKARRAY, or install trokproc's job scripts)");
    in.versions = "trokcampaign " TROK_VERSION "\n" + ProgramVersion(in.trokproc) + "\n" +
                  ProgramVersion(in.qlrdump) + "\n" + ProgramVersion(in.pgsentry) + "\n";
    if (!in.qlrplot.empty()) in.versions += ProgramVersion(in.qlrplot) + "\n";
    in.versionsHash = toolkit::Sha256Hex(in.versions);

    in.historyPath = platform::AbsolutePath(o.elements);
    std::string error;
    if (!ReadElementHistory(in.historyPath, in.satellite, in.history, error))
        Fail(o.elements + ": cannot read the element sets: " + error);
    if (in.history.sets.empty())
        toolkit::Warn(o.elements + ": no element set of " + in.satellite + ": every day ends as no-elements");
    if (in.history.badCheckDigits)
        toolkit::Warn(o.elements + ": " + std::to_string(in.history.badCheckDigits) + " element set" +
                      (in.history.badCheckDigits == 1 ? "" : "s") + " of " + in.satellite +
                      " with wrong check digits left out");

    SelectPacketLayout(in.satellite);
    return in;
}

std::map<std::string, std::string> PlannedDays(const RunOptions& o)
{
    return o.archive.empty() ? ListDays(o.list) : ArchiveDays(platform::AbsolutePath(o.archive));
}

namespace {

// A day without its packet file: missing (changed only when it was not so
// already, or its file was another).
void MarkMissing(const RunOptions& o, const std::string& day, const std::string& planned, DayRecord& row,
                 DayChoice& choice)
{
    const std::string path = planned.empty() ? (o.archive.empty() ? std::string() :
        platform::AbsolutePath(o.archive) + "/" + day.substr(0, 4) + "/" + day.substr(5, 2) + "/" +
        day.substr(8, 2) + ".pkt") : planned;
    if (row.Is(Outcome::Missing) && row.packet_path.value_or("") == path) return;
    row.day = day;
    row.outcome = Outcome::Missing;
    row.reason = "no packet file " + path;
    row.packet_path = path;
    choice.changed.push_back(&row);
}

} // namespace

DayChoice ChooseDays(const RunOptions& o, const RunInputs& in, const std::map<std::string, std::string>& planned,
                     std::map<std::string, DayRecord>& days, const std::string& campaignDir)
{
    const std::set<std::string> redo(o.redo.begin(), o.redo.end());
    for (const std::string& d : redo)
        if (!planned.count(d)) Fail("--redo " + d + ": not a day of this campaign");
    DayChoice choice;
    for (const auto& p : planned) {
        DayRecord& row = days[p.first];
        row.day = p.first;
        if (p.second.empty() || access(p.second.c_str(), F_OK) != 0) {
            MarkMissing(o, p.first, p.second, row, choice);
            continue;
        }
        DayRecord refreshed = row;
        const std::string why = redo.count(p.first) ? "asked to redo" : WhyRun(row, p.second, in, o, campaignDir, refreshed);
        if (!why.empty()) {
            choice.toRun.push_back(p.first);
        } else if (refreshed.packet_signature != row.packet_signature ||
                   refreshed.products_signature != row.products_signature) {
            row = refreshed;
            choice.changed.push_back(&row);
        }
    }
    // Days of the catalog that the archive or list no longer holds.
    for (auto& kv : days)
        if (!planned.count(kv.first) && !kv.second.Is(Outcome::Missing)) {
            kv.second.outcome = Outcome::Missing;
            kv.second.reason = "no longer in the " + std::string(o.archive.empty() ? "list" : "archive");
            choice.changed.push_back(&kv.second);
        }
    return choice;
}

RunPlan TaskPlan(const RunOptions& o, const RunInputs& in, const std::string& campaignDir, long long runId,
                 const std::vector<std::string>& toRun, const std::map<std::string, std::string>& planned)
{
    RunPlan plan;
    // The run, the satellite, the configuration (the run's copy), the
    // programs' versions, what each day does, the programs, the element sets.
    plan.settings = RunSettings{runId, campaignDir, in.satellite,
                                campaignDir + "/run/configfile", in.configSource, in.configHash,
                                in.versions, in.versionsHash,
                                o.maxElementAge, o.exports, o.plots, o.engine,
                                in.trokproc, in.qlrdump, in.qlrplot,
                                campaignDir + "/run/elements.tle", in.historyPath, o.daysPerTask};
    for (const std::string& d : toRun) plan.days.emplace_back(d, planned.at(d));
    return plan;
}

} // namespace campaign
