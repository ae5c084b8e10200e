// trokgen's command line.
#include "trokgen_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "toolkit/cli/cli.h"
#include "toolkit/cli/output.h"
#include "toolkit/cli/text.h"
#include "toolkit/numbering/tle.h"
#include "toolkit/time/isotime.h"
#include "trokgen_days.h"

using namespace toolkit;

namespace trokgen {

namespace {

const char* const kUsage =
    "usage: trokgen --out FILE [options]\n"
    "       trokgen --archive DIR --days N [options]\n"
    "       trokgen --help | --version\n"
    "  --out FILE            packet file to write\n"
    "  --tle FILE            also write a two-line element file (with --archive:\n"
    "                        a history of element sets)\n"
    "  --config FILE         also write a trokproc configuration file\n"
    "  --eph FILE, --att FILE  product names put into the configuration\n"
    "                        (default: the packet file's name with .eph/.att)\n"
    "  --seconds N           span in seconds, one sample a second (default 18000)\n"
    "  --start T             first sample: TAI seconds since 1958, or a UTC date\n"
    "                        YYYY-MM-DD[Thh:mm[:ss[.fff]]][Z] (default 2026-06-01)\n"
    "  --seed N              random seed for jitter and faults (default 1)\n"
    "  --jitter MS           timing jitter, +- milliseconds (default 20)\n"
    "  --small-gaps N        N gaps of 1 to 40 missing packets\n"
    "  --large-gaps N        N gaps of 90 to 900 missing packets\n"
    "  --repeats N           N packets sent twice in a row\n"
    "  --other-apid N        N packets of another application (APID 1010)\n"
    "  --time-fault          one packet whose time does not increase\n"
    "  --pelk                214-byte packets of APID 967, satellite PELK\n"
    "  --name NAME           satellite name in the element file\n"
    "  --designator ID       international designator in the element set\n"
    "                        (default: the epoch's year, launch 001, piece A)\n"
    "  --element-number N    element set number (default 999)\n"
    "  orbit at the start time (degrees and kilometres):\n"
    "  --altitude KM (700)  --ecc E (0.0012)  --incl DEG (98.2)  --raan DEG (120)\n"
    "  --argp DEG (90)  --mean-anomaly DEG (0)  --rev N (10000)  --catalog N (43210)\n"
    "  --two-body            a fixed Kepler ellipse instead of the drifting one\n"
    "  --wobble F            scale of the attitude wobble (default 1, 0: none)\n"
    "  --wobble-deg Y,R,P    wobble amplitudes about z, x, y in degrees (0.25,0.15,0.2)\n"
    "archive (files DIR/YYYY/MM/DD.pkt, one a day; DAYS lists days 1 to N, e.g. 3,5-7):\n"
    "  --archive DIR         write the archive into DIR\n"
    "  --days N              number of days\n"
    "  --time-fault-days DAYS  one packet whose time does not increase on each\n"
    "  --flip-days DAYS      one flipped bit in one packet's position on each\n"
    "  --cut-days DAYS       each of these files ends partway, inside a packet\n"
    "  --tle-gap-days DAYS   no element set has its epoch on these days\n"
    "recorder dumps (with --out or --archive, which get the clean span):\n"
    "  --dumps DIR           the span as a ground station receives it: dumps of\n"
    "                        8 to 15 contacts a day over several stations, named\n"
    "                        by station and contact time, overlapping by minutes,\n"
    "                        one contact missed, one transfer cut inside a packet,\n"
    "                        one dump resent under another name, one late, copies\n"
    "                        damaged in one dump only, packets of other APIDs;\n"
    "                        DIR/arrival.txt lists them in their arrival order and\n"
    "                        DIR/faults.txt what was done to them\n";

// A count: a whole number from lo to hi, written as any number ("1e3" and
// "600.0" too, as scripts may compute them).
long Count(CommandLine& cl, double lo, double hi)
{
    const std::string text = cl.Value();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(v >= lo && v <= hi) || v != std::floor(v))
        cl.BadValue(text, "a whole number from " + FixedText(lo, 0) + " to " + FixedText(hi, 0));
    return static_cast<long>(v);
}

// A list of days such as "3,5-7": each a whole number from 1 on.
std::set<long> DayList(CommandLine& cl)
{
    const std::string text = cl.Value("a list of days");
    const std::string what = "a list of days such as 3,5-7 (days 1 to 100000)";
    auto day = [&](const std::string& item) {
        char* end = nullptr;
        errno = 0;
        const long d = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || errno != 0 || d < 1 || d > 100000) cl.BadValue(text, what);
        return d;
    };
    std::set<long> days;
    size_t from = 0;
    while (from <= text.size()) {
        size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(from, comma - from);
        const size_t dash = item.find('-');
        const long first = day(item.substr(0, dash));
        const long last = dash == std::string::npos ? first : day(item.substr(dash + 1));
        if (last < first) cl.BadValue(text, what);
        for (long d = first; d <= last; ++d) days.insert(d);
        from = comma + 1;
    }
    return days;
}

