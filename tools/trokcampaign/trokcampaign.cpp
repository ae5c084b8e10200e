// trokcampaign: reprocesses a whole archive of daily packet files with one
// command: plans the days, picks each day's element set, runs trokproc, the
// pair check and the exports per day, keeps a catalog of what made every
// product, checks that days continue into each other and writes a report.

#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "campaign_commands.h"
#include "toolkit/time/utcday.h"
#include "campaign_ingest.h"
#include "campaign_run.h"
#include "campaign_task.h"
#include "platform/exit_cleanup.h"
#include "platform/path_names.h"
#include "toolkit/cli/cli.h"

namespace {

const char* const kUsage =
    "usage: trokcampaign run [--archive DIR | --list FILE] --elements HISTORY --out CAMPAIGN\n"
    "                        [--config FILE] [--engine local|slurm] [-j N] [--exports] [--plots]\n"
    "                        [--max-element-age DAYS] [--timeout SECONDS] [--days-per-task N]\n"
    "                        [--redo DAY[,DAY...]] [--no-wait]\n"
    "       trokcampaign ingest --inbox DIR --elements HISTORY --out CAMPAIGN [--config FILE]\n"
    "                        [--exports] [--plots] [--max-element-age DAYS] [--final-after HOURS] [-j N]\n"
    "                        [--move]\n"
    "       trokcampaign watch (the options of ingest)\n"
    "       trokcampaign close CAMPAIGN DAY...\n"
    "       trokcampaign status CAMPAIGN [--json]\n"
    "       trokcampaign report CAMPAIGN\n"
    "       trokcampaign --help | --version\n"
    "run: processes every day of the archive (DIR/YYYY/MM/DD.pkt) or list that is\n"
    "new or out of date, each with the element set of HISTORY nearest before its\n"
    "data, checks the products, writes CAMPAIGN/catalog.sqlite and\n"
    "CAMPAIGN/report.html; on a campaign of recorder dumps, without --archive and\n"
    "--list, makes its days again from their dumps. ingest: takes the inbox's dumps\n"
    "not taken before and makes a new version of every day they touch. watch: the\n"
    "same at every arrival, until SIGTERM. close: the final version of the days.\n"
    "status: counts, the days that are not ok and what days still expect. report:\n"
    "writes the report again. Status 0: every day ok; 1: some are not; 255:\n"
    "bad arguments or a campaign that cannot be run. See trokcampaign(1).\n";

// Longest time limit of a day: 100 days (a Slurm task's limit in minutes
// stays a number Slurm takes).
constexpr double kMaxTimeout = 8640000;

// What the command line asks for.
struct Options {
    std::string command;                // run, status, report or task
    campaign::RunOptions run;           // run
    std::string campaign;               // status, report and task: the campaign folder
    bool json = false;                  // status --json
    std::vector<std::string> days;      // task, close
};

// Before the command: --help and --version, or an option of a command: say
// where it belongs.
[[noreturn]] void OptionBeforeCommand(int argc, char** argv)
{
    const std::string option = argv[1];
    toolkit::CommandLine cl(argc, argv, "trokcampaign", kUsage);
    cl.Next();
    for (const char* known : {"--archive", "--list", "--elements", "--out", "--config", "--engine", "-j", "--jobs",
                              "--exports", "--plots", "--max-element-age", "--timeout", "--days-per-task", "--redo",
                              "--no-wait"})
        if (option == known) cl.Usage(option + " is an option of run: trokcampaign run " + option + " ...");
    if (option == "--inbox" || option == "--final-after" || option == "--move")
        cl.Usage(option + " is an option of ingest and watch: trokcampaign ingest " + option + " ...");
    if (option == "--json") cl.Usage("--json is an option of status: trokcampaign status CAMPAIGN --json");
    cl.Unknown();
}

// run's options; each also into `argv` as the redo command repeats it
// (paths absolute, numbers as given).
void ParseRun(toolkit::CommandLine& cl, campaign::RunOptions& o)
{
    o.argv = {"trokcampaign", "run"};
    std::set<std::string> given;
    while (cl.Next()) {
        const std::string a = cl.Arg();
        if (cl.Operand()) cl.Usage("run takes no operand, not \"" + a + "\"");
        // One value an option: a second would silently win (--redo adds days).
        if (a != "--redo" && !given.insert(a == "--jobs" ? "-j" : a).second) cl.Usage(a + " is given twice");
        bool valued = true;
        std::string shown;   // the option's value in the redo command
        if (a == "--exports") {
            o.exports = true;
            valued = false;
        } else if (a == "--plots") {
            o.plots = true;
            valued = false;
        } else if (a == "--no-wait") {
            o.noWait = true;
            valued = false;
        } else if (a == "--archive" || a == "--list" || a == "--elements" || a == "--out" || a == "--config") {
            const std::string v = cl.Value();
            (a == "--archive" ? o.archive : a == "--list" ? o.list : a == "--elements" ? o.elements :
             a == "--out" ? o.out : o.config) = v;
            shown = platform::AbsolutePath(v);
        } else if (a == "--engine") {
            shown = o.engine = cl.OneOf({"local", "slurm"});
        } else if (a == "-j" || a == "--jobs") {
            o.jobs = static_cast<int>(cl.Whole(1, 1024, "a number of jobs from 1 to 1024"));
            shown = std::to_string(o.jobs);
        } else if (a == "--days-per-task") {
            o.daysPerTask = static_cast<int>(cl.Whole(1, 10000));
            shown = std::to_string(o.daysPerTask);
        } else if (a == "--max-element-age") {
            shown = cl.Value();
            if (!toolkit::DecimalNumber(shown, o.maxElementAge) || o.maxElementAge < 0)
                cl.BadValue(shown, "a number of days (0: no limit)");
        } else if (a == "--timeout") {
            shown = cl.Value();
            if (!toolkit::DecimalNumber(shown, o.timeout) || o.timeout <= 0 || o.timeout > kMaxTimeout)
                cl.BadValue(shown, "a number of seconds above 0, at most 8640000 (100 days)");
        } else if (a == "--redo") {
            shown = cl.Value();
            for (size_t at = 0; at <= shown.size();) {
                size_t comma = shown.find(',', at);
                if (comma == std::string::npos) comma = shown.size();
                const std::string day = shown.substr(at, comma - at);
                if (!toolkit::ValidDay(day)) cl.BadValue(day, "days YYYY-MM-DD");
                o.redo.push_back(day);
                at = comma + 1;
            }
        } else {
            cl.Unknown();
        }
        o.argv.push_back(a);
        if (valued) o.argv.push_back(shown);
    }
    // Neither: a campaign of recorder dumps made again from its dumps.
    if (!o.archive.empty() && !o.list.empty()) cl.Usage("give one of --archive DIR and --list FILE");
    if (o.archive.empty() && o.list.empty() && o.out.empty()) cl.Usage("give one of --archive DIR and --list FILE");
    if (o.elements.empty()) cl.Usage("--elements HISTORY is required");
    if (o.out.empty()) cl.Usage("--out CAMPAIGN is required");
    if (o.noWait && o.engine != "slurm") cl.Usage("--no-wait goes with --engine slurm");
}

// ingest's and watch's options, into `argv` as run's are.
void ParseIngest(toolkit::CommandLine& cl, const std::string& command, campaign::RunOptions& o)
{
    o.argv = {"trokcampaign", command};
    std::set<std::string> given;
    while (cl.Next()) {
        const std::string a = cl.Arg();
        if (cl.Operand()) cl.Usage(command + " takes no operand, not \"" + a + "\"");
        if (!given.insert(a == "--jobs" ? "-j" : a).second) cl.Usage(a + " is given twice");
        o.argv.push_back(a);
        if (a == "--exports" || a == "--plots" || a == "--move") {
            (a == "--exports" ? o.exports : a == "--plots" ? o.plots : o.move) = true;
            continue;
        }
        std::string shown;
        if (a == "--inbox" || a == "--elements" || a == "--out" || a == "--config") {
            const std::string v = cl.Value();
            (a == "--inbox" ? o.inbox : a == "--elements" ? o.elements : a == "--out" ? o.out : o.config) = v;
            shown = platform::AbsolutePath(v);
        } else if (a == "-j" || a == "--jobs") {
            o.jobs = static_cast<int>(cl.Whole(1, 1024, "a number of jobs from 1 to 1024"));
            shown = std::to_string(o.jobs);
        } else if (a == "--max-element-age" || a == "--final-after") {
            shown = cl.Value();
            double& v = a == "--final-after" ? o.finalAfter : o.maxElementAge;
            if (!toolkit::DecimalNumber(shown, v) || v < 0)
                cl.BadValue(shown, a == "--final-after" ? "a number of hours" : "a number of days (0: no limit)");
        } else {
            cl.Unknown();
        }
        o.argv.push_back(shown);
    }
    if (o.inbox.empty()) cl.Usage("--inbox DIR is required");
    if (o.elements.empty()) cl.Usage("--elements HISTORY is required");
    if (o.out.empty()) cl.Usage("--out CAMPAIGN is required");
}

// close CAMPAIGN DAY...
void ParseClose(toolkit::CommandLine& cl, Options& o)
{
    while (cl.Next()) {
        if (!cl.Operand()) cl.Unknown();
        if (o.campaign.empty()) o.campaign = cl.Arg();
        else if (!toolkit::ValidDay(cl.Arg())) cl.Usage("close takes days YYYY-MM-DD, not \"" + cl.Arg() + "\"");
        else o.days.push_back(cl.Arg());
    }
    if (o.days.empty()) cl.Usage("close needs a campaign folder and days");
}

// status CAMPAIGN [--json] and report CAMPAIGN.
void ParseFolder(toolkit::CommandLine& cl, Options& o)
{
    while (cl.Next()) {
        if (o.command == "status" && cl.Is("--json")) o.json = true;
        else if (!cl.Operand()) cl.Unknown();
        else if (o.campaign.empty()) o.campaign = cl.Arg();
        else cl.Usage("give one campaign folder");
    }
    if (o.campaign.empty()) cl.Usage(o.command + " needs a campaign folder");
}

// task CAMPAIGN DAY...: a task of days, started by the driver (under
// pgsentry) or by a Slurm array task.
void ParseTask(toolkit::CommandLine& cl, Options& o)
{
    std::vector<std::string> operands;
    while (cl.Next()) {
        if (!cl.Operand()) cl.Unknown();
        operands.push_back(cl.Arg());
    }
    if (operands.size() < 2) cl.Usage("task needs a campaign folder and days");
    o.campaign = operands[0];
    o.days.assign(operands.begin() + 1, operands.end());
}

Options ParseOptions(int argc, char** argv)
{
    if (argc < 2) {
        toolkit::SetProgramName("trokcampaign");
        toolkit::Fail("give a command: run, ingest, watch, close, status or report (see trokcampaign --help)");
    }
    Options o;
    o.command = argv[1];
    if (o.command.size() > 1 && o.command[0] == '-') OptionBeforeCommand(argc, argv);
    // The command's own arguments, walked from the one after it.
    toolkit::CommandLine cl(argc - 1, argv + 1, "trokcampaign", kUsage);
    if (o.command == "run") ParseRun(cl, o.run);
    else if (o.command == "status" || o.command == "report") ParseFolder(cl, o);
    else if (o.command == "task") ParseTask(cl, o);
    else if (o.command == "ingest" || o.command == "watch") ParseIngest(cl, o.command, o.run);
    else if (o.command == "close") ParseClose(cl, o);
    else cl.Usage("unknown command " + o.command);
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    // Temporaries of unfinished outputs go at exit and on a stopping signal.
    platform::InstallExitCleanup();
    const Options o = ParseOptions(argc, argv);
    if (o.command == "task") return campaign::RunTask(o.campaign, o.days);
    if (o.command == "status") return campaign::StatusCommand(o.campaign, o.json);
    if (o.command == "report") return campaign::ReportCommand(o.campaign);
    if (o.command == "ingest") return campaign::IngestCommand(o.run);
    if (o.command == "watch") return campaign::WatchCommand(o.run);
    if (o.command == "close") return campaign::CloseCommand(o.campaign, o.days);
    return campaign::RunCampaign(o.run);
}
