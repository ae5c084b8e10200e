#ifndef PLATFORM_PROGRAM_LOOKUP_H
#define PLATFORM_PROGRAM_LOOKUP_H

#include <string>

namespace platform {

// Where a program that another one runs is taken from. There is one order,
// and a lookup takes its steps in it, skipping those that do not apply:
//   1. the environment variable named for the program (TROKPROC for
//      trokproc), when set and not empty: taken as it is, so that a user
//      can point at another copy;
//   2. the folder of this program itself (/proc/self/exe): the project's
//      own programs are built and installed side by side;
//   3. each folder of PATH in turn ("/usr/local/bin:/usr/bin:/bin" when
//      PATH is not set; an empty entry is the working folder).
// In steps 2 and 3 the first regular file the user may execute is taken,
// as an absolute path. The project's own programs (FindOwnProgram) take
// all three steps; another project's (gnuplot, Slurm's commands:
// FindOnPath) only the third, the PATH the user chose. "" when none is
// found.
std::string FindOwnProgram(const std::string& name, const char* var);
std::string FindOnPath(const std::string& name);

// This program's own path, "" when /proc does not tell it.
std::string SelfPath();

} // namespace platform

#endif
