#include "run_program.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string ReadAllFd(int fd)
{
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) text.append(buf, static_cast<size_t>(n));
        else if (n == 0) break;
        else if (errno != EINTR) break;
    }
    return text;
}

// Starts `argv` in `cwd` (empty: the current one) with standard input from
// /dev/null and standard output and error on `out` and `err`.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd, int out, int err)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

} // namespace

void UseTestLeapSeconds()
{
    setenv("TROK_LEAPSECONDS", TEST_LEAPSECONDS, 1);
    setenv("TROK_LEAPSECONDS_NOW", TEST_TODAY_UNIX, 1);
}

namespace {
// Before main: the tests, and every program they start, see the test table.
const bool kTestLeapSecondsSet = (UseTestLeapSeconds(), true);
} // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd)
{
    // Output goes to temporary files so that neither pipe can fill up and block.
    char outName[] = "/tmp/trok_out_XXXXXX";
    char errName[] = "/tmp/trok_err_XXXXXX";
    int outFd = mkstemp(outName);
    int errFd = mkstemp(errName);
    if (outFd < 0 || errFd < 0) throw std::runtime_error("mkstemp failed");
    unlink(outName);
    unlink(errName);

    const pid_t pid = Spawn(argv, cwd, outFd, errFd);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    ProgramResult r;
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    lseek(outFd, 0, SEEK_SET);
    lseek(errFd, 0, SEEK_SET);
    r.out = ReadAllFd(outFd);
    r.err = ReadAllFd(errFd);
    close(outFd);
    close(errFd);
    return r;
}

int StartBlockedOnFifo(const std::vector<std::string>& argv, const std::string& cwd,
                       const std::string& fifo, int& reader)
{
    if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader < 0) throw std::runtime_error("cannot open the FIFO");
    const int capacity = fcntl(reader, F_GETPIPE_SZ);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn(argv, cwd, null, null);
    close(null);
    // The program cannot pass this point, so the pace of polling is free.
    for (;;) {
        int queued = 0;
        if (ioctl(reader, FIONREAD, &queued) == 0 && queued >= capacity) return pid;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) return -1;
        usleep(1000);
    }
}

std::string FreshTestDir()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = std::string(TEST_TMPDIR) + "/" + info->test_suite_name() + "." + info->name();
    std::string cmd = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + dir);
    return dir;
}

ReachableScratch::ReachableScratch()
{
    char name[] = "/tmp/trok-scratch-XXXXXX";
    if (mkdtemp(name) == nullptr || chmod(name, 0755) != 0)
        throw std::runtime_error("cannot make a scratch folder under /tmp");
    path = name;
}

ReachableScratch::~ReachableScratch() { RunProgram({"/bin/rm", "-rf", path}); }

std::vector<std::string> Temporaries(const std::string& dir)
{
    std::vector<std::string> found;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).find(".trokproc-tmp") != std::string::npos)
                found.push_back(e->d_name);
        closedir(d);
    }
    return found;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

unsigned FileMode(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
}
