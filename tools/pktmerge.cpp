// pktmerge: merges recorder dumps (packet files that overlap, repeat each
// other, break off and carry damaged copies) into one clean packet file of
// the telemetry, or one a UTC day, with a report of what went in, what was
// resolved and what is still missing.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/exit_cleanup.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/output.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/time/utcday.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

using namespace toolkit;

namespace {

const char* const kUsage =
    "usage: pktmerge -o OUT [--satellite NAME] [--day YYYY-MM-DD] [--json REPORT] [-q] DUMP...\n"
    "       pktmerge --by-day DIR [--satellite NAME] [--json REPORT] [-q] DUMP...\n"
    "Merges packet files (recorder dumps in any order, overlapping, repeated,\n"
    "cut, damaged) into the telemetry packets of one APID, in time order, one\n"
    "per time tag, each the bytes of one copy in one input.\n"
    "  -o OUT            write the merged packets to OUT\n"
    "  --by-day DIR      write DIR/YYYY/MM/DD.pkt for every UTC day the packets touch\n"
    "  --day YYYY-MM-DD  with -o: only the packets of that UTC day\n"
    "  --satellite NAME  the satellite as trokproc's -noradsatname takes it: PELK\n"
    "                    for 214-byte packets of APID 967, any other name (default\n"
    "                    VORN) for 126-byte packets of APID 957\n"
    "  --json REPORT     write the report (inputs, conflicts, drops, gaps) to REPORT\n"
    "  -q                no summary on standard error\n"
    "  --help, --version\n"
    "Exit status: 0 written; 1 written, but an input was refused whole; 255 bad\n"
    "arguments, nothing to merge, or output that cannot be written (then\n"
    "nothing is written).\n";

struct Options {
    std::string out, byDay, day, json, satellite = "VORN";
    bool quiet = false;
    std::vector<std::string> dumps;
};

Options ParseOptions(int argc, char** argv)
{
    Options o;
    bool haveOut = false, haveDir = false, haveJson = false;
    CommandLine cl(argc, argv, "pktmerge", kUsage);
    while (cl.Next()) {
        if (cl.Operand()) o.dumps.push_back(cl.Arg());
        else if (cl.Is("-o")) o.out = cl.Value("a file name"), haveOut = true;
        else if (cl.Is("--by-day")) o.byDay = cl.Value("a folder"), haveDir = true;
        else if (cl.Is("--json")) o.json = cl.Value("a file name"), haveJson = true;
        else if (cl.Is("--satellite")) o.satellite = cl.Value("a satellite name");
        else if (cl.Is("--day")) {
            o.day = cl.Value("a day");
            if (!ValidDay(o.day)) cl.BadValue(o.day, "a UTC day YYYY-MM-DD (1958 to 2099)");
        } else if (cl.Is("-q")) o.quiet = true;
        else cl.Unknown();
    }
    if (haveOut == haveDir) cl.Usage(haveOut ? "give -o or --by-day, not both" : "give -o OUT or --by-day DIR");
    if (haveDir && !o.day.empty()) cl.Usage("--day goes with -o only");
    if (o.dumps.empty()) cl.Usage("no dump given");
    std::vector<NamedFile> inputs, outputs;
    for (const std::string& d : o.dumps) inputs.push_back({"input file", d});
    if (haveOut) outputs.push_back({"output file", o.out});
    if (haveJson) outputs.push_back({"report file", o.json});
    RefuseClashes(inputs, outputs);
    if (haveDir && BlankName(o.byDay)) Fail("the output folder has no name (\"" + o.byDay + "\" is blank or empty)");
    return o;
}

// The outputs of a run, opened before the first is written and committed
// together once all are whole.
class Outputs
{
public:
    explicit Outputs(const Options& options) : o(options) {}

    // The stream for a day's packets (the one file with -o).
    outputstream& For(MergeDay day);
    outputstream* Report()
    {
        if (o.json.empty()) return nullptr;
        return Open({"report file", o.json});
    }
    void Commit()
    {
        std::vector<outputstream*> all;
        for (auto& s : streams) all.push_back(s.get());
        CommitOutputs(all);
    }

private:
    outputstream* Open(const NamedFile& file)
    {
        streams.emplace_back(new outputstream);
        OpenOutput(*streams.back(), file);
        return streams.back().get();
    }

