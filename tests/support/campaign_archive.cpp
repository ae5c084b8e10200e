#include "campaign_archive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "orbitlib_class_noradelements.h"
#include "run_program.h"

namespace {

const int kDays = 20;
// trokgen's days are numbered from 1.
const char* const kFaults[] = {"--cut-days", "4", "--time-fault-days", "10", "--tle-gap-days", "11-18"};
const char* const kFlip[] = {"--flip-days", "8"};
const char* const kHazardSet = "1002";

void Run(const std::vector<std::string>& argv, const std::string& cwd = "")
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
    const int day = 21 + index;
    char buf[16];
    if (day <= 30) std::snprintf(buf, sizeof buf, "2026-06-%02d", day);
    else std::snprintf(buf, sizeof buf, "2026-07-%02d", day - 30);
    return buf;
}

std::string PathOf(const std::string& archive, const std::string& day)
{
    return archive + "/" + day.substr(0, 4) + "/" + day.substr(5, 2) + "/" + day.substr(8, 2) + ".pkt";
}

void MakeArchive(const std::string& dir, const std::string& tle, bool flip)
{
    std::vector<std::string> argv = {TROKGEN_PATH, "--archive", dir, "--days", std::to_string(kDays), "--start",
                                     "2026-06-21", "--small-gaps", "40", "--large-gaps", "20"};
    argv.insert(argv.end(), std::begin(kFaults), std::end(kFaults));
    if (flip) argv.insert(argv.end(), std::begin(kFlip), std::end(kFlip));
    if (!tle.empty()) {
        argv.push_back("--tle");
        argv.push_back(tle);
    }
    Run(argv);
}

// The set numbered kHazardSet as the same orbit with omega + M of 360
// degrees or more: perigee and mean anomaly each half a turn on (both lie
// below 180 degrees in that set), new check digit.
std::string WithHazardSet(const std::string& history)
{
    std::string out;
    std::string previous;
    for (size_t a = 0; a < history.size();) {
        size_t b = history.find('\n', a);
        if (b == std::string::npos) b = history.size();
        std::string line = history.substr(a, b - a);
        a = b + 1;
        if (line.compare(0, 2, "2 ") == 0 && previous.size() >= 68 && previous.substr(64, 4) == kHazardSet) {
            const double argp = std::stod(line.substr(34, 8)), mean = std::stod(line.substr(43, 8));
            if (argp >= 180 || mean >= 180) throw std::runtime_error("the hand-made set needs another recipe");
            char fields[32];
            std::snprintf(fields, sizeof fields, "%8.4f %8.4f", argp + 180, mean + 180);
            line.replace(34, 17, fields);
            line[68] = CheckSum(line.c_str());
        }
        previous = line;
        out += line + "\n";
    }
    return out;
}

} // namespace

std::string CampaignArchive::SoundFile(int day) const { return PathOf(sound, days[day]); }

const CampaignArchive& TestArchive()
{
    static CampaignArchive a;
    if (!a.dir.empty()) return a;
    const std::string dir = std::string(TEST_TMPDIR) + "/campaign_archive";
    mkdir(TEST_TMPDIR, 0755);
    a.archive = dir + "/archive";
    a.sound = dir + "/sound";
    a.history = dir + "/history.tle";
    a.element = dir + "/element.tle";
    for (int i = 0; i < kDays; ++i) {
        a.days.push_back(DayName(i));
        a.packetFiles.push_back(i == 11 ? "" : PathOf(a.archive, a.days.back()));
    }

    // Tests run in parallel processes: one makes the archive, the others wait.
    const int lock = open((std::string(TEST_TMPDIR) + "/campaign_archive.lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + dir);
    const std::string done = dir + "/done";
    const double made = ModifiedTime(done);
    if (made < 0 || made < ModifiedTime(TROKGEN_PATH)) {
        RunProgram({"/bin/rm", "-rf", dir});
        RunProgram({"/bin/mkdir", "-p", dir});
        MakeArchive(a.archive, dir + "/trokgen.tle", true);
        MakeArchive(a.sound, "", false);
        if (unlink(PathOf(a.archive, a.days[11]).c_str()) != 0) throw std::runtime_error("cannot remove day 11");
        const std::string sets = ReadFile(dir + "/trokgen.tle");
        WriteFile(a.element, sets.substr(0, sets.find("\n2 ") + 71));
        // One set of another satellite among them.
        Run({TROKGEN_PATH, "--out", dir + "/other.pkt", "--tle", dir + "/other.tle", "--seconds", "2", "--start",
             "2026-06-30", "--name", "OTHERSAT", "--catalog", "11111"});
        WriteFile(a.history, WithHazardSet(sets) + ReadFile(dir + "/other.tle"));
        WriteFile(done, "");
    }
    close(lock);
    a.dir = dir;
    return a;
}
