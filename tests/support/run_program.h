#ifndef TESTS_RUN_PROGRAM_H
#define TESTS_RUN_PROGRAM_H

#include <string>
#include <vector>

// What a finished program left behind.
struct ProgramResult {
    int status = -1;      // exit status, or -1 when ended by a signal
    int signal = 0;       // the signal that ended it, or 0
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs `argv` (argv[0] is the program path, taken as is) in directory `cwd`
// (empty: the current one) with standard input from /dev/null, and collects
// both output streams whole.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "");

// A program stopped at a known point: `argv` started in `cwd` (standard
// streams on /dev/null) after a FIFO was made at `fifo` and opened for
// reading; returns once the program has filled the pipe and so can go no
// further until someone reads. `reader` is the read end, for the caller to
// close. Returns the pid, or -1 when the program ended first.
int StartBlockedOnFifo(const std::vector<std::string>& argv, const std::string& cwd,
                       const std::string& fifo, int& reader);

// A fresh empty directory under the build's test area, named after the
// running test.
std::string FreshTestDir();

// Every test runs with the leap-second table committed beside the tests
// (TROK_LEAPSECONDS = TEST_LEAPSECONDS) and a fixed "today" within its
// validity (TROK_LEAPSECONDS_NOW = TEST_TODAY_UNIX), both set by the build
// and put in place before the first test starts: no test sees the machine's
// table or depends on the date. A test that changes either puts them back
// with this.
void UseTestLeapSeconds();

// A fresh empty directory that every user can reach (under /tmp, mode
// 0755, removed with its contents when the object goes), for tests that play
// another user: the build's test area may lie under a folder only its owner
// can enter (/root, a 0700 home, a mktemp -d).
class ReachableScratch
{
public:
    ReachableScratch();
    const std::string& Path() const { return path; }
    ~ReachableScratch();
    ReachableScratch(const ReachableScratch&) = delete;
    ReachableScratch& operator=(const ReachableScratch&) = delete;

private:
    std::string path;
};

// The temporary files (".<name>.<pid>.<random>.trokproc-tmp") in `dir`.
std::vector<std::string> Temporaries(const std::string& dir);

// Whole-file helpers for end-to-end tests.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// The permission bits (07777) of `path` itself, a link's own if it is one;
// 0 when there is nothing there.
unsigned FileMode(const std::string& path);

#endif
