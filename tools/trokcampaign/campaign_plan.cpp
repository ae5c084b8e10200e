#include "campaign_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "toolkit/time/utcday.h"
#include "campaign_failure.h"
#include "campaign_fields.h"
#include "campaign_slurm_commands.h"
#include "pipeline/programs.h"
#include "orbitlib_class_noradelements.h"
#include "platform/file_reading.h"
#include "platform/file_signature.h"
#include "platform/input_file.h"
#include "platform/path_names.h"
#include "platform/program_lookup.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"
#include "vn_proc_PacketRules.h"
#include "vn_version.h"

namespace campaign {

namespace {

// The satellite name and the text of trokproc's configuration file, read
// by trokproc's own reader.
void ReadConfiguration(const std::string& path, std::string& satellite, std::string& text)
{
    cfg_list list;
    satellite = list.getvalue("-noradsatname");
    text.clear();
    if (path.empty()) return;   // the built-in defaults
    // Opened once as an input, its text and trokproc's reading both of
    // the file opened.
    std::string error;
    const int fd = platform::OpenInput(path, error);
    if (fd < 0 || !platform::ReadDescriptor(fd, 65536, [&](const char* b, size_t n) { text.append(b, n); }, error)) {
        if (fd >= 0) close(fd);
        Fail(path + ": cannot read the configuration file: " + error);
    }
    configurationfile file("/proc/self/fd/" + std::to_string(fd));
    std::string keyword, value;
    std::string unknown;
    while (file.readline(keyword, value))
        if (!list.setvalue(keyword, value) && unknown.empty()) unknown = keyword;
    close(fd);
    if (!unknown.empty()) Fail(path + ": not a trokproc configuration file: unknown keyword " + unknown);
    satellite = list.getvalue("-noradsatname");
}

std::string ProgramVersion(const std::string& path)
{
    std::string line;
    if (!pipeline::ProgramVersion(path, line)) Fail(path + ": cannot tell its version (--version)");
    return line;
}

// Why the products of a day that made them must be made again, or "" when
// they are still the ones this campaign made and all that is wanted: each
// product, the manifest and the result, by identity or else by content.
// Files only touched are signed again in `refreshed`.
std::string WhyRemake(const DayRecord& row, const RunOptions& o, const std::string& campaignDir, DayRecord& refreshed)
{
    std::map<std::string, std::string> made = KeyValues(row.products_signature.value_or(""), ';');
    const std::string rel = "days/" + row.day + "/";
    // Each file with its hash; what earlier versions kept no hash of is not asked for.
    std::vector<std::pair<std::string, std::string>> wanted = {{row.eph_path.value_or(""), row.eph_sha256.value_or("")},
                                                               {row.att_path.value_or(""), row.att_sha256.value_or("")}};
    if (o.exports && row.Is(Outcome::Ok)) {
        if (!Filled(row.oem_path) || !Filled(row.aem_path)) return "exports wanted";
        wanted.emplace_back(*row.oem_path, row.oem_sha256.value_or(""));
        wanted.emplace_back(*row.aem_path, row.aem_sha256.value_or(""));
    }
    if (o.plots && !Filled(row.quicklook_path)) return "quicklook page wanted";
    if (Filled(row.manifest_sha256)) wanted.emplace_back(rel + "manifest.json", *row.manifest_sha256);
    if (Filled(row.result_sha256)) wanted.emplace_back(rel + "result.txt", *row.result_sha256);
    bool resigned = false;
    for (const auto& w : wanted) {
        std::string now;
        if (w.first.empty() || !platform::FileSignature(campaignDir + "/" + w.first, now))
            return w.first.empty() ? "products missing" : w.first + " missing";
        if (now == made[w.first]) continue;
        std::string hash, error;
        uint64_t size = 0;
        if (!toolkit::Sha256File(campaignDir + "/" + w.first, hash, size, error) || hash != w.second)
            return w.first + " changed";
        made[w.first] = now;
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
    if (row.Is(Outcome::NoSpace)) return "no space before";
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
    if ((set ? ElementSetSha256(*set) : std::string()) != row.element_sha256.value_or("")) return "element set changed";
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
    if (in.history.malformed)
        toolkit::Warn(o.elements + ": " + std::to_string(in.history.malformed) + " pair" +
                      (in.history.malformed == 1 ? "" : "s") + " of element lines shorter than 69 columns left out");

    SelectPacketLayout(in.satellite);
    return in;
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

// A day whose packet file is no regular file (a FIFO, a device, a folder):
// refused without a task, and not planned again until it changes.
void MarkNoFile(const std::string& day, const std::string& path, const std::string& why, DayRecord& row,
                DayChoice& choice)
{
    const std::string reason = "the packet file " + path + ": " + why;
    if (row.Is(Outcome::InputRefused) && row.packet_path.value_or("") == path && row.reason.value_or("") == reason)
        return;
    row.day = day;
    row.outcome = Outcome::InputRefused;
    row.reason = reason;
    row.packet_path = path;
    row.packet_signature.reset();
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
        struct stat st;
        if (p.second.empty() || stat(p.second.c_str(), &st) != 0) {
            MarkMissing(o, p.first, p.second, row, choice);
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            MarkNoFile(p.first, p.second, platform::NotRegularReason(st.st_mode), row, choice);
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
                 const std::string& runToken, const std::vector<std::string>& toRun,
                 const std::map<std::string, std::string>& planned)
{
    RunPlan plan;
    // The run, the satellite, the configuration (the run's copy), the
    // programs' versions, what each day does, the programs, the element sets.
    plan.settings = RunSettings{runId, runToken, campaignDir, in.satellite,
                                campaignDir + "/run/configfile", in.configSource, in.configHash,
                                in.versions, in.versionsHash,
                                o.maxElementAge, o.exports, o.plots, o.engine,
                                in.trokproc, in.qlrdump, in.qlrplot,
                                campaignDir + "/run/elements.tle", in.historyPath, o.daysPerTask};
    for (const std::string& d : toRun) plan.days.emplace_back(d, planned.at(d));
    return plan;
}

} // namespace campaign
