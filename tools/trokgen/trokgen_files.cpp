// The files trokgen writes: a packet file with its element set and
// configuration, or an archive of daily files with an element-set history.
#include "trokgen_files.h"

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

#include "platform/make_dirs.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/output.h"
#include "toolkit/time/isotime.h"
#include "toolkit/time/utcday.h"
#include "trokgen_dumps.h"
#include "trokgen_elements.h"
#include "trokgen_schedule.h"
#include "trokgen_stream.h"

using namespace toolkit;

namespace trokgen {

namespace {

std::string ConfigText(const Options& o)
{
    std::string cfg;
    cfg += "-version 1.0\n-station MERV\n";
    cfg += "-packetfile " + o.out + "\n";
    cfg += "-noradfile " + (o.tle.empty() ? std::string("noTLE") : o.tle) + "\n";
    cfg += "-ephemerisfile " + o.eph + "\n";
    cfg += "-attitudefile " + o.att + "\n";
    cfg += "-noradsatname " + std::string(o.pelk ? "PELK" : o.name) + "\n";
    cfg += "-qlrsatname QORAL6\n-listconfig no\n";
    return cfg;
}

// UTC by the products' own model of an instant in TAI seconds since 1958.
std::string ModelUtcFromTai58(double tai58, int decimals)
{
    return IsoUtcFromTai93(tai58 - kTai93From1958, decimals);
}

std::string FaultText(const Options& o, const PacketStream& p)
{
    return std::to_string(p.written) + " packets (" + std::to_string(p.telemetry) +
           " telemetry of APID " + std::to_string(p.Apid()) + ", " +
           std::to_string(p.written - p.telemetry - p.otherCount) + " repeated, " +
           std::to_string(p.otherCount) + " of APID " + std::to_string(kOtherApid) + "), " +
           std::to_string(o.smallGaps) + " small and " + std::to_string(o.largeGaps) +
           " large gaps";
}

// The element-set history of an archive: a set every one to two days at
// epochs that fall anywhere in the day, none on the gap days, written in a
// shuffled order with one set twice, to `out`. Returns how many sets were
// made.
long WriteHistory(const Options& o, const OrbitSimulator& sim, std::ostream& out)
{
    Random rng(o.seed ^ 0x243F6A8885A308D3ULL);
    std::vector<std::string> sets;
    const double end = static_cast<double>(o.days * kDay);
    int number = static_cast<int>(o.elementNumber);
    for (double t = rng.Within(0.2, 0.8) * kDay; t < end; t += rng.Within(1.0, 2.0) * kDay) {
        const long day = static_cast<long>(t / kDay) + 1;
        std::vector<double> values = MeanElementSet(o, sim, t);
        Perturb(values, rng);
        if (o.tleGapDays.count(day)) continue;
        sets.push_back(ElementText(o, values, number));
        number = (number + 1) % 10000;
    }
    const long made = static_cast<long>(sets.size());
    if (!sets.empty()) sets.push_back(sets[static_cast<size_t>(rng.Between(0, made - 1))]);
    for (size_t i = sets.size(); i > 1; --i)
        std::swap(sets[i - 1], sets[static_cast<size_t>(rng.Between(0, static_cast<long>(i) - 1))]);
    for (const std::string& s : sets) out << s;
    return made;
}

// Packets of a stretch of samples, with where each telemetry packet
// starts and its sample.
struct Span {
    std::string bytes;
    std::vector<size_t> starts;
    std::vector<long> samples;
};

// The packets of samples [from, to) into `span`, and on to the dumps when
// there are any; the starts are kept for the dumps or when `starts` asks.
void NextSpan(PacketStream& packets, long from, long to, Span& span, DumpWriter* dumps, bool starts = false)
{
    span.bytes.clear();
    span.starts.clear();
    span.samples.clear();
    const bool keep = dumps || starts;
    packets.Append(from, to, span.bytes, keep ? &span.starts : nullptr, keep ? &span.samples : nullptr);
    if (dumps) dumps->Take(span.bytes, span.starts, span.samples, to);
}

} // namespace

void MakeFolders(const std::string& path, bool noLink)
{
    const platform::MadeDirs r = platform::MakeDirs(path, noLink);
    if (!r.ok) Fail("cannot make the folder \"" + r.at + "\": " + r.Reason());
}

namespace {

// The writer of the recorder dumps, their folder made, when they are asked for.
std::unique_ptr<DumpWriter> StartDumps(const Options& o, const PacketStream& packets, const Schedule& sched)
{
    if (o.dumps.empty()) return nullptr;
    MakeFolders(o.dumps);
    return std::unique_ptr<DumpWriter>(new DumpWriter(o, packets.PacketSize(), sched));
}

} // namespace

// One packet file of --seconds samples, with its element set and
// configuration when asked.
int WriteSingle(const Options& o)
{
    Random rng(o.seed);
    const Schedule sched = MakeSchedule(o, rng);
    const OrbitSimulator sim = MakeSimulator(o);
    PacketStream packets(o, sim, sched, rng);
    // Every file is opened before the first is written, and all take their
    // names together once all are whole.
    outputstream pkt, tle, cfg;
    std::vector<outputstream*> outs{&pkt};
    OpenOutput(pkt, {"packet file", o.out});
    if (!o.tle.empty()) {
        OpenOutput(tle, {"element file", o.tle});
        outs.push_back(&tle);
    }
    if (!o.config.empty()) {
        OpenOutput(cfg, {"configuration file", o.config});
        outs.push_back(&cfg);
    }
    std::unique_ptr<DumpWriter> dumps = StartDumps(o, packets, sched);
    // A day at a time: the span may be far larger than memory.
    Span chunk;
    for (long from = 0; from < o.seconds && pkt; from += kDay) {
        NextSpan(packets, from, std::min(o.seconds, from + kDay), chunk, dumps.get());
        pkt.write(chunk.bytes.data(), static_cast<std::streamsize>(chunk.bytes.size()));
    }
    if (!o.tle.empty()) {
        const std::vector<double> values =
            o.twoBody ? TwoBodyElementSet(o, sim) : MeanElementSet(o, sim, 0.0);
        tle << ElementText(o, values, static_cast<int>(o.elementNumber));
    }
    if (!o.config.empty()) cfg << ConfigText(o);
    const std::string made = dumps ? "; " + dumps->Finish() : "";
    CommitOutputs(outs);
    PrintOut("trokgen: " + o.out + ": " + FaultText(o, packets) +
             (o.timeFault ? ", one time fault" : "") + ", from " + ModelUtcFromTai58(o.start, 3) + " UTC" + made + "\n");
    FinishOutput();
    return kStatusOk;
}

// One packet file a day of one continuous orbit: DIR/YYYY/MM/DD.pkt named
// after the UTC date of the day's first packet, the days cut where the
// campaign's UTC days are.
int WriteArchive(const Options& o)
{
    Random rng(o.seed);
    const Schedule sched = MakeSchedule(o, rng);
    const OrbitSimulator sim = MakeSimulator(o);
    PacketStream packets(o, sim, sched, rng);
    Random cuts(o.seed ^ 0xA4093822299F31D0ULL);
    // The history is opened first, so that a name that cannot be written
    // stops the run before the archive is made.
    outputstream history;
    if (!o.tle.empty()) OpenOutput(history, {"element file", o.tle});
    MakeFolders(o.archive);
    std::unique_ptr<DumpWriter> dumps = StartDumps(o, packets, sched);
    Span day;
    std::string& bytes = day.bytes;
    const std::vector<size_t>& starts = day.starts;
    for (long d = 0; d < o.days; ++d) {
        // The dumps hold what the spacecraft recorded, whole.
        NextSpan(packets, o.dayStarts[static_cast<size_t>(d)], o.dayStarts[static_cast<size_t>(d) + 1], day,
                 dumps.get(), true);
        if (o.cutDays.count(d + 1) && !starts.empty()) {
            // Broken off inside a packet, somewhere in the second half of the day.
            const size_t at = starts[static_cast<size_t>(
                cuts.Between(static_cast<long>(starts.size() / 2), static_cast<long>(starts.size()) - 1))];
            bytes.resize(at + packets.PacketSize() / 2);
        }
        // Named by the UTC day (the campaign's) of the file's first sample.
        const std::string date = DayText(UtcDayOfTai93(
            o.start - kTai93From1958 + static_cast<double>(o.dayStarts[static_cast<size_t>(d)])));
        const std::string year = o.archive + "/" + date.substr(0, 4);
        const std::string month = year + "/" + date.substr(5, 2);
        MakeFolders(year, true);
        MakeFolders(month, true);
        const std::string name = month + "/" + date.substr(8, 2) + ".pkt";
        if (!o.tle.empty() && SameFile(name, o.tle))
            Fail("packet file \"" + name + "\" and element file \"" + o.tle + "\" are the same file");
        outputstream file;
        OpenOutput(file, {"packet file", name});
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        CommitOutputs({&file});
    }
    std::string line = "trokgen: " + o.archive + ": " + std::to_string(o.days) + " days from " +
                       ModelUtcFromTai58(o.start, 3) + " UTC, " + FaultText(o, packets);
    auto counted = [](size_t n, const char* one, const char* many) {
        return ", " + std::to_string(n) + " " + (n == 1 ? one : many);
    };
    if (!sched.timeFaults.empty()) line += counted(sched.timeFaults.size(), "time fault", "time faults");
    if (!sched.flipped.empty()) line += counted(sched.flipped.size(), "flipped bit", "flipped bits");
    if (!o.cutDays.empty()) line += counted(o.cutDays.size(), "day cut short", "days cut short");
    if (!o.tle.empty()) {
        line += "; " + std::to_string(WriteHistory(o, sim, history)) +
                " element sets (one of them twice) in " + o.tle;
        CommitOutputs({&history});
    }
    if (dumps) line += "; " + dumps->Finish();
    PrintOut(line + "\n");
    FinishOutput();
    return kStatusOk;
}

} // namespace trokgen
