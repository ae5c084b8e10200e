#include "campaign_task.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "campaign_catalog.h"
#include "campaign_days.h"
#include "campaign_elements.h"
#include "campaign_fields.h"
#include "platform/atomic_file.h"
#include "platform/atomic_stream.h"
#include "platform/child_process.h"
#include "platform/file_reading.h"
#include "platform/file_signature.h"
#include "platform/make_dirs.h"
#include "platform/stop_signals.h"
#include "timelib_proc_TAI93.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/json.h"
#include "toolkit/cli/shell_quote.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/unixtime.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

namespace campaign {

namespace {

// A signal that ended a program of the day, standing in for the task's own
// stop signal, which is on its way (the stop reached the whole group).
int programStop = 0;

// The task's stop signal, or 0.
int StopSignal()
{
    const int noted = platform::StopSignals::Noted();
    return noted ? noted : programStop;
}

std::string Escaped(const std::string& s) { return toolkit::JsonString(s); }

// Why a day was stopped: the batch system's time limit when the SIGTERM came
// at or after TROK_TIME_LIMIT_AT (seconds since 1970, set by the job
// script from the job's end time), a stop otherwise.
std::string StopReason(const std::string& during, int sig)
{
    const char* limit = std::getenv("TROK_TIME_LIMIT_AT");
    const time_t when = platform::StopSignals::NotedAt() ? platform::StopSignals::NotedAt() : time(nullptr);
    if (sig == SIGTERM && limit && *limit && when + 1 >= std::atoll(limit))
        return "stopped at the time limit (SIGTERM) while " + during + " ran";
    return "stopped by signal " + std::to_string(sig) + " while " + during + " ran";
}

// The signal that ended a program of the day, or 0: a stop signal reaches
// the whole process group, sometimes the program before this task, and a
// wrapper script reports it as status 128 + n.
int EndingSignal(const platform::ChildEnd& r)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL})
        if (r.signal == sig || r.status == 128 + sig) return sig;
    return 0;
}

// "status N", or "signal N" for a program that a signal ended.
std::string Ending(const platform::ChildEnd& r)
{
    return r.signal ? "signal " + std::to_string(r.signal) : "status " + std::to_string(r.status);
}

// The first and last packet of the APID, read the way trokproc reads them;
// false when the file holds fewer than two or they cannot be read.
bool PacketTimes(const std::string& path, double& firstTai93, double& lastTai93)
{
    packetfile file(path, trokpacket::apid);
    if (!file.good() || file.NoPackets() < 2) return false;
    trokpacket first, last;
    file.ReadPacket(first, file.BegPacket());
    file.ReadPacket(last, file.EndPacket());
    if (file.fail()) return false;
    firstTai93 = JulianDayToTAI93(first.TimeTag());
    lastTai93 = JulianDayToTAI93(last.TimeTag());
    return std::isfinite(firstTai93) && std::isfinite(lastTai93);
}

std::string HostName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "";
    return buf;
}

// trokproc's message in what it wrote to the log: its first line that is
// not one of its summary lines.
std::string TrokprocMessage(const std::string& said)
{
    for (const std::string& text : Lines(said)) {
        const std::string line = FirstLine(text);
        if (!line.empty() && line.find(" MATCHED ") == std::string::npos && line.compare(0, 2, "1 ") != 0)
            return line;
    }
    return "";
}

// The records, repaired points, large gaps and orbits of the day's
// ephemeris product.
void ProductCounts(const toolkit::Product& product, DayRow& row)
{
    const toolkit::RecordCounts counts = toolkit::CountRecords(product.records);
    row.SetInt(C_records, static_cast<long long>(counts.records));
    row.SetInt(C_repaired_points, static_cast<long long>(counts.repaired));
    row.SetInt(C_large_gaps, static_cast<long long>(counts.largeGaps));
    row.SetInt(C_orbits, static_cast<long long>(product.orbits.size()));
    if (!product.orbits.empty()) {
        row.SetInt(C_first_orbit, product.orbits.front().orbitNo);
        row.SetInt(C_last_orbit, product.orbits.back().orbitNo);
        row.SetNum(C_first_node_tai93, product.orbits.front().ascendingTai93, 6);
        row.SetNum(C_last_node_tai93, product.orbits.back().ascendingTai93, 6);
    }
}

