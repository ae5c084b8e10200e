#include "pipeline/programs.h"

#include "platform/child_process.h"
#include "platform/program_lookup.h"

namespace pipeline {

bool FindPrograms(bool plots, Programs& p, std::string& missing)
{
    p.trokproc = platform::FindOwnProgram("trokproc", "TROKPROC");
    p.qlrdump = platform::FindOwnProgram("qlrdump", "QLRDUMP");
    p.qlrplot = platform::FindOwnProgram("qlrplot", "QLRPLOT");
    missing = p.trokproc.empty() ? "trokproc" : p.qlrdump.empty() ? "qlrdump" :
              plots && p.qlrplot.empty() ? "qlrplot" : "";
    return missing.empty();
}

bool ProgramVersion(const std::string& path, std::string& line)
{
    std::string out;
    platform::ChildSpec launch;
    launch.argv = {path, "--version"};
    const platform::ChildEnd r = platform::RunChild(launch, &out);
    line.clear();
    for (size_t a = 0; a < out.size() && line.empty();) {
        size_t b = out.find('\n', a);
        if (b == std::string::npos) b = out.size();
        const size_t first = out.find_first_not_of(" \t\r", a);
        if (first < b) {
            const size_t last = out.find_last_not_of(" \t\r", b - 1);
            line = out.substr(first, last - first + 1);
        }
        a = b + 1;
    }
    return r.status == 0 && !line.empty();
}

} // namespace pipeline