// The files written and the span: true when `cl` is one of them.
bool FileOption(CommandLine& cl, Options& o, bool& seconds)
{
    if (cl.Is("--out")) o.out = cl.Value("a file name");
    else if (cl.Is("--tle")) o.tle = cl.Value("a file name");
    else if (cl.Is("--config")) o.config = cl.Value("a file name");
    else if (cl.Is("--eph")) o.eph = cl.Value("a file name");
    else if (cl.Is("--att")) o.att = cl.Value("a file name");
    else if (cl.Is("--name")) o.name = cl.Value();
    else if (cl.Is("--archive")) o.archive = cl.Value("a folder");
    else if (cl.Is("--dumps")) o.dumps = cl.Value("a folder");
    else if (cl.Is("--days")) o.days = Count(cl, 1, 100000);
    else if (cl.Is("--time-fault-days")) o.timeFaultDays = DayList(cl);
    else if (cl.Is("--flip-days")) o.flipDays = DayList(cl);
    else if (cl.Is("--cut-days")) o.cutDays = DayList(cl);
    else if (cl.Is("--tle-gap-days")) o.tleGapDays = DayList(cl);
    else if (cl.Is("--seconds")) {
        o.seconds = Count(cl, 2, 500.0 * 86400);
        seconds = true;
    } else return false;
    return true;
}

// Three amplitudes Y,R,P in degrees.
void WobbleDegrees(CommandLine& cl, Options& o)
{
    const std::string v = cl.Value("three amplitudes");
    const std::string what = "three amplitudes Y,R,P from 0 to 90 degrees";
    size_t from = 0;
    for (int j = 0; j < 3; ++j) {
        const size_t comma = j < 2 ? v.find(',', from) : v.size();
        if (comma == std::string::npos) cl.BadValue(v, what);
        const std::string item = v.substr(from, comma - from);
        char* end = nullptr;
        const double deg = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !(deg >= 0.0 && deg <= 90.0)) cl.BadValue(v, what);
        o.wobbleDeg[j] = deg;
        from = comma + 1;
    }
}

// The first sample: TAI seconds since 1958 or a UTC date.
double StartTime(CommandLine& cl)
{
    const std::string v = cl.Value("a time");
    CalendarTime t;
    char* end = nullptr;
    const double tai = std::strtod(v.c_str(), &end);
    if (ParseIsoTime(v, t)) return Tai58FromUtc(t);
    if (!v.empty() && *end == '\0' && tai >= 0.0 && tai <= 4.0e9) return tai;
    cl.BadValue(v, "TAI seconds since 1958 (0 to 4e9) or a UTC date YYYY-MM-DD[Thh:mm[:ss[.fff]]][Z]");
}

// The simulated spacecraft, its orbit and its faults: true when `cl` is one
// of them.
bool SimulationOption(CommandLine& cl, Options& o)
{
    if (cl.Is("--time-fault")) o.timeFault = true;
    else if (cl.Is("--pelk")) o.pelk = true;
    else if (cl.Is("--two-body")) o.twoBody = true;
    else if (cl.Is("--designator")) {
        o.designator = cl.Value();
        if (!ValidDesignator(o.designator))
            cl.BadValue(o.designator, "an international designator such as 26001A (two digits "
                                      "of the launch year, three of the launch, one to three "
                                      "capital letters)");
    } else if (cl.Is("--element-number")) o.elementNumber = Count(cl, 0, 9999);
    else if (cl.Is("--seed")) o.seed = static_cast<uint64_t>(Count(cl, 0, 1e15));
    else if (cl.Is("--jitter")) o.jitterMs = cl.Number(0.0, 100.0);
    else if (cl.Is("--small-gaps")) o.smallGaps = Count(cl, 0, 100000);
    else if (cl.Is("--large-gaps")) o.largeGaps = Count(cl, 0, 100000);
    else if (cl.Is("--repeats")) o.repeats = Count(cl, 0, 1000000);
    else if (cl.Is("--other-apid")) o.otherApid = Count(cl, 0, 10000000);
    else if (cl.Is("--altitude")) o.altitudeKm = cl.Number(150.0, 40000.0);
    else if (cl.Is("--ecc")) o.ecc = cl.Number(0.0, 0.5);
    else if (cl.Is("--incl")) o.inclDeg = cl.Number(0.0, 180.0);
    else if (cl.Is("--raan")) o.raanDeg = cl.Number(0.0, 360.0);
    else if (cl.Is("--argp")) o.argpDeg = cl.Number(0.0, 360.0);
    else if (cl.Is("--mean-anomaly")) o.meanAnomalyDeg = cl.Number(0.0, 360.0);
    else if (cl.Is("--wobble")) o.wobble = cl.Number(0.0, 100.0);
    else if (cl.Is("--wobble-deg")) WobbleDegrees(cl, o);
    else if (cl.Is("--rev")) o.rev = Count(cl, 0, 99999);
    else if (cl.Is("--catalog")) o.catalog = Count(cl, 1, 99999);
    else if (cl.Is("--start")) o.start = StartTime(cl);
    else return false;
    return true;
}

