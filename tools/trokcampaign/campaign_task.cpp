#include "campaign_task.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "campaign_day_record.h"
#include "toolkit/time/utcday.h"
#include "campaign_elements.h"
#include "campaign_manifest.h"
#include "campaign_result_file.h"
#include "campaign_run_plan.h"
#include "pipeline/day_steps.h"
#include "pipeline/run_log.h"
#include "platform/atomic_file.h"
#include "platform/atomic_stream.h"
#include "platform/file_signature.h"
#include "platform/make_dirs.h"
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
    std::string day, dir, packet;
    std::string tle, eph, att;   // its element file and products
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

// The day's row as far as the plan and this host tell it, and its folder
// and log; false when the folder cannot be made.
bool Begin(const RunSettings& s, Day& d)
{
    d.dir = s.campaign + "/days/" + d.day;
    d.tle = d.dir + "/" + d.day + ".tle";
    d.eph = d.dir + "/" + d.day + ".eph";
    d.att = d.dir + "/" + d.day + ".att";
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
    const platform::MadeDirs made = platform::MakeDirs(d.dir);
    if (!made.ok) {
        toolkit::Say(d.dir + ": cannot make the day's folder: " + made.Reason());
        return false;
    }
    if (!d.log.Open(d.dir + "/" + d.day + ".log")) toolkit::Say(d.dir + "/" + d.day + ".log: " + d.log.Error());
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

// The packet file: its identity, hash and time span.
bool InspectPacket(Day& d)
{
    DayRecord& r = d.record;
    std::string signature, error, hash;
    uint64_t size = 0;
    if (!platform::FileSignature(d.packet, signature, &size)) {
        r.outcome = Outcome::Missing;
        r.reason = "no packet file " + d.packet;
        return false;
    }
    if (!toolkit::Sha256File(d.packet, hash, size, error)) {
        r.outcome = Outcome::InputRefused;
        r.reason = "cannot read the packet file " + d.packet + ": " + error;
        return false;
    }
    r.packet_signature = signature;
    r.packet_size = static_cast<long long>(size);
    r.packet_sha256 = hash;
    if (!PacketTimes(d.packet, d.firstTai93, d.lastTai93)) {
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
    r.element_sha256 = d.set->sha256;
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
    if (!platform::WriteFileAtomically(d.tle, text, error)) {
        r.outcome = Outcome::Stopped;
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
    pipeline::DayWork w;
    w.programs = {s.trokproc, s.qlrdump, s.qlrplot};
    w.packet = d.packet;
    w.elements = d.tle;
    w.config = s.config;
    w.eph = d.eph;
    w.att = d.att;
    if (s.exports) {
        w.oem = d.dir + "/" + d.day + ".oem";
        w.aem = d.dir + "/" + d.day + ".aem";
    }
    if (s.plots) w.quicklook = d.dir + "/quicklook";
    w.maxElementAge = s.MaxElementAgeText();
    w.checkWithElements = true;
    // Every program of the day sees the same time stamp: the day's last packet.
    w.env = {{"SOURCE_DATE_EPOCH", std::to_string(toolkit::UnixSecondsFromTai93(d.lastTai93))}};
    w.out = w.err = w.commands = d.log.Fd();
    w.limit = pipeline::TimeLimit::FromEnvironment();
    const pipeline::DayRun run = pipeline::RunDay(w);
    d.facts.environment = w.env;
    d.facts.commands = run.commands;
    RecordPrograms(run, s.campaign, d.day, d.record, d.nodes);
    // The task's own stop follows: no further day begins.
    if (run.signal && !run.noted) programStop = run.signal;
}

// Hashes and identities of the day's products, so that a later run can
// tell that they are still the ones this run made; a product of an
// earlier run of the day that this run did not make again no longer
// belongs to the day: it goes, so that the day's folder holds only what
// the catalog says.
void SignProducts(const RunSettings& s, Day& d)
{
    DayRecord& r = d.record;
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
        if (!Filled(r.*p.path)) {
            unlink((d.dir + "/" + d.day + p.ext).c_str());
            continue;
        }
        std::string hash, signature;
        uint64_t size = 0;
        if (platform::FileSignature(s.campaign + "/" + *(r.*p.path), signature) &&
            toolkit::Sha256File(s.campaign + "/" + *(r.*p.path), hash, size, error)) {
            r.*p.sha256 = hash;
            signatures += *(r.*p.path) + "=" + signature + ";";
            d.facts.outputs.emplace_back(d.day + p.ext, hash);
        } else {
            (r.*p.path).reset();
        }
    }
    if (d.facts.outputs.empty() || d.facts.outputs.front().first != d.day + ".tle") unlink(d.tle.c_str());
    std::string signature;
    if (Filled(r.quicklook_path) && platform::FileSignature(s.campaign + "/" + *r.quicklook_path, signature))
        signatures += *r.quicklook_path + "=" + signature + ";";
    else r.quicklook_path.reset();
    r.products_signature = signatures;
}

// The end of every day that has its folder: manifest and result.
void Finish(const RunSettings& s, Day& d)
{
    SignProducts(s, d);
    d.record.finished_utc = toolkit::IsoUtcNow();
    d.record.seconds =
        Rounded(std::chrono::duration<double>(std::chrono::steady_clock::now() - d.started).count(), 3);
    std::string error;
    if (!platform::WriteFileAtomically(d.dir + "/manifest.json", ManifestText(d.record, s, d.facts), error))
        toolkit::Say(d.dir + "/manifest.json: cannot write: " + error);
    if (d.log.IsOpen() && !d.log.Commit()) {
        toolkit::Say(d.dir + "/" + d.day + ".log: " + d.log.Error());
        d.log.Discard();
    }
    if (!platform::WriteFileAtomically(ResultPath(s.campaign, d.day), ResultText(d.record, d.nodes), error))
        toolkit::Say(ResultPath(s.campaign, d.day) + ": cannot write: " + error);
}

// Runs a day to its result file; false when a stop signal ended it.
bool RunDay(const RunSettings& s, const ElementHistory& history, const std::string& day, const std::string& packet)
{
    Day d;
    d.day = day;
    d.packet = packet;
    if (!Begin(s, d)) return true;   // without its folder the day has no result
    if (InspectPacket(d) && ChooseElements(s, history, d)) RunPrograms(s, d);
    Finish(s, d);
    return !StopSignal();
}

} // namespace

int RunTask(const std::string& campaign, const std::vector<std::string>& days)
{
    // A stop signal ends the day that runs as stopped, with its result.
    const platform::StopSignals stops;
    RunPlan plan;
    std::string error;
    if (!ReadPlan(campaign, plan, error)) {
        toolkit::Say(PlanPath(campaign) + ": cannot read the run's plan" + (error.empty() ? "" : ": " + error));
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
        if (!RunDay(plan.settings, history, day, packet)) return 128 + (StopSignal() ? StopSignal() : SIGTERM);
    }
    return StopSignal() ? 128 + StopSignal() : 0;
}

} // namespace campaign
