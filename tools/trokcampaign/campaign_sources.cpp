#include "campaign_sources.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "campaign_failure.h"
#include "campaign_fields.h"
#include "platform/file_reading.h"
#include "platform/input_file.h"
#include "platform/path_names.h"
#include "timelib_proc_TAI93.h"
#include "toolkit/cli/cli.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/utcday.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"

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

// The UTC day of a packet file's first packet, read as trokproc reads it
// from the file opened as an input; "" with `why` when it cannot be opened.
std::string DayFromPackets(const std::string& path, std::string& why)
{
    const int fd = platform::OpenInput(path, why);
    if (fd < 0) return "";
    packetfile file("/proc/self/fd/" + std::to_string(fd), trokpacket::apid);
    std::string day;
    if (file.good() && file.NoPackets() >= 1) {
        trokpacket first;
        file.ReadPacket(first, file.BegPacket());
        const std::string utc = toolkit::IsoCivilOrModelUtcFromTai93(JulianDayToTAI93(first.TimeTag()), 3);
        if (!file.fail() && utc.size() >= 10 && toolkit::ValidDay(utc.substr(0, 10))) day = utc.substr(0, 10);
    }
    close(fd);
    return day;
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
                if (!toolkit::ValidDay(day)) {
                    toolkit::Warn(archive + "/" + y + "/" + m + "/" + f + ": " + day +
                                  " is no day of the calendar (from 1958 to 2099); left out");
                    continue;
                }
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
        std::string day = DayFromPath(path), why;
        if (day.empty()) day = DayFromPackets(path, why);
        if (day.empty())
            Fail(list + ": line " + std::to_string(lineNo) + ": " + line +
                 ": no day in its name (YYYY/MM/DD.pkt, YYYY-MM-DD or YYYYMMDD) and " +
                 (why.empty() ? "no packet to date it by" : "cannot be read to date it: " + why));
        auto it = days.find(day);
        if (it != days.end())
            Fail(list + ": line " + std::to_string(lineNo) + ": " + line + " and " + it->second +
                 " are both packet files of " + day);
        days[day] = path;
    }
    if (days.empty()) Fail(list + ": no packet files listed");
    return days;
}

} // namespace

std::map<std::string, std::string> PlannedDays(const RunOptions& o)
{
    return o.archive.empty() ? ListDays(o.list) : ArchiveDays(platform::AbsolutePath(o.archive));
}

} // namespace campaign