class DayTask
{
public:
    DayTask(const std::string& campaignDir, const Plan& runPlan, const ElementHistory& sets)
        : campaign(campaignDir), plan(runPlan), history(sets)
    {
    }

    // Runs the day to its result file; false when a stop signal ended it.
    bool Run(const std::string& day, const std::string& packetPath);

private:
    // The steps of a day, in order. Each sets what it learns in `row` and
    // is false when the day ends with it (its outcome set).
    bool Begin(const std::string& theDay, const std::string& packetPath, DayRow& row);
    bool InspectPacket(DayRow& row);
    bool ChooseElements(DayRow& row);
    bool RunTrokproc(DayRow& row);
    bool Check(DayRow& row);
    bool Exports(DayRow& row);
    void Plots(DayRow& row);
    // The end of every day that has its folder: manifest and result.
    void Finish(DayRow& row);

    std::string S(const std::string& key) const
    {
        auto it = plan.settings.find(key);
        return it == plan.settings.end() ? std::string() : it->second;
    }
    // Runs one program of the day, logged; the command goes to the manifest.
    // What the program wrote to the log is kept in `said`.
    platform::ChildEnd Step(const std::vector<std::string>& argv, std::string* out = nullptr)
    {
        commands.push_back(toolkit::ShellCommand(argv));
        const std::string header = "$ " + commands.back() + "\n";
        const int fd = log.Fd();
        if (fd >= 0) (void)!write(fd, header.data(), header.size());
        const off_t from = fd >= 0 ? lseek(fd, 0, SEEK_CUR) : -1;
        platform::ChildSpec spec;
        spec.argv = argv;
        spec.env = env;
        spec.out = spec.err = fd;
        const platform::ChildEnd r = platform::RunChild(spec, out);
        said.clear();
        const off_t to = fd >= 0 ? lseek(fd, 0, SEEK_CUR) : -1;
        // The log is open for writing only: its temporary is read by name.
        const int in = from >= 0 && to > from && !log.TempName().empty()
                           ? open((dir + "/" + log.TempName()).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                           : -1;
        if (in >= 0) {
            said.resize(static_cast<size_t>(to - from));
            const ssize_t n = pread(in, &said[0], said.size(), from);
            said.resize(n > 0 ? static_cast<size_t>(n) : 0);
            close(in);
        }
        return r;
    }
    // A day that a signal stopped while `what` ran ends here, as stopped;
    // false when neither the task nor the program got one.
    bool Stopped(const std::vector<platform::ChildEnd>& results, const std::string& what, DayRow& row)
    {
        int sig = StopSignal();
        for (const platform::ChildEnd& r : results)
            if (!sig) sig = EndingSignal(r);
        if (!sig) return false;
        if (!StopSignal()) programStop = sig;   // the task's own will follow: no further day begins
        row.Set(C_outcome, "stopped");
        row.Set(C_reason, StopReason(what, sig));
        return true;
    }
    // The check's verdict from its JSON; its first fault (or why there is
    // no verdict) in `reason`, its node offsets and numbering warnings into
    // `row` (the offsets with `product`, when it could be read).
    bool Verdict(const std::string& json, const platform::ChildEnd& r, const toolkit::Product* product, DayRow& row,
                 std::string& reason);
    void NodeOffsets(const toolkit::Json& check, const toolkit::Product& product, DayRow& row);
    // The day's products with their hashes and identities into `row`; the
    // files of the day that this run did not make go.
    void SignProducts(DayRow& row);
    std::string Manifest(const DayRow& row) const;
    std::string Rel(const std::string& name) const { return "days/" + day + "/" + name; }
    std::string Abs(const std::string& name) const { return campaign + "/" + Rel(name); }

    const std::string& campaign;
    const Plan& plan;
    const ElementHistory& history;
    // The day being run.
    std::string day, dir, packet;
    std::string tle, eph, att;                      // its element file and products
    double firstTai93 = 0, lastTai93 = 0;           // its packets' span
    const ElementSet* set = nullptr;                // its element set
    std::string nodes;                              // its node offsets, as the result file keeps them
    platform::AtomicFile log;   // DAY.log, committed with the day's result
    std::string said;   // what the last program wrote to the log
    std::vector<std::string> commands;
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::pair<std::string, std::string>> outputs;   // name, sha256
    std::chrono::steady_clock::time_point started;
};

bool DayTask::Run(const std::string& theDay, const std::string& packetPath)
{
    DayRow row;
    if (!Begin(theDay, packetPath, row)) return true;   // without its folder the day has no result
    if (InspectPacket(row) && ChooseElements(row) && RunTrokproc(row) && Check(row) && Exports(row)) Plots(row);
    Finish(row);
    return !StopSignal();
}

// The day's row as far as the plan and this host tell it, and its folder
// and log; false when the folder cannot be made.
bool DayTask::Begin(const std::string& theDay, const std::string& packetPath, DayRow& row)
{
    day = theDay;
    dir = campaign + "/days/" + day;
    packet = packetPath;
    tle = Abs(day + ".tle");
    eph = Abs(day + ".eph");
    att = Abs(day + ".att");
    set = nullptr;
    nodes.clear();
    commands.clear();
    outputs.clear();
    env.clear();
    started = std::chrono::steady_clock::now();
    row.Set(C_day, day);
    row.Set(C_packet_path, packet);
    row.Set(C_engine, S("engine"));
    row.Set(C_run_id, S("run_id"));
    row.Set(C_host, HostName());
    // A Slurm array task as JOB_TASK, the names sacct and scancel take.
    const char* arrayJob = std::getenv("SLURM_ARRAY_JOB_ID");
    const char* arrayTask = std::getenv("SLURM_ARRAY_TASK_ID");
    const char* slurmJob = std::getenv("SLURM_JOB_ID");
    row.Set(C_job_id, arrayJob && arrayTask ? std::string(arrayJob) + "_" + arrayTask :
                      slurmJob ? slurmJob : "local:" + std::to_string(getpid()));
    row.Set(C_config_sha256, S("config_sha256"));
    row.Set(C_versions, S("versions"));
    row.Set(C_versions_sha256, S("versions_sha256"));
    row.Set(C_started_utc, toolkit::IsoUtcNow());
    const platform::MadeDirs made = platform::MakeDirs(dir);
    if (!made.ok) {
        toolkit::Say(dir + ": cannot make the day's folder: " + made.Reason());
        return false;
    }
    if (!log.Open(dir + "/" + day + ".log"))
        toolkit::Say(dir + "/" + day + ".log: " + log.Error());
    return true;
}

// The packet file: its identity, hash and time span.
bool DayTask::InspectPacket(DayRow& row)
{
    std::string signature, error;
    uint64_t size = 0;
    if (!platform::FileSignature(packet, signature, &size)) {
        row.Set(C_outcome, "missing");
        row.Set(C_reason, "no packet file " + packet);
        return false;
    }
    std::string hash;
    if (!toolkit::Sha256File(packet, hash, size, error)) {
        row.Set(C_outcome, "input-refused");
        row.Set(C_reason, "cannot read the packet file " + packet + ": " + error);
        return false;
    }
    row.Set(C_packet_signature, signature);
    row.SetInt(C_packet_size, static_cast<long long>(size));
    row.Set(C_packet_sha256, hash);
    if (PacketTimes(packet, firstTai93, lastTai93)) {
        // To the microsecond, as the catalog keeps them: a later run chooses
        // the day's element set again from the catalogued times, and must
        // come to the same set (an epoch can fall on the first packet).
        firstTai93 = std::round(firstTai93 * 1e6) / 1e6;
        lastTai93 = std::round(lastTai93 * 1e6) / 1e6;
        row.SetNum(C_first_packet_tai93, firstTai93, 6);
        row.SetNum(C_last_packet_tai93, lastTai93, 6);
        row.Set(C_first_packet_utc, toolkit::IsoCivilOrModelUtcFromTai93(firstTai93, 3));
        row.Set(C_last_packet_utc, toolkit::IsoCivilOrModelUtcFromTai93(lastTai93, 3));
    } else {
        // trokproc will say what is wrong with the file; the day's own
        // midnight stands in for choosing its element set.
        firstTai93 = lastTai93 = DayStartTai93(day);
    }
    return true;
}

// The element set nearest before the day's data, no older than the run
// allows, written to the day's element file.
bool DayTask::ChooseElements(DayRow& row)
{
    double age = 0;
    set = ChooseElementSet(history, firstTai93, lastTai93, age);
    const double maxAge = std::atof(S("max_element_age").c_str());
    if (!set) {
        row.Set(C_outcome, "no-elements");
        row.Set(C_reason, "no element set of " + S("satellite") + " in " + S("history"));
        return false;
    }
    row.Set(C_element_name, S("satellite"));
    row.Set(C_element_line1, set->line1);
    row.Set(C_element_line2, set->line2);
    row.Set(C_element_sha256, set->sha256);
    row.SetNum(C_element_epoch_tai93, set->epochTai93, 6);
    row.Set(C_element_epoch_utc, toolkit::IsoCivilOrModelUtcFromTai93(set->epochTai93, 3));
    if (set->setNumber >= 0) row.SetInt(C_element_number, set->setNumber);
    row.SetNum(C_element_age_days, age, 4);
    if (maxAge > 0 && age > maxAge) {
        row.Set(C_outcome, "no-elements");
        row.Set(C_reason, "the nearest element set (epoch " + toolkit::IsoCivilOrModelUtcFromTai93(set->epochTai93, 3) + " UTC) lies " +
                              toolkit::FixedText(age, 2) + " days from the data, more than " +
                              toolkit::FixedText(maxAge, 2));
        return false;
    }
    const std::string text = ElementFileText(S("satellite"), *set);
    std::string error;
    if (!platform::WriteFileAtomically(tle, text, error)) {
        row.Set(C_outcome, "stopped");
        row.Set(C_reason, "cannot write " + tle + ": " + error);
        return false;
    }
    outputs.emplace_back(day + ".tle", toolkit::Sha256Hex(text));
    return true;
}

bool DayTask::RunTrokproc(DayRow& row)
{
    // Every program of the day sees the same time stamp: the day's last packet.
    env.emplace_back("SOURCE_DATE_EPOCH", std::to_string(toolkit::UnixSecondsFromTai93(lastTai93)));
    const platform::ChildEnd r = Step({S("trokproc"), "-configfile", S("config"), "-packetfile", packet, "-noradfile", tle,
                                "-ephemerisfile", eph, "-attitudefile", att});
    row.SetNum(C_trokproc_seconds, r.seconds, 3);
    if (Stopped({r}, "trokproc", row)) return false;
    if (r.status != 0) {
        const std::string message = TrokprocMessage(said);
        row.Set(C_outcome, "input-refused");
        row.Set(C_reason, "trokproc refused the input (" + Ending(r) + "): " +
                              (message.empty() ? "no message" : message));
        return false;
    }
    row.Set(C_eph_path, Rel(day + ".eph"));
    row.Set(C_att_path, Rel(day + ".att"));
    return true;
}

// The pair check, as JSON, and the counts and orbits of the products.
bool DayTask::Check(DayRow& row)
{
    std::string json;
    const platform::ChildEnd r = Step(
        {S("qlrdump"), "--check", "--json", "--max-element-age", S("max_element_age"), "--tle", tle, eph, att}, &json);
    row.SetNum(C_check_seconds, r.seconds, 3);
    if (Stopped({r}, "the check", row)) return false;
    toolkit::Product product;
    std::string error, reason;
    const bool readable = toolkit::ReadProduct(eph, toolkit::ProductKind::Ephemeris, product, error);
    const bool passed = Verdict(json, r, readable ? &product : nullptr, row, reason);
    if (readable) ProductCounts(product, row);
    if (!passed) {
        row.Set(C_outcome, "check-failed");
        row.Set(C_reason, "check failed: " + (reason.empty() ? "no reason given" : reason));
    } else {
        row.Set(C_outcome, "ok");
    }
    return true;
}

bool DayTask::Verdict(const std::string& json, const platform::ChildEnd& r, const toolkit::Product* product, DayRow& row,
                      std::string& reason)
{
    toolkit::Json check;
    std::string error;
    if (!toolkit::ParseJson(json, check, error) || check.type != toolkit::Json::Object) {
        reason = "the check gave no verdict (" + Ending(r) + ")";
        return false;
    }
    const toolkit::Json* p = check.Find("passed");
    const bool passed = p && p->type == toolkit::Json::Bool && p->boolean && r.status == 0;
    const toolkit::Json* faults = check.Find("faults");
    if (faults && faults->type == toolkit::Json::Array && !faults->items.empty()) {
        const toolkit::Json* m = faults->items[0].Find("message");
        if (m) reason = m->text;
        if (faults->items.size() > 1) reason += " (and " + std::to_string(faults->items.size() - 1) + " more)";
    }
    if (product) NodeOffsets(check, *product, row);
    // The check's warnings on orbit numbers, as it words them.
    std::string numbering;
    const toolkit::Json* warnings = check.Find("warnings");
    if (warnings && warnings->type == toolkit::Json::Array)
        for (const toolkit::Json& w : warnings->items) {
            const toolkit::Json* kind = w.Find("kind");
            const toolkit::Json* message = w.Find("message");
            if (kind && kind->text == "numbering" && message)
                numbering += (numbering.empty() ? "" : "\n") + message->text;
        }
    if (!numbering.empty()) row.Set(C_numbering_warnings, numbering);
    return passed;
}

// The exports of a day whose check passed, when the run wants them.
bool DayTask::Exports(DayRow& row)
{
    if (row.Get(C_outcome) != "ok" || S("exports") != "yes") return true;
    double seconds = 0;
    const platform::ChildEnd r = Step({S("qlrdump"), "--oem", eph, "--out", Abs(day + ".oem")});
    seconds += r.seconds;
    platform::ChildEnd r2 = r;
    if (r.status == 0 && !StopSignal()) {
        r2 = Step({S("qlrdump"), "--aem", eph, att, "--out", Abs(day + ".aem")});
        seconds += r2.seconds;
    }
    row.SetNum(C_export_seconds, seconds, 3);
    if (Stopped({r, r2}, "an export", row)) return false;
    if (r.status != 0 || r2.status != 0) {
        row.Set(C_outcome, "check-failed");
        row.Set(C_reason, std::string(r.status != 0 ? "OEM" : "AEM") + " export refused (status " +
                              std::to_string(r.status != 0 ? r.status : r2.status) + "; see " + Rel(day + ".log") +
                              ")");
    } else {
        row.Set(C_oem_path, Rel(day + ".oem"));
        row.Set(C_aem_path, Rel(day + ".aem"));
    }
    return true;
}

// The quicklook page, when the run wants it.
void DayTask::Plots(DayRow& row)
{
    if (S("plots") != "yes") return;
    const platform::ChildEnd r = Step({S("qlrplot"), eph, att, "-o", dir + "/quicklook"});
    row.SetNum(C_plot_seconds, r.seconds, 3);
    if (Stopped({r}, "qlrplot", row)) return;
    if (r.status == 0 || r.status == 1) row.Set(C_quicklook_path, Rel("quicklook/report.html"));
    else if (row.Get(C_outcome) == "ok")
        row.Set(C_reason, "no quicklook page: qlrplot ended with status " + std::to_string(r.status));
}

// The check's node offsets: for every orbit after the first, its first
// record (the observed ascending crossing) minus the predicted node nearest
// it. An orbit takes another revolution's number where the crossing lies on
// the wrong side of that node: after the node the set counts from, a
// crossing before its node is one revolution short and the orbit carries the
// previous number; before that node revolutions are counted toward zero and
// a crossing after its node carries the next one.
void DayTask::NodeOffsets(const toolkit::Json& check, const toolkit::Product& product, DayRow& row)
{
    const toolkit::Json* offsets = check.Find("node_offsets");
    if (!offsets || offsets->type != toolkit::Json::Array) return;
    double largest = 0;
    long long hazards = 0;
    int firstNumbering = 0, lastNumbering = 0;
    long long firstNumber = -1, secondRight = -1;
    double firstCrossing = std::nan(""), lastCrossing = std::nan("");
    for (const toolkit::Json& o : offsets->items) {
        const toolkit::Json* orbit = o.Find("orbit");
        const toolkit::Json* record = o.Find("record");
        const toolkit::Json* offset = o.Find("crossing_minus_node_s");
        if (!orbit || !record || !offset || orbit->type != toolkit::Json::Number || record->type != toolkit::Json::Number ||
            offset->type != toolkit::Json::Number || record->number < 0 ||
            record->number >= static_cast<double>(product.records.size()))
            continue;
        const double crossing = product.records[static_cast<size_t>(record->number)].tai93;
        const int numbering = crossing >= set->countNodeTai93 ? (offset->number < 0 ? -1 : 0)
                                                             : (offset->number > 0 ? 1 : 0);
        if (std::fabs(offset->number) > std::fabs(largest)) largest = offset->number;
        hazards += numbering != 0;
        if (std::isnan(firstCrossing)) {
            firstCrossing = crossing;
            secondRight = static_cast<long long>(orbit->number) - numbering;
        }
        lastCrossing = crossing;
        lastNumbering = numbering;
        nodes += (nodes.empty() ? "" : ";") + toolkit::FixedText(orbit->number, 0) + ":" +
                 toolkit::FixedText(record->number, 0) + ":" + toolkit::FixedText(offset->number, 3) + ":" +
                 (numbering ? "1" : "0");
    }
    if (nodes.empty()) return;
    row.SetNum(C_max_node_offset_s, largest, 3);
    row.SetInt(C_node_hazards, hazards);
    row.SetNum(C_first_crossing_tai93, firstCrossing, 6);
    row.SetNum(C_last_crossing_tai93, lastCrossing, 6);
    row.SetInt(C_last_orbit_numbering, lastNumbering);
    // The first orbit, under way when the data begin, is the revolution
    // before the one that begins at the first crossing.
    if (!product.orbits.empty()) {
        firstNumber = product.orbits.front().orbitNo;
        firstNumbering = static_cast<int>(firstNumber - (secondRight - 1));
        row.SetInt(C_first_orbit_numbering, firstNumbering);
    }
}

void DayTask::Finish(DayRow& row)
{
    SignProducts(row);
    row.Set(C_finished_utc, toolkit::IsoUtcNow());
    row.SetNum(C_seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 3);

    std::string error;
    if (!platform::WriteFileAtomically(dir + "/manifest.json", Manifest(row), error))
        toolkit::Say(dir + "/manifest.json: cannot write: " + error);
    if (log.IsOpen() && !log.Commit()) {
        toolkit::Say(dir + "/" + day + ".log: " + log.Error());
        log.Discard();
    }
    if (!platform::WriteFileAtomically(dir + "/result.txt", ResultText(row, nodes), error))
        toolkit::Say(dir + "/result.txt: cannot write: " + error);
}

void DayTask::SignProducts(DayRow& row)
{
    // Hashes and identities of the day's products, so that a later run can
    // tell that they are still the ones this run made.
    std::string signatures, error;
    const std::pair<Column, Column> products[] = {
        {C_eph_path, C_eph_sha256}, {C_att_path, C_att_sha256}, {C_oem_path, C_oem_sha256}, {C_aem_path, C_aem_sha256}};
    for (const auto& p : products) {
        if (!row.Has(p.first)) {
            // A product of an earlier run of the day that this run did not
            // make again no longer belongs to the day: it goes, so that the
            // day's folder holds only what the catalog says.
            const char* ext = p.first == C_eph_path ? ".eph" : p.first == C_att_path ? ".att" :
                              p.first == C_oem_path ? ".oem" : ".aem";
            unlink((dir + "/" + day + ext).c_str());
            continue;
        }
        const std::string path = campaign + "/" + row.Get(p.first);
        std::string hash, signature;
        uint64_t size = 0;
        if (platform::FileSignature(path, signature) && toolkit::Sha256File(path, hash, size, error)) {
            row.Set(p.second, hash);
            signatures += row.Get(p.first) + "=" + signature + ";";
            const size_t slash = path.rfind('/');
            outputs.emplace_back(path.substr(slash + 1), hash);
        } else {
            row.Clear(p.first);
        }
    }
    bool tleWritten = false;
    for (const auto& o : outputs) tleWritten = tleWritten || o.first == day + ".tle";
    if (!tleWritten) unlink((dir + "/" + day + ".tle").c_str());
    if (row.Has(C_quicklook_path)) {
        std::string signature;
        if (platform::FileSignature(campaign + "/" + row.Get(C_quicklook_path), signature))
            signatures += row.Get(C_quicklook_path) + "=" + signature + ";";
        else row.Clear(C_quicklook_path);
    }
    row.Set(C_products_signature, signatures);
}

std::string DayTask::Manifest(const DayRow& row) const
{
    std::string m = "{\n  \"day\": " + Escaped(day) + ",\n";
    m += "  \"outcome\": " + Escaped(row.Get(C_outcome)) + ",\n";
    m += "  \"reason\": " + Escaped(row.Get(C_reason)) + ",\n";
    m += "  \"inputs\": {\n";
    m += "    \"packet_file\": {\"path\": " + Escaped(row.Get(C_packet_path)) +
         ", \"size\": " + (row.Has(C_packet_size) ? row.Get(C_packet_size) : "null") +
         ", \"sha256\": " + Escaped(row.Get(C_packet_sha256)) + "},\n";
    m += "    \"element_set\": {\"history\": " + Escaped(S("history")) + ", \"name\": " +
         Escaped(row.Get(C_element_name)) + ", \"line1\": " + Escaped(row.Get(C_element_line1)) +
         ", \"line2\": " + Escaped(row.Get(C_element_line2)) + ", \"sha256\": " +
         Escaped(row.Get(C_element_sha256)) + ", \"epoch_utc\": " + Escaped(row.Get(C_element_epoch_utc)) +
         ", \"age_days\": " + (row.Has(C_element_age_days) ? row.Get(C_element_age_days) : "null") + "},\n";
    std::string configText, error;
    platform::ReadWholeFile(S("config"), configText, error);
    m += "    \"configuration\": {\"path\": " + (S("config_source").empty() ? "null" : Escaped(S("config_source"))) +
         ", \"sha256\": " +
         Escaped(toolkit::Sha256Hex(configText)) + ", \"text\": " + Escaped(configText) +
         ", \"max_element_age_days\": " + S("max_element_age") + "}\n  },\n";
    m += "  \"programs\": [";
    const std::vector<std::string> versions = Lines(S("versions"));
    for (size_t i = 0; i < versions.size(); ++i) m += (i ? ", " : "") + Escaped(versions[i]);
    m += "],\n";
    m += "  \"environment\": {";
    for (size_t i = 0; i < env.size(); ++i)
        m += (i ? ", " : "") + Escaped(env[i].first) + ": " + Escaped(env[i].second);
    m += "},\n  \"commands\": [";
    for (size_t i = 0; i < commands.size(); ++i) m += std::string(i ? ",\n    " : "\n    ") + Escaped(commands[i]);
    m += commands.empty() ? "],\n" : "\n  ],\n";
    m += "  \"outputs\": {";
    for (size_t i = 0; i < outputs.size(); ++i)
        m += (i ? ", " : "") + Escaped(outputs[i].first) + ": " + Escaped(outputs[i].second);
    m += "}\n}\n";
    return m;
}

} // namespace