    const Options& o;
    std::vector<std::unique_ptr<outputstream>> streams;
    outputstream* single = nullptr;
};

outputstream& Outputs::For(MergeDay day)
{
    if (o.byDay.empty()) {
        if (!single) single = Open({"output file", o.out});
        return *single;
    }
    // DIR/YYYY/MM/DD.pkt, every folder on the way one of the user's own.
    const std::string date = DayText(day);
    const std::string year = o.byDay + "/" + date.substr(0, 4), month = year + "/" + date.substr(5, 2);
    for (const std::string& dir : {o.byDay, year, month}) OwnFolder(dir);
    const std::string name = month + "/" + date.substr(8, 2) + ".pkt";
    std::vector<NamedFile> inputs;
    for (const std::string& d : o.dumps) inputs.push_back({"input file", d});
    std::vector<NamedFile> outputs{{"output file", name}};
    if (!o.json.empty()) outputs.push_back({"report file", o.json});
    RefuseClashes(inputs, outputs);
    return *Open({"output file", name});
}

// A day's packets, to the day's output once it has one, in large writes.
class DaySink : public MergeSink
{
public:
    DaySink(Outputs& all, MergeDay d) : outputs(all), day(d) {}
    ~DaySink() override { Flush(); }
    void Write(const char* bytes, size_t n) override
    {
        if (n >= kBlock) {
            Flush();
            Put(bytes, n);
            return;
        }
        buf.append(bytes, n);
        if (buf.size() >= kBlock) Flush();
    }
    void Flush()
    {
        Put(buf.data(), buf.size());
        buf.clear();
    }

private:
    void Put(const char* bytes, size_t n)
    {
        if (!n) return;
        if (!out) out = &outputs.For(day);
        out->write(bytes, static_cast<std::streamsize>(n));
    }


    static const size_t kBlock = 1 << 20;
    Outputs& outputs;
    MergeDay day;
    outputstream* out = nullptr;
    std::string buf;
};

} // namespace

int main(int argc, char** argv)
{
    // Temporaries of unfinished outputs go at exit and on a stopping signal.
    platform::InstallExitCleanup();
    const Options o = ParseOptions(argc, argv);
    SelectPacketLayout(o.satellite);
    MergeReport report;
    report.layout = CurrentLayout();
    report.satellite = o.satellite;
    SurveyInputs(o.dumps, report);
    for (const MergeInput& in : report.inputs)
        if (!in.refused.empty() && in.duplicateOf.empty()) Say(in.name + ": refused: " + in.refused);

    std::vector<MergeDay> days = MergeDays(report);
    if (!o.day.empty()) {
        const MergeDay wanted = DayNumber(o.day);
        const bool found = std::find(days.begin(), days.end(), wanted) != days.end();
        days.assign(found ? 1 : 0, wanted);
    }
    const std::string what = "no telemetry packets of APID " + std::to_string(report.layout.apid) + " (" +
                             std::to_string(report.layout.size) + "-byte packets)";
    if (days.empty()) Fail("nothing to merge: " + what + (o.day.empty() ? " in the inputs" : " on " + o.day));

    Outputs outputs(o);
    MergeCarry carry;
    std::string error;
    for (MergeDay day : days) {
        DaySink sink(outputs, day);
        if (!MergeOneDay(day, report, carry, sink, error)) Fail(error);
    }
    // Every copy of what there was breaks the packet rules.
    if (!report.packets) Fail("nothing to merge: " + what + " that keep the packet rules");
    if (outputstream* json = outputs.Report()) *json << MergeJson(report);
    outputs.Commit();
    if (!o.quiet) {
        std::string lines = MergeSummary(report);
        for (size_t end; (end = lines.find('\n')) != std::string::npos; lines.erase(0, end + 1))
            Say(lines.substr(0, end));
    }
    return report.Refused() ? kStatusVerdict : kStatusOk;
}
