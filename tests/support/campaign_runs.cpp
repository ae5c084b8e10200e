#include "campaign_runs.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "campaign_catalog.h"
#include "run_program.h"

std::map<std::string, campaign::DayRecord> CatalogDays(const std::string& campaignDir)
{
    campaign::Catalog catalog;
    std::map<std::string, campaign::DayRecord> days;
    std::string error;
    EXPECT_TRUE(catalog.Open(campaignDir + "/catalog.sqlite", campaign::CatalogAccess::ReadOnly, error)) << error;
    EXPECT_TRUE(catalog.LoadDays(days, error)) << error;
    return days;
}

namespace {

std::string* digest = nullptr;
size_t rootLength = 0;

int Entry(const char* path, const struct stat* st, int type, struct FTW*)
{
    std::string& d = *digest;
    d += std::string(path).substr(rootLength) + " " + std::to_string(type) + " " + std::to_string(st->st_uid) + " " +
         std::to_string(st->st_mode) + " ";
    if (type == FTW_SL) {
        char to[PATH_MAX];
        const ssize_t n = readlink(path, to, sizeof to);
        d += std::string(to, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISREG(st->st_mode)) {
        d += ReadFile(path);
    }
    d += "\n";
    return 0;
}

} // namespace

std::string TreeDigest(const std::string& dir)
{
    std::string d;
    digest = &d;
    rootLength = dir.size();
    if (nftw(dir.c_str(), Entry, 16, FTW_PHYS) != 0) return "";
    return d;
}

pid_t StartInBackground(const std::vector<std::string>& argv,
                        const std::vector<std::pair<std::string, std::string>>& env, const std::string& errPath)
{
    const pid_t pid = fork();
    if (pid != 0) return pid;
    for (const auto& e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
    const int null = open("/dev/null", O_RDWR);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int Reap(pid_t pid)
{
    int ws = 0;
    if (waitpid(pid, &ws, 0) != pid) return -1;
    return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

bool WaitFor(const std::function<bool()>& ready, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string TaskKillingTrokproc(const std::string& dir)
{
    const std::string path = dir + "/killing-trokproc";
    WriteFile(path, std::string("#!/bin/sh\n[ \"$1\" = --version ] && exec '") + TROKPROC_PATH +
                        "' --version\nkill -KILL $PPID\nsleep 30\n");
    chmod(path.c_str(), 0755);
    return path;
}
