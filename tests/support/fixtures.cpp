#include "fixtures.h"

#include "run_program.h"

std::string MakeProducts(const std::string& dir, const std::string& name,
                         const std::vector<std::string>& trokgenOptions)
{
    std::vector<std::string> g{TROKGEN_PATH, "--out", name + ".pkt", "--tle", name + ".tle",
                               "--config", name + ".cfg"};
    g.insert(g.end(), trokgenOptions.begin(), trokgenOptions.end());
    ProgramResult r = RunProgram(g, dir);
    if (r.status != 0) return "trokgen: " + r.err;
    r = RunProgram({TROKPROC_PATH, "-configfile", name + ".cfg"}, dir);
    if (r.status != 0) return "trokproc: " + r.err;
    return "";
}
