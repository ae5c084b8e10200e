#include "campaign_archive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "run_program.h"

namespace {

const int kDays = 20;
const double kPi = 3.141592653589793;
// TAI seconds since 1958 of the first day's midnight, and the argument of
// latitude then (degrees); the orbit's mean motion (rad/s) at 700 km.
const double kStart = 2160691257.0;
const double kStartU = 30.0;
const double kMeanMotion = std::sqrt(3.9860064e14 / std::pow(6378137.0 + 700e3, 3));
const int kHazardDay = 5;

double ArgumentOfLatitude(double t)
{
    const double deg = kStartU + (t - kStart) * kMeanMotion * 180.0 / kPi;
    return std::fmod(deg, 360.0);
}

long Revolution(double t)
{
    return 10000 + static_cast<long>(std::floor((kStartU + (t - kStart) * kMeanMotion * 180.0 / kPi) / 360.0));
}

std::string Num(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

void Run(const std::vector<std::string>& argv, const std::string& cwd)
{
    const ProgramResult r = RunProgram(argv, cwd);
    if (r.status != 0) throw std::runtime_error("cannot make the test archive: " + argv[0] + ": " + r.err);
}

double ModifiedTime(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

std::string DayName(int index)
{
    // 2026-06-21 + index, within June and July.
    const int day = 21 + index;
    char buf[16];
    if (day <= 30) std::snprintf(buf, sizeof buf, "2026-06-%02d", day);
    else std::snprintf(buf, sizeof buf, "2026-07-%02d", day - 30);
    return buf;
}

// An element set of the orbit at `epoch`, written by trokgen to `tle`. The
// days are stitched into one orbit from the fixed two-body ellipse, which
// trokgen keeps with --two-body.
void MakeSet(const std::string& dir, double epoch, int number, const std::string& tle, bool hazard,
             const std::string& name = "VORN", int catalog = 43210)
{
    const double u = ArgumentOfLatitude(epoch);
    const double argp = hazard ? 350.0 : 0.0;
    const double m = std::fmod(u - argp + 720.0, 360.0);
    Run({TROKGEN_PATH, "--out", dir + "/set.pkt", "--tle", tle, "--seconds", "2", "--start", Num(epoch, 0),
         "--ecc", "0", "--argp", Num(argp, 6), "--mean-anomaly", Num(m, 6), "--rev",
         std::to_string(Revolution(epoch)), "--element-number", std::to_string(number), "--name", name,
         "--catalog", std::to_string(catalog), "--jitter", "0", "--two-body"},
        dir);
    std::remove((dir + "/set.pkt").c_str());
}

} // namespace

void MakeArchiveDay(int index, const std::string& path)
{
    const double start = kStart + index * 86400.0;
    Run({TROKGEN_PATH, "--out", path, "--seconds", "86400", "--start", Num(start, 0), "--ecc", "0", "--argp", "0",
         "--mean-anomaly", Num(ArgumentOfLatitude(start), 6), "--seed", std::to_string(100 + index),
         "--small-gaps", "2", "--large-gaps", "1", "--two-body"},
        "");
}

const CampaignArchive& TestArchive()
{
    static CampaignArchive a;
    if (!a.dir.empty()) return a;
    const std::string dir = std::string(TEST_TMPDIR) + "/campaign_archive";
    mkdir(TEST_TMPDIR, 0755);
    for (int i = 0; i < kDays; ++i) {
        a.days.push_back(DayName(i));
        const std::string d = a.days.back();
        a.packetFiles.push_back(i == 12 ? "" : dir + "/archive/" + d.substr(0, 4) + "/" + d.substr(5, 2) + "/" +
                                                   d.substr(8, 2) + ".pkt");
    }
    a.archive = dir + "/archive";
    a.history = dir + "/history.tle";

    // Tests run in parallel processes: one makes the archive, the others wait.
    const int lock = open((std::string(TEST_TMPDIR) + "/campaign_archive.lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + dir);
    const std::string done = dir + "/done";
    const double made = ModifiedTime(done);
    if (made < 0 || made < ModifiedTime(TROKGEN_PATH)) {
        RunProgram({"/bin/rm", "-rf", dir});
        RunProgram({"/bin/mkdir", "-p", dir + "/archive/2026/06", dir + "/archive/2026/07", dir + "/sets"});
        for (int i = 0; i < kDays; ++i) {
            if (a.packetFiles[i].empty()) continue;
            MakeArchiveDay(i, a.packetFiles[i]);
        }
        // Day 3 ends inside a packet; day 7 has 300 bytes that are no
        // packet header 1000 packets in.
        if (truncate(a.packetFiles[3].c_str(), 126 * 40000 + 50) != 0) throw std::runtime_error("truncate");
        {
            std::string bytes = ReadFile(a.packetFiles[7]);
            for (size_t k = 0; k < 300; ++k) bytes[126 * 1000 + k] = static_cast<char>(0xE5);
            WriteFile(a.packetFiles[7], bytes);
        }
        // The history, in an order of its own.
        std::string history;
        const int order[] = {8, 2, 0, 19, 5, 1, 18, 3, 7, 4, 6};
        for (int i : order) {
            const std::string tle = dir + "/sets/" + std::to_string(i) + ".tle";
            MakeSet(dir, kStart + i * 86400.0 - 3600.0, 100 + i, tle, i == kHazardDay);
            history += ReadFile(tle);
            if (i == 2) history += ReadFile(tle);   // a repeated set
        }
        MakeSet(dir, kStart + 10 * 86400.0, 900, dir + "/sets/other.tle", false, "OTHERSAT", 11111);
        history += ReadFile(dir + "/sets/other.tle");
        WriteFile(a.history, history);
        WriteFile(done, "");
    }
    close(lock);
    a.dir = dir;
    return a;
}