std::string PlanPath(const std::string& campaign) { return campaign + "/run/plan.tsv"; }

std::string PlanText(const Plan& plan)
{
    std::string text;
    for (const auto& kv : plan.settings) text += FieldText(kv.first) + "\t" + FieldText(kv.second) + "\n";
    for (const auto& d : plan.days) text += "day\t" + FieldText(d.first) + "\t" + FieldText(d.second) + "\n";
    return text;
}

bool ParsePlan(const std::string& text, Plan& plan)
{
    size_t a = 0;
    while (a < text.size()) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) return false;   // cut short
        const std::string line = text.substr(a, b - a);
        a = b + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return false;
        const std::string key = FieldValue(line.substr(0, tab)), value = line.substr(tab + 1);
        if (key == "day") {
            const size_t t2 = value.find('\t');
            if (t2 == std::string::npos) return false;
            plan.days.emplace_back(FieldValue(value.substr(0, t2)), FieldValue(value.substr(t2 + 1)));
            continue;
        }
        plan.settings[key] = FieldValue(value);
    }
    return true;
}

int RunTask(const std::string& campaign, const std::vector<std::string>& days)
{
    // A stop signal ends the day that runs as stopped, with its result.
    const platform::StopSignals stops;

    std::string text, error;
    Plan plan;
    if (!platform::ReadWholeFile(PlanPath(campaign), text, error) || !ParsePlan(text, plan)) {
        toolkit::Say(PlanPath(campaign) + ": cannot read the run's plan" + (error.empty() ? "" : ": " + error));
        return 255;
    }
    ElementHistory history;
    const std::string satellite = plan.settings["satellite"];
    if (!ReadElementHistory(plan.settings["elements"], satellite, history, error)) {
        toolkit::Say(plan.settings["elements"] + ": cannot read: " + error);
        return 255;
    }
    SelectPacketLayout(satellite);
    DayTask task(campaign, plan, history);
    for (const std::string& day : days) {
        if (StopSignal()) return 128 + StopSignal();
        std::string packet;
        for (const auto& d : plan.days)
            if (d.first == day) packet = d.second;
        if (packet.empty()) {
            toolkit::Say(day + ": not in the run's plan");
            return 255;
        }
        if (!task.Run(day, packet)) return 128 + (StopSignal() ? StopSignal() : SIGTERM);
    }
    return StopSignal() ? 128 + StopSignal() : 0;
}

} // namespace campaign
