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
#include "toolkit_cli.h"

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

bool Number(const std::string& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        toolkit::SetProgramName("trokcampaign");
        toolkit::Fail("give a command: run, status or report (see trokcampaign --help)");
    }
    const std::string command = argv[1];
    if (command.size() > 1 && command[0] == '-') {
        // --help and --version, or an option before the command: say where it belongs.
        toolkit::CommandLine cl(argc, argv, "trokcampaign", kUsage);
        cl.Next();
        for (const char* known : {"--archive", "--list", "--elements", "--out", "--config", "--engine", "-j",
                                  "--jobs", "--exports", "--plots", "--max-element-age", "--timeout",
                                  "--days-per-task", "--redo", "--no-wait"})
            if (command == known) cl.Usage(command + " is an option of run: trokcampaign run " + command + " ...");
        if (command == "--json") cl.Usage("--json is an option of status: trokcampaign status CAMPAIGN --json");
        cl.Unknown();
    }
    // The command's own arguments, walked from the one after it.
    toolkit::CommandLine cl(argc - 1, argv + 1, "trokcampaign", kUsage);

    if (command == "task") {
        // A task of days, started by the driver (under pgsentry) or by a
        // Slurm array task.
        std::vector<std::string> operands;
        while (cl.Next()) {
            if (!cl.Operand()) cl.Unknown();
            operands.push_back(cl.Arg());
        }
        if (operands.size() < 2) cl.Usage("task needs a campaign folder and days");
        return campaign::RunTask(operands[0], std::vector<std::string>(operands.begin() + 1, operands.end()));
    }
    if (command == "status" || command == "report") {
        std::string dir;
        bool json = false;
        while (cl.Next()) {
            if (command == "status" && cl.Is("--json")) json = true;
            else if (!cl.Operand()) cl.Unknown();
            else if (dir.empty()) dir = cl.Arg();
            else cl.Usage("give one campaign folder");
        }
        if (dir.empty()) cl.Usage(command + " needs a campaign folder");
        return command == "status" ? campaign::StatusCommand(dir, json) : campaign::ReportCommand(dir);
    }
    if (command != "run") cl.Usage("unknown command " + command);

    campaign::RunOptions o;
    o.argv.push_back("trokcampaign");
    o.argv.push_back("run");
    while (cl.Next()) {
        const std::string a = cl.Arg();
        if (cl.Operand()) cl.Usage("run takes no operand, not \"" + a + "\"");
        if (a == "--exports") o.exports = true;
        else if (a == "--plots") o.plots = true;
        else if (a == "--no-wait") o.noWait = true;
        else if (a == "--archive" || a == "--list" || a == "--elements" || a == "--out" || a == "--config") {
            const std::string v = cl.Value();
            (a == "--archive" ? o.archive : a == "--list" ? o.list : a == "--elements" ? o.elements :
             a == "--out" ? o.out : o.config) = v;
            o.argv.push_back(a);
            o.argv.push_back(campaign::AbsolutePath(v));
            continue;
        } else if (a == "--engine") {
            o.engine = cl.OneOf({"local", "slurm"});
            o.argv.push_back(a);
            o.argv.push_back(o.engine);
            continue;
        } else if (a == "-j" || a == "--jobs") {
            o.jobs = static_cast<int>(cl.Whole(1, 1024, "a number of jobs from 1 to 1024"));
            o.argv.push_back(a);
            o.argv.push_back(std::to_string(o.jobs));
            continue;
        } else if (a == "--days-per-task") {
            o.daysPerTask = static_cast<int>(cl.Whole(1, 10000));
            o.argv.push_back(a);
            o.argv.push_back(std::to_string(o.daysPerTask));
            continue;
        } else if (a == "--max-element-age") {
            const std::string v = cl.Value();
            if (!Number(v, o.maxElementAge) || o.maxElementAge < 0)
                cl.BadValue(v, "a number of days (0: no limit)");
            o.argv.push_back(a);
            o.argv.push_back(v);
            continue;
        } else if (a == "--timeout") {
            const std::string v = cl.Value();
            if (!Number(v, o.timeout) || o.timeout <= 0) cl.BadValue(v, "a number of seconds above 0");
            o.argv.push_back(a);
            o.argv.push_back(v);
            continue;
        } else if (a == "--redo") {
            const std::string v = cl.Value();
            for (size_t at = 0; at <= v.size();) {
                size_t comma = v.find(',', at);
                if (comma == std::string::npos) comma = v.size();
                const std::string day = v.substr(at, comma - at);
                if (!campaign::ValidDay(day)) cl.BadValue(day, "days YYYY-MM-DD");
                o.redo.push_back(day);
                at = comma + 1;
            }
            o.argv.push_back(a);
            o.argv.push_back(v);
            continue;
        } else {
            cl.Unknown();
        }
        o.argv.push_back(a);
    }
    if (o.archive.empty() == o.list.empty()) cl.Usage("give one of --archive DIR and --list FILE");
    if (o.elements.empty()) cl.Usage("--elements HISTORY is required");
    if (o.out.empty()) cl.Usage("--out CAMPAIGN is required");
    if (o.noWait && o.engine != "slurm") cl.Usage("--no-wait goes with --engine slurm");
    return campaign::RunCampaign(o);
}