// The options that go together, and what follows from them.
void Complete(CommandLine& cl, Options& o, bool seconds)
{
    if (o.archive.empty()) {
        if (o.out.empty()) cl.Usage("no packet file: give --out FILE or --archive DIR");
        if (o.days || !o.timeFaultDays.empty() || !o.flipDays.empty() || !o.cutDays.empty() ||
            !o.tleGapDays.empty())
            cl.Usage("--days and the day lists go with --archive only");
    } else {
        if (!o.out.empty() || !o.config.empty() || !o.eph.empty() || !o.att.empty() || seconds)
            cl.Usage("--out, --config, --eph, --att and --seconds do not go with --archive");
        if (!o.days) cl.Usage("--archive needs --days N");
        for (const std::set<long>* list : {&o.timeFaultDays, &o.flipDays, &o.cutDays, &o.tleGapDays})
            if (!list->empty() && *list->rbegin() > o.days)
                Fail("day " + std::to_string(*list->rbegin()) + " lies beyond the " +
                     std::to_string(o.days) + " days of the archive");
    }
    if (o.start < 0) {
        CalendarTime t;
        ParseIsoTime("2026-06-01T00:00:00Z", t);
        o.start = Tai58FromUtc(t);
    }
    if (!o.archive.empty()) {
        o.dayStarts = ArchiveDayStarts(o);
        o.seconds = o.dayStarts.back();
    }
    if (o.name.empty()) o.name = o.pelk ? "PELK" : "VORN";
    const std::string stem = o.out.size() > 4 && o.out.compare(o.out.size() - 4, 4, ".pkt") == 0
                                 ? o.out.substr(0, o.out.size() - 4)
                                 : o.out;
    if (o.archive.empty() && o.eph.empty()) o.eph = stem + ".eph";
    if (o.archive.empty() && o.att.empty()) o.att = stem + ".att";
    if (!o.dumps.empty() && o.seconds < 3600)
        cl.Usage("--dumps needs a span of an hour at least (--seconds 3600)");
    // The orbit must stay clear of the Earth.
    if ((kEquatorialRadius + o.altitudeKm * 1e3) * (1.0 - o.ecc) < kEquatorialRadius + 100e3)
        Fail("orbit dips below 100 km: lower --ecc or raise --altitude");
}

} // namespace

Options ParseOptions(int argc, char** argv)
{
    Options o;
    bool seconds = false;
    CommandLine cl(argc, argv, "trokgen", kUsage);
    while (cl.Next()) {
        const std::string a = cl.Arg();
        if (cl.Operand()) cl.Usage("unexpected argument \"" + a + "\"");
        else if (!FileOption(cl, o, seconds) && !SimulationOption(cl, o)) cl.Unknown();
    }
    Complete(cl, o, seconds);
    // Each file written is a file of its own (the archive's day files are
    // compared with the history when their names are known).
    std::vector<NamedFile> outputs;
    if (o.archive.empty()) outputs.push_back({"packet file", o.out});
    else outputs.push_back({"archive folder", o.archive});
    if (!o.tle.empty()) outputs.push_back({"element file", o.tle});
    if (!o.config.empty()) outputs.push_back({"configuration file", o.config});
    if (!o.dumps.empty()) outputs.push_back({"dump folder", o.dumps});
    RefuseClashes({}, outputs);
    return o;
}

} // namespace trokgen
