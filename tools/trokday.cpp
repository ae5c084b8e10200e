// trokday: one packet file's job. trokproc on the packet file, the check of
// the pair, optionally the exports and the quicklook page, a record of what
// made the products and one line in a run log. jobs/trokjob runs it under
// pgsentry, with its own name in the messages.

#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "pipeline/day_job.h"
#include "pipeline/product_names.h"
#include "pipeline/time_limit.h"
#include "platform/append_file.h"
#include "platform/exit_cleanup.h"
#include "toolkit/cli/cli.h"
#include "vn_version.h"

namespace {

using pipeline::kJobOk;
using pipeline::kJobUsage;

std::string Usage(const std::string& name)
{
    const std::string indent(7 + name.size() + 1, ' ');
    return "usage: " + name + " [--config FILE] [--runlog FILE] [--name NAME] [--skip-done] [--max-element-age DAYS]\n" +
           indent + "[--time-limit SECONDS] [--exports] [--plots] PACKETFILE ELEMENTFILE OUTDIR\n       " + name +
           " --check-list LISTFILE\n       " + name + " --check-log FILE";
}

struct Options {
    pipeline::JobRequest job;
    std::string checkList, checkLog;
    std::vector<std::string> operands;
};

// The usage on standard error, after `message` when there is one.
[[noreturn]] void UsageError(const std::string& message = "")
{
    if (!message.empty()) toolkit::Say(message);
    toolkit::Say(Usage(toolkit::ProgramName()));
    std::exit(kJobUsage);
}

[[noreturn]] void Refuse(const std::string& message)
{
    toolkit::Say(message);
    std::exit(kJobUsage);
}

// The value of an option that takes one, checked where it has a form.
void TakeValue(const std::string& option, const std::string& value, Options& o)
{
    if (option == "--config") o.job.config = value;
    else if (option == "--runlog") o.job.runlog = value;
    else if (option == "--name") o.job.name = value;
    else if (option == "--check-list") o.checkList = value;
    else if (option == "--check-log") o.checkLog = value;
    else if (option == "--job-name") toolkit::SetProgramName(value);
    else if (option == "--max-element-age") {
        if (!std::regex_match(value, std::regex("[0-9]+([.][0-9]+)?")))
            Refuse("--max-element-age: not a number of days: " + value);
        o.job.maxElementAge = value;
    } else {   // --time-limit
        if (!std::regex_match(value, std::regex("[0-9]{1,9}")) || std::stol(value) == 0)
            Refuse("--time-limit: not a whole number of seconds: " + value);
        o.job.timeLimit = static_cast<double>(std::stol(value));
    }
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--config" || a == "--runlog" || a == "--name" || a == "--max-element-age" || a == "--time-limit" ||
            a == "--check-list" || a == "--check-log" || a == "--job-name") {
            if (i + 1 >= argc) UsageError(a + " needs a value");
            TakeValue(a, argv[++i], o);
        } else if (a == "--skip-done") o.job.skipDone = true;
        else if (a == "--exports") o.job.exports = true;
        else if (a == "--plots") o.job.plots = true;
        else if (a == "--help") {
            toolkit::PrintOut(Usage(toolkit::ProgramName()) + "\n");
            toolkit::FinishOutput();
            std::exit(kJobOk);
        } else if (a == "--version") {
            toolkit::PrintOut(toolkit::ProgramName() + " " TROK_VERSION "\n");
            toolkit::FinishOutput();
            std::exit(kJobOk);
        } else if (a == "--") {
            ++i;
            break;
        } else if (!a.empty() && a[0] == '-') UsageError("unknown option " + a);
        else break;
    }
    o.operands.assign(argv + i, argv + argc);
    return o;
}

// PACKETFILE ELEMENTFILE OUTDIR, each a name that products can be made with.
void CheckOperands(Options& o)
{
    if (o.operands.size() != 3) UsageError();
    pipeline::JobRequest& j = o.job;
    j.packet = o.operands[0];
    j.elements = o.operands[1];
    j.outdir = o.operands[2];
    if (j.packet.empty()) Refuse("empty packet file name");
    if (!j.name.empty() && !pipeline::PlainProductName(j.name))
        Refuse(j.packet + ": --name takes a plain file name not starting with '.', not " + j.name);
    if ((j.name.empty() ? pipeline::ProductName(j.packet) : j.name).empty())
        Refuse(j.packet + ": no product name can be made from this name");
    if (j.elements.empty()) Refuse(j.packet + ": empty element file name");
    if (j.outdir.empty()) Refuse(j.packet + ": empty output folder name");
    if (j.config.empty()) Refuse(j.packet + ": empty configuration file name");
}

} // namespace

int main(int argc, char** argv)
{
    const double started = pipeline::Now();
    platform::InstallExitCleanup();
    toolkit::SetProgramName("trokday");
    Options o = ParseOptions(argc, argv);
    if (!o.checkList.empty() || !o.checkLog.empty()) {
        if (!o.operands.empty()) UsageError();
        std::vector<std::string> messages;
        std::string why;
        bool refused = false;
        if (!o.checkList.empty()) pipeline::CheckList(o.checkList, messages);
        if (!o.checkLog.empty() && !platform::MayAppend(o.checkLog, why, refused))
            messages.push_back(o.checkLog + ": " + why);
        for (const std::string& m : messages) toolkit::Say(m);
        return messages.empty() ? kJobOk : kJobUsage;
    }
    CheckOperands(o);
    return pipeline::RunJob(o.job, started);
}
