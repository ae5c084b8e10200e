#include "campaign_task.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "campaign_day_folder.h"
#include "campaign_day_record.h"
#include "toolkit/time/utcday.h"
#include "campaign_elements.h"
#include "campaign_folder.h"
#include "campaign_manifest.h"
#include "campaign_run_plan.h"
#include "pipeline/day_steps.h"
#include "pipeline/run_log.h"
#include "platform/atomic_file.h"
#include "platform/atomic_stream.h"
#include "platform/file_signature.h"
#include "platform/input_file.h"
#include "platform/stop_signals.h"
#include "timelib_proc_TAI93.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/unixtime.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

namespace campaign {

namespace {

// A signal that ended a program of a day, standing in for the task's own
// stop signal, which is on its way (the stop reached the whole group).
int programStop = 0;

// The task's stop signal, or 0.
int StopSignal()
{
    const int noted = platform::StopSignals::Noted();
    return noted ? noted : programStop;
}

// One day of the task, from its beginning to its result: what its steps
// learn and make. Made afresh for each day.
struct Day {
    std::string day, packet;
    DayFolder folder;            // run/work/DAY, and the day's place
    std::string tle, eph, att;   // its element file and products, as made in the work folder
    double firstTai93 = 0, lastTai93 = 0;
    const ElementSet* set = nullptr;
    DayRecord record;
    std::vector<Node> nodes;
    ManifestFacts facts;
    platform::AtomicFile log;   // DAY.log, committed with the day's result
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// A Slurm array task as JOB_TASK, the names sacct and scancel take.
std::string JobId()
{
    const char* arrayJob = std::getenv("SLURM_ARRAY_JOB_ID");
    const char* arrayTask = std::getenv("SLURM_ARRAY_TASK_ID");
    const char* slurmJob = std::getenv("SLURM_JOB_ID");
    return arrayJob && arrayTask ? std::string(arrayJob) + "_" + arrayTask
           : slurmJob            ? slurmJob
                                 : "local:" + std::to_string(getpid());
}

// A write of the task's own failed: the day has no space, or the message
// is said.
void WriteFailed(Day& d, const std::string& what, const std::string& error)
{
    if (!NoSpaceText(error)) {
        toolkit::Say(what + ": " + error);
        return;
    }
    d.record.outcome = Outcome::NoSpace;
    d.record.reason = "cannot write " + what + ": " + error;
}

// The day's row as far as the plan and this host tell it, and its work
// folder and log; false when the day cannot be begun (then it has no result).
bool Begin(const CampaignFolder& c, const RunSettings& s, Day& d)
{
    DayRecord& r = d.record;
    r.day = d.day;
    r.packet_path = d.packet;
    r.engine = s.engine;
    r.run_id = s.runId;
    r.host = pipeline::HostName();
    r.job_id = JobId();
    r.config_sha256 = s.configSha256;
    r.versions = s.versions;
    r.versions_sha256 = s.versionsSha256;
    r.started_utc = toolkit::IsoUtcNow();
    bool busy = false;
    std::string error;
    if (!d.folder.Begin(c, d.day, busy, error)) {
        toolkit::Say(error + (busy ? "; left to it" : ""));
        return false;
    }
    const platform::Folder& w = d.folder.Work();
    d.tle = w.PathOf(d.day + ".tle");
    d.eph = w.PathOf(d.day + ".eph");
    d.att = w.PathOf(d.day + ".att");
    if (!d.log.OpenAt(w.Fd(), d.day + ".log")) toolkit::Say(w.PathOf(d.day + ".log") + ": " + d.log.Error());
    return true;
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

// The packet file, opened as an input (a FIFO, device or folder is refused
// unopened): its identity, hash and time span, all of the one file opened.
bool InspectPacket(Day& d)
{
    DayRecord& r = d.record;
    std::string signature, error, hash;
    uint64_t size = 0;
    struct stat st;
    const int fd = platform::OpenInput(d.packet, error, &st);
    if (fd < 0) {
        const bool gone = stat(d.packet.c_str(), &st) != 0 && errno == ENOENT;
        r.outcome = gone ? Outcome::Missing : Outcome::InputRefused;
        r.reason = gone ? "no packet file " + d.packet : "the packet file " + d.packet + ": " + error;
        return false;
    }
    const std::string held = "/proc/self/fd/" + std::to_string(fd);
    const bool hashed = platform::FileSignature(held, signature) && toolkit::Sha256Descriptor(fd, hash, size, error);
    const bool timed = hashed && PacketTimes(held, d.firstTai93, d.lastTai93);
    close(fd);
    if (!hashed) {
        r.outcome = Outcome::InputRefused;
        r.reason = "cannot read the packet file " + d.packet + ": " + error;
        return false;
    }
    r.packet_signature = signature;
    r.packet_size = static_cast<long long>(size);
    r.packet_sha256 = hash;
    if (!timed) {
        // trokproc will say what is wrong with the file; the day's own
        // midnight stands in for choosing its element set.
        d.firstTai93 = d.lastTai93 = toolkit::DayStartTai93(d.day);
        return true;
    }
    // To the microsecond, as the catalog keeps them: a later run chooses the
    // day's element set again from the catalogued times, and must come to
    // the same set (an epoch can fall on the first packet).
    d.firstTai93 = std::round(d.firstTai93 * 1e6) / 1e6;
    d.lastTai93 = std::round(d.lastTai93 * 1e6) / 1e6;
    r.first_packet_tai93 = d.firstTai93;
    r.last_packet_tai93 = d.lastTai93;
    r.first_packet_utc = toolkit::IsoCivilOrModelUtcFromTai93(d.firstTai93, 3);
    r.last_packet_utc = toolkit::IsoCivilOrModelUtcFromTai93(d.lastTai93, 3);
    return true;
}

// The element set nearest before the day's data, no older than the run
// allows, written to the day's element file.
bool ChooseElements(const RunSettings& s, const ElementHistory& history, Day& d)
{
    DayRecord& r = d.record;
    double age = 0;
    d.set = ChooseElementSet(history, d.firstTai93, d.lastTai93, age);
    if (!d.set) {
        r.outcome = Outcome::NoElements;
        r.reason = "no element set of " + s.satellite + " in " + s.history;
        return false;
    }
    const std::string epochUtc = toolkit::IsoCivilOrModelUtcFromTai93(d.set->epochTai93, 3);
    r.element_name = s.satellite;
    r.element_line1 = d.set->line1;
    r.element_line2 = d.set->line2;
    r.element_sha256 = ElementSetSha256(*d.set);
    r.element_epoch_tai93 = Finite(Rounded(d.set->epochTai93, 6));
    r.element_epoch_utc = epochUtc;
    if (d.set->setNumber >= 0) r.element_number = d.set->setNumber;
    r.element_age_days = Finite(Rounded(age, 4));
    if (s.maxElementAge > 0 && age > s.maxElementAge) {
        r.outcome = Outcome::NoElements;
        r.reason = "the nearest element set (epoch " + epochUtc + " UTC) lies " + toolkit::FixedText(age, 2) +
                   " days from the data, more than " + toolkit::FixedText(s.maxElementAge, 2);
        return false;
    }
    const std::string text = ElementFileText(s.satellite, *d.set);
    std::string error;
    if (!platform::WriteFileAtomicallyAt(d.folder.Work().Fd(), d.day + ".tle", text, error)) {
        r.outcome = NoSpaceText(error) ? Outcome::NoSpace : Outcome::Stopped;
        r.reason = "cannot write " + d.tle + ": " + error;
        return false;
    }
    d.facts.outputs.emplace_back(d.day + ".tle", toolkit::Sha256Hex(text));
    return true;
}

// trokproc, the check, the exports and the quicklook page (pipeline/), their
// output in the day's log.
void RunPrograms(const RunSettings& s, Day& d)
{
    const platform::Folder& work = d.folder.Work();
    pipeline::DayWork w;
    w.programs = {s.trokproc, s.qlrdump, s.qlrplot};
    w.packet = d.packet;
    w.elements = d.tle;
    w.config = s.config;
    w.eph = d.eph;
    w.att = d.att;
    if (s.exports) {
        w.oem = work.PathOf(d.day + ".oem");
        w.aem = work.PathOf(d.day + ".aem");
    }
    if (s.plots) w.quicklook = work.PathOf("quicklook");
    w.maxElementAge = s.MaxElementAgeText();
    w.checkWithElements = true;
    // Every program of the day sees the same time stamp: the day's last packet.
    w.env = {{"SOURCE_DATE_EPOCH", std::to_string(toolkit::UnixSecondsFromTai93(d.lastTai93))}};
    w.out = w.err = w.commands = d.log.Fd();
    w.limit = pipeline::TimeLimit::FromEnvironment();
    const pipeline::DayRun run = pipeline::RunDay(w);
    d.facts.environment = w.env;
    d.facts.commands = run.commands;
    RecordPrograms(run, d.eph, d.day, d.record, d.nodes);
    // The task's own stop follows: no further day begins.
    if (run.signal && !run.noted) programStop = run.signal;
}

// Hashes and identities of the day's products (in the work folder, where
// they keep their identity when the folder takes the day's place), so that
// a later run can tell that they are still the ones this run made.
void SignProducts(Day& d)
{
    DayRecord& r = d.record;
    const platform::Folder& work = d.folder.Work();
    std::string signatures, error;
    const struct {
        Text DayRecord::*path;
        Text DayRecord::*sha256;
        const char* ext;
    } products[] = {{&DayRecord::eph_path, &DayRecord::eph_sha256, ".eph"},
                    {&DayRecord::att_path, &DayRecord::att_sha256, ".att"},
                    {&DayRecord::oem_path, &DayRecord::oem_sha256, ".oem"},
                    {&DayRecord::aem_path, &DayRecord::aem_sha256, ".aem"}};
    for (const auto& p : products) {
        if (!Filled(r.*p.path)) continue;
        const std::string made = work.PathOf(d.day + p.ext);
        std::string hash, signature;
        uint64_t size = 0;
        if (platform::FileSignature(made, signature) && toolkit::Sha256File(made, hash, size, error)) {
            r.*p.sha256 = hash;
            signatures += *(r.*p.path) + "=" + signature + ";";
            d.facts.outputs.emplace_back(d.day + p.ext, hash);
        } else {
            (r.*p.path).reset();
        }
    }
    std::string signature;
    if (Filled(r.quicklook_path) && platform::FileSignature(work.PathOf("quicklook/report.html"), signature))
        signatures += *r.quicklook_path + "=" + signature + ";";
    else r.quicklook_path.reset();
    r.products_signature = signatures;
}

// A day that came to no verdict claims no products: its work stays in
// run/work/DAY, and the day's earlier files and row stay as they were.
void ForgetProducts(DayRecord& r)
{
    for (Text DayRecord::*f : {&DayRecord::eph_path, &DayRecord::eph_sha256, &DayRecord::att_path,
                               &DayRecord::att_sha256, &DayRecord::oem_path, &DayRecord::oem_sha256,
                               &DayRecord::aem_path, &DayRecord::aem_sha256, &DayRecord::quicklook_path,
                               &DayRecord::products_signature, &DayRecord::manifest_sha256})
        (r.*f).reset();
}

// The manifest and the log in the work folder.
void WriteRecords(const RunSettings& s, Day& d)
{
    const platform::Folder& work = d.folder.Work();
    const std::string manifest = ManifestText(d.record, s, d.facts);
    std::string error, signature;
    if (!platform::WriteFileAtomicallyAt(work.Fd(), "manifest.json", manifest, error)) {
        WriteFailed(d, work.PathOf("manifest.json"), error);
    } else if (d.record.MadeProducts() && platform::FileSignature(work.PathOf("manifest.json"), signature)) {
        d.record.manifest_sha256 = toolkit::Sha256Hex(manifest);
        d.record.products_signature = d.record.products_signature.value_or("") + "days/" + d.day +
                                      "/manifest.json=" + signature + ";";
    }
    if (d.log.IsOpen() && !d.log.Commit()) {
        WriteFailed(d, work.PathOf(d.day + ".log"), d.log.Error());
        d.log.Discard();
    }
}

// The end of every day begun: manifest, log and result, and the work put in
// the day's place once the day has its verdict.
void Finish(const RunSettings& s, Day& d)
{
    SignProducts(d);
    d.record.finished_utc = toolkit::IsoUtcNow();
    d.record.seconds =
        Rounded(std::chrono::duration<double>(std::chrono::steady_clock::now() - d.started).count(), 3);
    WriteRecords(s, d);
    const platform::Folder& work = d.folder.Work();
    std::string error;
    if (d.record.Unfinished()) {
        ForgetProducts(d.record);
        if (d.record.Is(Outcome::NoSpace)) d.folder.DropProducts();
    }
    if (!platform::WriteFileAtomicallyAt(work.Fd(), "result.txt", ResultText(d.record, d.nodes, s.runToken), error))
        toolkit::Say(work.PathOf("result.txt") + ": cannot write: " + error);
    if (d.record.Unfinished()) return;
    bool kept = false;
    if (d.folder.Commit(kept, error)) {
        if (!error.empty()) toolkit::Say(error);
        return;
    }
    // Not put in place: the day is unfinished, its earlier files stay.
    d.record.outcome = NoSpaceText(error) ? Outcome::NoSpace : Outcome::Stopped;
    d.record.reason = "cannot put the day's files in place: " + error;
    ForgetProducts(d.record);
    if (!platform::WriteFileAtomicallyAt(work.Fd(), "result.txt", ResultText(d.record, d.nodes, s.runToken), error))
        toolkit::Say(work.PathOf("result.txt") + ": cannot write: " + error);
}

// Runs a day to its result file; false when a stop signal ended it.
bool RunDay(const CampaignFolder& c, const RunSettings& s, const ElementHistory& history, const std::string& day,
            const std::string& packet)
{
    Day d;
    d.day = day;
    d.packet = packet;
    if (!Begin(c, s, d)) return !StopSignal();   // a day not begun has no result
    if (InspectPacket(d) && ChooseElements(s, history, d)) RunPrograms(s, d);
    Finish(s, d);
    return !StopSignal();
}

} // namespace

int RunTask(const std::string& campaign, const std::vector<std::string>& days)
{
    // A stop signal ends the day that runs as stopped, with its result.
    const platform::StopSignals stops;
    CampaignFolder folder;
    RunPlan plan;
    std::string error;
    if (!OpenCampaign(campaign, false, folder, error) || !folder.run.IsOpen() ||
        (!folder.days.IsOpen() && !folder.top.OpenSub("days", folder.days, error, true, 0755))) {
        toolkit::Say("cannot use the campaign folder: " + (error.empty() ? campaign + " has no run/" : error));
        return 255;
    }
    if (!ReadPlan(folder.Path(), plan, error)) {
        toolkit::Say(PlanPath(folder.Path()) + ": cannot read the run's plan" + (error.empty() ? "" : ": " + error));
        return 255;
    }
    ElementHistory history;
    if (!ReadElementHistory(plan.settings.elements, plan.settings.satellite, history, error)) {
        toolkit::Say(plan.settings.elements + ": cannot read: " + error);
        return 255;
    }
    SelectPacketLayout(plan.settings.satellite);
    for (const std::string& day : days) {
        if (StopSignal()) return 128 + StopSignal();
        std::string packet;
        for (const auto& p : plan.days)
            if (p.first == day) packet = p.second;
        if (packet.empty()) {
            toolkit::Say(day + ": not in the run's plan");
            return 255;
        }
        if (!RunDay(folder, plan.settings, history, day, packet))
            return 128 + (StopSignal() ? StopSignal() : SIGTERM);
    }
    return StopSignal() ? 128 + StopSignal() : 0;
}

} // namespace campaign
