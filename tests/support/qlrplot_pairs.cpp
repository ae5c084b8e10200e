#include "qlrplot_pairs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "run_program.h"

namespace {

struct PairRecipe {
    const char* name;
    std::vector<std::string> trokgen;
};

const PairRecipe kRecipes[] = {
    {"hours2", {"--seconds", "7200", "--small-gaps", "2", "--large-gaps", "1", "--seed", "11", "--tle", "x.tle"}},
    {"day1", {"--seconds", "86400", "--small-gaps", "4", "--large-gaps", "1", "--seed", "2026", "--tle", "x.tle"}},
    {"days7", {"--seconds", "604800", "--small-gaps", "30", "--large-gaps", "4", "--seed", "7", "--tle", "x.tle"}},
    {"noelements", {"--seconds", "86400", "--small-gaps", "3", "--large-gaps", "1", "--seed", "5"}},
};

double ModifiedTime(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

} // namespace

std::string ProductPair(const std::string& name)
{
    const PairRecipe* recipe = nullptr;
    for (const PairRecipe& r : kRecipes)
        if (name == r.name) recipe = &r;
    if (!recipe) throw std::runtime_error("no product pair " + name);

    const std::string root = std::string(TEST_TMPDIR) + "/qlrplot_pairs";
    const std::string dir = root + "/" + name;
    mkdir(TEST_TMPDIR, 0755);
    mkdir(root.c_str(), 0755);
    // Tests run in parallel processes: one makes the pair, the others wait.
    const int lock = open((root + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + dir);
    const std::string done = dir + "/done";
    const double made = ModifiedTime(done);
    if (made < 0 || made < ModifiedTime(TROKGEN_PATH) || made < ModifiedTime(TROKPROC_PATH)) {
        RunProgram({"/bin/rm", "-rf", dir});
        mkdir(dir.c_str(), 0755);
        std::vector<std::string> gen = {TROKGEN_PATH, "--out", "x.pkt", "--config", "configfile"};
        gen.insert(gen.end(), recipe->trokgen.begin(), recipe->trokgen.end());
        ProgramResult r = RunProgram(gen, dir);
        if (r.status == 0) r = RunProgram({TROKPROC_PATH, "-configfile", "configfile"}, dir);
        if (r.status != 0) {
            close(lock);
            throw std::runtime_error("cannot make the product pair " + name + ": " + r.err);
        }
        std::remove((dir + "/x.pkt").c_str());
        WriteFile(done, "");
    }
    close(lock);
    return dir;
}
