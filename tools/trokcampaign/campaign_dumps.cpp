#include "campaign_dumps.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "platform/atomic_stream.h"
#include "platform/file_reading.h"
#include "platform/stale_temporaries.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/unixtime.h"
#include "toolkit/time/utcday.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

namespace campaign {

namespace {

// A file still being written under a name of its sender's.
bool InTransfer(const std::string& name)
{
    return name.empty() || name[0] == '.' ||
           (name.size() >= 5 && name.compare(name.size() - 5, 5, ".part") == 0);
}

std::string SignatureOf(const struct stat& st)
{
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
           std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

double Now() { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(); }

// Why a file of the inbox is not taken, without its name (the warning puts
// that first).
std::string Unnamed(const std::string& why, const std::string& path)
{
    if (why.compare(0, path.size() + 2, path + ": ") == 0) return why.substr(path.size() + 2);
    if (why.compare(0, path.size() + 1, path + " ") == 0) return why.substr(path.size() + 1);
    return why;
}

// One file of the inbox read whole and hashed; its copy kept when the
// campaign has none. False only when the copy cannot be written.
bool Take(const platform::Folder& inbox, const platform::Folder& dumps, Arrival& a, std::string& error)
{
    struct stat st;
    std::string why;
    const int fd = inbox.OpenFile(a.name, why, &st);
    if (fd < 0) {
        a.refused = Unnamed(why, inbox.PathOf(a.name));
        return true;
    }
    std::string bytes;
    const bool read = platform::ReadDescriptor(fd, 1 << 20, [&](const char* b, size_t n) { bytes.append(b, n); }, why);
    struct stat after;
    const bool same = fstat(fd, &after) == 0 && SignatureOf(after) == SignatureOf(st);
    close(fd);
    if (st.st_uid != inbox.Owner()) a.refused = "a file of another user (uid " + std::to_string(st.st_uid) + ")";
    else if (!read) a.refused = Unnamed(why, inbox.PathOf(a.name));
    else if (!same) a.refused = "changed while being read";
    if (!a.refused.empty()) return true;
    a.signature = SignatureOf(st);
    a.sha256 = toolkit::Sha256Hex(bytes);
    const std::string kept = DumpFileName(a.sha256);
    struct stat have;
    if (dumps.Stat(kept, have) && S_ISREG(have.st_mode) && static_cast<size_t>(have.st_size) == bytes.size())
        return true;
    if (platform::WriteFileAtomicallyAt(dumps.Fd(), kept, bytes, why, 0600)) return true;
    error = dumps.PathOf(kept) + ": cannot write: " + why;
    return false;
}

} // namespace

std::string DumpFileName(const std::string& sha256) { return sha256 + ".pkt"; }

bool RemoveIfUnchanged(const platform::Folder& inbox, const Arrival& a, std::string& error)
{
    struct stat st;
    if (!inbox.Stat(a.name, st) || SignatureOf(st) != a.signature) return true;   // gone, or another file now
    if (unlinkat(inbox.Fd(), a.name.c_str(), 0) == 0 || errno == ENOENT) return true;
    error = inbox.PathOf(a.name) + ": taken, but cannot be removed from the inbox: " + std::strerror(errno);
    return false;
}

void RemoveStaleCopies(const platform::Folder& dir)
{
    // ".NAME.PID.XXXXXX.trokproc-tmp": NAME from the entry itself, the
    // rest judged by the platform's rule (whose process is gone).
    const std::string suffix = ".trokproc-tmp";
    std::vector<std::string> entries, names;
    std::string error;
    if (!dir.List(entries, error)) return;
    for (const std::string& e : entries) {
        if (e.size() <= suffix.size() + 1 || e[0] != '.' || e.compare(e.size() - suffix.size(), suffix.size(), suffix))
            continue;
        std::string name = e.substr(1, e.size() - 1 - suffix.size());
        for (int part = 0; part < 2 && name.rfind('.') != std::string::npos; ++part) name.erase(name.rfind('.'));
        names.push_back(name);
    }
    if (!names.empty()) platform::RemoveStaleTemporaries(dir.Path(), names);
}

bool TakeArrivals(const platform::Folder& inbox, const std::map<std::string, InboxRow>& seen,
                  const platform::Folder& dumps, std::vector<Arrival>& arrivals, std::string& error)
{
    std::vector<std::string> names;
    if (!inbox.List(names, error)) return false;
    for (const std::string& name : names) {
        if (InTransfer(name)) continue;
        struct stat st;
        if (!inbox.Stat(name, st)) continue;   // gone meanwhile
        const auto known = seen.find(name);
        if (known != seen.end() && known->second.signature == SignatureOf(st)) continue;
        Arrival a;
        a.name = name;
        a.arrived = Now();
        if (!Take(inbox, dumps, a, error)) return false;
        if (!a.refused.empty()) a.signature = SignatureOf(st);   // not looked at again until it changes
        arrivals.push_back(a);
    }
    return true;
}

namespace {

// The packets of every satellite but PELK (trokpacket's own defaults).
const size_t kOtherPacketSize = 126, kOtherApid = 957;

// The telemetry of the other packet layout in a dump that has none of
// ours: "APID 967 (214-byte packets)", or "" when it has none either. The
// layout in use is trokproc's (trokpacket), swapped for the survey and
// put back.
std::string OtherTelemetry(const std::string& path)
{
    const size_t size = trokpacket::pktsize, apid = trokpacket::apid;
    SelectPacketLayout("PELK");
    if (trokpacket::apid == apid) {   // a campaign of PELK: the other is every other satellite's
        trokpacket::pktsize = kOtherPacketSize;
        trokpacket::apid = kOtherApid;
    }
    toolkit::MergeReport report;
    report.layout = toolkit::CurrentLayout();
    toolkit::SurveyInputs({path}, report);
    trokpacket::pktsize = size;
    trokpacket::apid = apid;
    if (!report.inputs.at(0).packets) return "";
    return "APID " + std::to_string(report.layout.apid) + " (" + std::to_string(report.layout.size) +
           "-byte packets)";
}

} // namespace

DumpRow SurveyDump(const std::string& path, const Arrival& a)
{
    DumpRow row;
    row.sha256 = a.sha256;
    row.name = a.name;
    row.arrived_utc = toolkit::IsoUtcFromUnixSeconds(static_cast<std::time_t>(a.arrived));
    toolkit::MergeReport report;
    report.layout = toolkit::CurrentLayout();
    toolkit::SurveyInputs({path}, report);
    const toolkit::MergeInput& in = report.inputs.at(0);
    std::vector<std::string> days;
    double first = 0, last = 0;
    for (const auto& d : in.days) {
        if (!d.second.packets) continue;
        if (days.empty() || d.second.firstTai93 < first) first = d.second.firstTai93;
        if (days.empty() || d.second.lastTai93 > last) last = d.second.lastTai93;
        days.push_back(toolkit::DayText(d.first));
    }
    const std::string ours = "none of APID " + std::to_string(report.layout.apid);
    if (!days.empty() && in.refused.empty()) {
        row.outcome = "taken";
        for (const std::string& d : days) row.days += (row.days.empty() ? "" : ",") + d;
        row.first_packet_utc = toolkit::IsoCivilOrModelUtcFromTai93(first, 3);
        row.last_packet_utc = toolkit::IsoCivilOrModelUtcFromTai93(last, 3);
    } else if (!in.packets && !report.otherApids.empty()) {
        row.outcome = "foreign";
        for (const auto& o : report.otherApids)
            row.reason += (row.reason.empty() ? "packets of APID " : ", ") + std::to_string(o.first);
        row.reason += " only, " + ours;
    } else if (!in.packets && !(row.reason = OtherTelemetry(path)).empty()) {
        row.outcome = "foreign";
        row.reason = "telemetry of " + row.reason + " only, " + ours;
    } else {
        row.outcome = "refused";
        row.reason = in.refused.empty() ? "no usable telemetry packets" : in.refused;
    }
    return row;
}

std::vector<std::string> DumpDays(const DumpRow& row)
{
    std::vector<std::string> days;
    for (size_t a = 0; a < row.days.size();) {
        size_t b = row.days.find(',', a);
        if (b == std::string::npos) b = row.days.size();
        days.push_back(row.days.substr(a, b - a));
        a = b + 1;
    }
    return days;
}

} // namespace campaign
