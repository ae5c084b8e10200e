#ifndef PIPELINE_PROGRAMS_H
#define PIPELINE_PROGRAMS_H

#include <string>

// The programs a packet file's job runs.
namespace pipeline {

struct Programs {
    std::string trokproc, qlrdump;
    std::string qlrplot;   // "" when no plots are wanted and it is not found
};

// The programs in the platform's one lookup order (platform/program_lookup.h:
// TROKPROC, QLRDUMP and QLRPLOT when set, else beside this program, else on
// PATH). False with the name of the first one missing in `missing` (qlrplot
// counts only when `plots`).
bool FindPrograms(bool plots, Programs& programs, std::string& missing);

// The first line a program prints for --version ("trokproc 1.1.0"); false
// when it prints none or fails.
bool ProgramVersion(const std::string& path, std::string& line);

} // namespace pipeline

#endif
