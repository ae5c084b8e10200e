// trokcampaign: reprocesses a whole archive of daily packet files with one
// command: plans the days, picks each day's element set, runs trokproc, the
// pair check and the exports per day, keeps a catalog of what made every
// product, checks that days continue into each other and writes a report.

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "campaign_report.h"
#include "campaign_run.h"
#include "campaign_task.h"
#include "campaign_util.h"
#include "vn_version.h"

namespace {

const char* const kUsage =
    "usage: trokcampaign run (--archive DIR | --list FILE) --elements HISTORY --out CAMPAIGN\n"
    "                        [--config FILE] [--engine local|slurm] [-j N] [--exports] [--plots]\n"
    "                        [--max-element-age DAYS] [--timeout SECONDS] [--days-per-task N]\n"
    "                        [--redo DAY[,DAY...]] [--no-wait]\n"
    "       trokcampaign status CAMPAIGN [--json]\n"
    "       trokcampaign report CAMPAIGN\n"
    "       trokcampaign --help | --version\n"
    "run: processes every day of the archive (DIR/YYYY/MM/DD.pkt) or list that is\n"
    "new or out of date, each with the element set of HISTORY nearest before its\n"
    "data, checks the products, writes CAMPAIGN/catalog.sqlite and\n"
    "CAMPAIGN/report.html. status: counts and the days that are not ok. report:\n"
    "writes the report again. Status 0: every day ok; 1: some are not; 255:\n"
    "bad arguments or a campaign that cannot be run. See trokcampaign(1).\n";

// A bad command line: one line on standard error, status 255.
int Usage(const std::string& message)
{
    std::cerr << "trokcampaign: " << message << " (trokcampaign --help shows the usage)" << std::endl;
    return 255;
}

bool Number(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(out);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "--version")) {
        std::cout << (args[0] == "--version" ? "trokcampaign " TROK_VERSION "\n" : kUsage) << std::flush;
        return std::cout ? 0 : 255;
    }
    if (args.empty()) return Usage("give a command: run, status or report");
    const std::string command = args[0];
    if (command.size() > 1 && command[0] == '-') {
        // An option before the command: say where it belongs.
        for (const char* known : {"--archive", "--list", "--elements", "--out", "--config", "--engine", "-j",
                                  "--jobs", "--exports", "--plots", "--max-element-age", "--timeout",
                                  "--days-per-task", "--redo", "--no-wait"})
            if (command == known) return Usage(command + " is an option of run: trokcampaign run " + command + " ...");
        if (command == "--json") return Usage("--json is an option of status: trokcampaign status CAMPAIGN --json");
        return Usage("unknown option " + command);
    }

    if (command == "task") {
        // The day's task, started by the driver under pgsentry.
        if (args.size() < 3) return Usage("task needs a campaign folder and days");
        return campaign::RunTask(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (command == "status" || command == "report") {
        std::string dir;
        bool json = false;
        for (size_t i = 1; i < args.size(); ++i) {
            if (command == "status" && args[i] == "--json") json = true;
            else if (args[i].size() > 1 && args[i][0] == '-') return Usage("unknown option " + args[i]);
            else if (dir.empty()) dir = args[i];
            else return Usage("give one campaign folder");
        }
        if (dir.empty()) return Usage(command + " needs a campaign folder");
        return command == "status" ? campaign::StatusCommand(dir, json) : campaign::ReportCommand(dir);
    }
    if (command != "run") return Usage("unknown command " + command);

    campaign::RunOptions o;
    o.argv.push_back("trokcampaign");
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--exports") o.exports = true;
        else if (a == "--plots") o.plots = true;
        else if (a == "--no-wait") o.noWait = true;
        else if (a == "--archive" || a == "--list" || a == "--elements" || a == "--out" || a == "--config" ||
                 a == "--engine" || a == "-j" || a == "--jobs" || a == "--max-element-age" || a == "--timeout" ||
                 a == "--days-per-task" || a == "--redo") {
            if (!value(v)) return Usage("option " + a + " needs a value");
            if (a == "--archive") o.archive = v;
            else if (a == "--list") o.list = v;
            else if (a == "--elements") o.elements = v;
            else if (a == "--out") o.out = v;
            else if (a == "--config") o.config = v;
            else if (a == "--engine") {
                if (v != "local" && v != "slurm") return Usage("--engine takes local or slurm, not \"" + v + "\"");
                o.engine = v;
            } else if (a == "-j" || a == "--jobs") {
                double n = 0;
                if (!Number(v, n) || n < 1 || n > 1024 || n != std::floor(n))
                    return Usage("-j takes a number of jobs from 1 to 1024, not \"" + v + "\"");
                o.jobs = static_cast<int>(n);
            } else if (a == "--days-per-task") {
                double n = 0;
                if (!Number(v, n) || n < 1 || n > 10000 || n != std::floor(n))
                    return Usage("--days-per-task takes a whole number from 1 to 10000, not \"" + v + "\"");
                o.daysPerTask = static_cast<int>(n);
            } else if (a == "--max-element-age") {
                if (!Number(v, o.maxElementAge) || o.maxElementAge < 0)
                    return Usage("--max-element-age takes a number of days (0: no limit), not \"" + v + "\"");
            } else if (a == "--timeout") {
                if (!Number(v, o.timeout) || o.timeout <= 0)
                    return Usage("--timeout takes a number of seconds above 0, not \"" + v + "\"");
            } else {
                for (size_t at = 0; at <= v.size();) {
                    size_t comma = v.find(',', at);
                    if (comma == std::string::npos) comma = v.size();
                    const std::string day = v.substr(at, comma - at);
                    if (!campaign::ValidDay(day)) return Usage("--redo takes days YYYY-MM-DD, not \"" + day + "\"");
                    o.redo.push_back(day);
                    at = comma + 1;
                }
            }
            o.argv.push_back(a);
            o.argv.push_back(a == "--archive" || a == "--list" || a == "--elements" || a == "--out" ||
                                     a == "--config"
                                 ? campaign::AbsolutePath(v)
                                 : v);
            continue;
        } else return Usage("unknown option " + a);
        o.argv.push_back(a);
    }
    if (o.archive.empty() == o.list.empty()) return Usage("give one of --archive DIR and --list FILE");
    if (o.elements.empty()) return Usage("--elements HISTORY is required");
    if (o.out.empty()) return Usage("--out CAMPAIGN is required");
    return campaign::RunCampaign(o);
}
