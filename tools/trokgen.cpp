// trokgen: writes a telemetry packet file of a simulated spacecraft, with a
// matching two-line element file and a configuration file for trokproc; or
// an archive of such packet files, one a day, of one continuous orbit, with
// a history of element sets for it.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/exit_cleanup.h"
#include "platform/make_dirs.h"
#include "orbitlib_class_noradelements.h"
#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"
#include "toolkit/cli/cli.h"
#include "toolkit/time/isotime.h"
#include "toolkit/simulation/orbitsim.h"
#include "toolkit/cli/output.h"
#include "toolkit/packets/packetbuilder.h"
#include "toolkit/cli/text.h"
#include "toolkit/numbering/tle.h"
#include "vn_proc_FormatConvert.h"
#include "vn_version.h"

using namespace toolkit;

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
    "  --tle-gap-days DAYS   no element set has its epoch on these days\n";

const double kEquatorialRadius = 6378137.0;
const double kDeg = 0.017453292519943295;
const double kTwoPi = 6.283185307179586;
const double kFineStep = 1.52e-5;
const unsigned kOtherApid = 1010;
const long kDay = 86400;
// TAI93 zero (1993-01-01 00:00:27 TAI) in TAI seconds since 1958.
const double kTai93From1958 = 1104537627.0;

// splitmix64: small, fast and the same on every platform.
class Random
{
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Whole number in [lo, hi].
    long Between(long lo, long hi)
    {
        return lo + static_cast<long>(Next() % static_cast<uint64_t>(hi - lo + 1));
    }
    // Real number in [lo, hi).
    double Within(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

private:
    uint64_t state;
};

struct Options {
    std::string out, tle, config, eph, att, name, designator, archive;
    long seconds = 18000;
    long days = 0;         // archive: number of daily files
    double start = -1.0;   // TAI seconds since 1958; negative: the default date
    uint64_t seed = 1;
    double jitterMs = 20.0;
    long smallGaps = 0, largeGaps = 0, repeats = 0, otherApid = 0;
    bool timeFault = false, pelk = false, twoBody = false;
    double altitudeKm = 700.0, ecc = 0.0012, inclDeg = 98.2, raanDeg = 120.0, argpDeg = 90.0,
           meanAnomalyDeg = 0.0, wobble = 1.0;
    double wobbleDeg[3] = {-1.0, -1.0, -1.0};   // negative: the simulator's own amplitudes
    long rev = 10000, catalog = 43210, elementNumber = 999;
    // Archive days (1 to days) that get a fault of their own.
    std::set<long> timeFaultDays, flipDays, cutDays, tleGapDays;
};

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

Options ParseOptions(int argc, char** argv)
{
    Options o;
    bool seconds = false;
    CommandLine cl(argc, argv, "trokgen", kUsage);
    while (cl.Next()) {
        const std::string a = cl.Arg();
        if (cl.Operand()) cl.Usage("unexpected argument \"" + a + "\"");
        else if (cl.Is("--time-fault")) o.timeFault = true;
        else if (cl.Is("--pelk")) o.pelk = true;
        else if (cl.Is("--two-body")) o.twoBody = true;
        else if (cl.Is("--out")) o.out = cl.Value("a file name");
        else if (cl.Is("--tle")) o.tle = cl.Value("a file name");
        else if (cl.Is("--config")) o.config = cl.Value("a file name");
        else if (cl.Is("--eph")) o.eph = cl.Value("a file name");
        else if (cl.Is("--att")) o.att = cl.Value("a file name");
        else if (cl.Is("--name")) o.name = cl.Value();
        else if (cl.Is("--archive")) o.archive = cl.Value("a folder");
        else if (cl.Is("--days")) o.days = Count(cl, 1, 100000);
        else if (cl.Is("--time-fault-days")) o.timeFaultDays = DayList(cl);
        else if (cl.Is("--flip-days")) o.flipDays = DayList(cl);
        else if (cl.Is("--cut-days")) o.cutDays = DayList(cl);
        else if (cl.Is("--tle-gap-days")) o.tleGapDays = DayList(cl);
        else if (cl.Is("--designator")) {
            o.designator = cl.Value();
            if (!ValidDesignator(o.designator))
                cl.BadValue(o.designator, "an international designator such as 26001A (two digits "
                                          "of the launch year, three of the launch, one to three "
                                          "capital letters)");
        } else if (cl.Is("--element-number")) o.elementNumber = Count(cl, 0, 9999);
        else if (cl.Is("--seconds")) {
            o.seconds = Count(cl, 2, 500.0 * 86400);
            seconds = true;
        }
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
        else if (cl.Is("--wobble-deg")) {
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
        } else if (cl.Is("--rev")) o.rev = Count(cl, 0, 99999);
        else if (cl.Is("--catalog")) o.catalog = Count(cl, 1, 99999);
        else if (cl.Is("--start")) {
            const std::string v = cl.Value("a time");
            CalendarTime t;
            char* end = nullptr;
            const double tai = std::strtod(v.c_str(), &end);
            if (ParseIsoTime(v, t)) o.start = Tai58FromUtc(t);
            else if (!v.empty() && *end == '\0' && tai >= 0.0 && tai <= 4.0e9) o.start = tai;
            else cl.BadValue(v, "TAI seconds since 1958 (0 to 4e9) or a UTC date YYYY-MM-DD[Thh:mm[:ss[.fff]]][Z]");
        } else cl.Unknown();
    }
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
        o.seconds = o.days * kDay;
    }
    if (o.start < 0) {
        CalendarTime t;
        ParseIsoTime("2026-06-01T00:00:00Z", t);
        o.start = Tai58FromUtc(t);
    }
    if (o.name.empty()) o.name = o.pelk ? "PELK" : "VORN";
    const std::string stem = o.out.size() > 4 && o.out.compare(o.out.size() - 4, 4, ".pkt") == 0
                                 ? o.out.substr(0, o.out.size() - 4)
                                 : o.out;
    if (o.archive.empty() && o.eph.empty()) o.eph = stem + ".eph";
    if (o.archive.empty() && o.att.empty()) o.att = stem + ".att";
    // The orbit must stay clear of the Earth.
    if ((kEquatorialRadius + o.altitudeKm * 1e3) * (1.0 - o.ecc) < kEquatorialRadius + 100e3)
        Fail("orbit dips below 100 km: lower --ecc or raise --altitude");
    // Each file written is a file of its own (the archive's day files are
    // compared with the history when their names are known).
    std::vector<NamedFile> outputs;
    if (o.archive.empty()) outputs.push_back({"packet file", o.out});
    else outputs.push_back({"archive folder", o.archive});
    if (!o.tle.empty()) outputs.push_back({"element file", o.tle});
    if (!o.config.empty()) outputs.push_back({"configuration file", o.config});
    RefuseClashes({}, outputs);
    return o;
}

// What happens to the nominal sample k (k-th second of the span).
struct Schedule {
    std::vector<char> dropped;     // lost in a gap
    std::set<long> repeated;       // sent twice
    std::vector<long> othersAfter; // another application's packets after sample k
    std::set<long> timeFaults;     // these samples carry an earlier time
    std::map<long, int> flipped;   // a position bit of weight 2^value metres flipped
};

// Places `count` runs of lost samples of length [minLen, maxLen] so that
// every run has at least `margin` kept samples on either side.
void PlaceGaps(Schedule& s, Random& rng, long count, long minLen, long maxLen, const char* what)
{
    const long n = static_cast<long>(s.dropped.size());
    const long margin = 10;
    for (long g = 0; g < count; ++g) {
        bool placed = false;
        for (int attempt = 0; attempt < 10000 && !placed; ++attempt) {
            const long len = rng.Between(minLen, maxLen);
            if (n - 2 * margin - len < 1) break;
            const long first = rng.Between(margin, n - margin - len);
            bool clear = true;
            for (long k = first - margin; k < first + len + margin && clear; ++k)
                clear = !s.dropped[k];
            if (!clear) continue;
            for (long k = first; k < first + len; ++k) s.dropped[k] = 1;
            placed = true;
        }
        if (!placed)
            Fail(std::string("the span is too short for the ") + what + " asked for: raise --seconds");
    }
}

// A kept sample picked at random, away from the ends.
long KeptSample(const Schedule& s, Random& rng)
{
    const long n = static_cast<long>(s.dropped.size());
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const long k = rng.Between(1, n - 2);
        if (!s.dropped[k]) return k;
    }
    Fail("no sample left to alter");
}

// A sample of archive day `day` (0-based) with ten kept, unaltered samples
// on either side, so that nothing else disturbs what is done to it.
long QuietSample(const Schedule& s, Random& rng, long day)
{
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const long k = day * kDay + rng.Between(20, kDay - 21);
        bool quiet = true;
        for (long j = k - 10; j <= k + 10 && quiet; ++j)
            quiet = !s.dropped[static_cast<size_t>(j)] && !s.repeated.count(j) &&
                    !s.timeFaults.count(j) && !s.flipped.count(j);
        if (quiet) return k;
    }
    Fail("no undisturbed sample left on day " + std::to_string(day + 1));
}

Schedule MakeSchedule(const Options& o, Random& rng)
{
    Schedule s;
    s.dropped.assign(static_cast<size_t>(o.seconds), 0);
    PlaceGaps(s, rng, o.largeGaps, 90, 900, "large gaps");
    PlaceGaps(s, rng, o.smallGaps, 1, 40, "small gaps");
    for (long r = 0; r < o.repeats; ++r) s.repeated.insert(KeptSample(s, rng));
    for (long r = 0; r < o.otherApid; ++r) s.othersAfter.push_back(rng.Between(0, o.seconds - 1));
    if (o.timeFault && o.archive.empty()) {
        // Not the first kept sample: it needs a predecessor to go back past.
        long k;
        do k = KeptSample(s, rng);
        while (k < 3);
        s.timeFaults.insert(k);
    }
    if (o.archive.empty()) return s;
    // Faults of chosen days come from a stream of their own, so that asking
    // for them leaves the rest of the archive as it was.
    Random days(o.seed ^ 0x13198A2E03707344ULL);
    std::set<long> timeFaultDays = o.timeFaultDays;
    if (o.timeFault) timeFaultDays.insert(days.Between(1, o.days));
    for (long d : timeFaultDays) s.timeFaults.insert(QuietSample(s, days, d - 1));
    for (long d : o.flipDays)
        s.flipped[QuietSample(s, days, d - 1)] = static_cast<int>(days.Between(15, 21));
    return s;
}

std::string OtherPacket(unsigned sequence, size_t size)
{
    std::string p(size, static_cast<char>(0x5A));
    EncodePrimaryHeader(&p[0], 0, kOtherApid, sequence & 0x3FFF, static_cast<unsigned>(size - 7));
    return p;
}

// Flips the bit of weight 2^weight metres in the mantissa of the largest
// position component of an encoded telemetry packet (MIL-STD-1750A extended
// precision: 24 mantissa bits, the exponent byte, 16 more mantissa bits).
void FlipPositionBit(std::string& pkt, int weight)
{
    size_t best = 0;
    int bestExp = -1000;
    for (size_t c = 0; c < 3; ++c) {
        const int exponent = static_cast<signed char>(pkt[14 + 6 * c + 3]);
        if (exponent > bestExp) {
            bestExp = exponent;
            best = c;
        }
    }
    const int j = bestExp - weight;   // mantissa bit after the sign bit
    if (j < 1 || j > 39) Fail("a position too small for a flipped bit of 2^" + std::to_string(weight) + " m");
    const size_t byte = j < 24 ? static_cast<size_t>(j / 8) : static_cast<size_t>(4 + (j - 24) / 8);
    const int bit = 7 - (j < 24 ? j % 8 : (j - 24) % 8);
    pkt[14 + 6 * best + byte] = static_cast<char>(pkt[14 + 6 * best + byte] ^ (1 << bit));
}

// Encodes the samples of a span one after the other; the state it keeps
// (the last time sent, the packets of the other application) carries from
// one call to the next, so a span can be written in pieces.
class PacketStream
{
public:
    PacketStream(const Options& options, const OrbitSimulator& simulator, const Schedule& schedule,
                 Random& random)
        : o(options), sim(simulator), sched(schedule), rng(random),
          pktsize(options.pelk ? 214 : 126), apid(options.pelk ? 967 : 957),
          startWhole(std::floor(options.start)), startFrac(options.start - startWhole),
          others(schedule.othersAfter)
    {
        std::sort(others.begin(), others.end());
    }

    // Appends the packets of nominal samples [from, to) to `out`; the offset
    // in `out` of each telemetry packet goes to `starts` when given.
    void Append(long from, long to, std::string& out, std::vector<size_t>* starts = nullptr)
    {
        TelemetrySample sample;
        for (long k = from; k < to; ++k) {
            if (!sched.dropped[static_cast<size_t>(k)]) {
                double offset = static_cast<double>(k) + (2.0 * rng.Uniform() - 1.0) * o.jitterMs * 1e-3;
                if (sched.timeFaults.count(k)) offset = lastTime - 0.5;
                if (k == 0) offset = 0.0;
                // Each file of an archive starts on its second.
                if (!o.archive.empty() && k % kDay == 0 && !sched.timeFaults.count(k))
                    offset = static_cast<double>(k);
                // The clock's coarse and fine counts; the fine count cannot show
                // the last 4 ms of a second, so such times are held at its top.
                const double t = startFrac + offset;
                const double whole = std::floor(t);
                double fine = std::round((t - whole) / kFineStep);
                if (fine > 65535.0) fine = 65535.0;
                sample.coarse = static_cast<uint32_t>(startWhole + whole);
                sample.fine = static_cast<uint16_t>(fine);
                const double dt = whole + fine * kFineStep - startFrac;
                const NavigationState s = sim.At(dt);
                for (int j = 0; j < 3; ++j) {
                    sample.pos[j] = s.pos[j];
                    sample.vel[j] = s.vel[j];
                    sample.rates[j] = s.rates[j];
                }
                for (int j = 0; j < 4; ++j) sample.quat[j] = s.quat.q[j];
                std::string pkt =
                    TelemetryPacket(sample, pktsize, apid, static_cast<unsigned>(k) & 0x3FFF);
                const auto flip = sched.flipped.find(k);
                if (flip != sched.flipped.end()) FlipPositionBit(pkt, flip->second);
                if (starts) starts->push_back(out.size());
                out += pkt;
                ++telemetry;
                ++written;
                if (sched.repeated.count(k)) {
                    out += pkt;
                    ++written;
                }
                lastTime = dt;
            }
            for (; nextOther < others.size() && others[nextOther] == k; ++nextOther) {
                out += OtherPacket(otherSequence, 40 + (otherSequence % 5) * 8);
                ++otherSequence;
                ++written;
                ++otherCount;
            }
        }
    }

    size_t PacketSize() const { return pktsize; }
    unsigned Apid() const { return apid; }
    long written = 0, telemetry = 0, otherCount = 0;

private:
    const Options& o;
    const OrbitSimulator& sim;
    const Schedule& sched;
    Random& rng;
    const size_t pktsize;
    const unsigned apid;
    const double startWhole, startFrac;
    std::vector<long> others;
    size_t nextOther = 0;
    unsigned otherSequence = 0;
    double lastTime = -1e300;   // seconds after the start of the last sample sent
};

OrbitSimulator MakeSimulator(const Options& o)
{
    KeplerOrbit orbit;
    orbit.a = kEquatorialRadius + o.altitudeKm * 1e3;
    orbit.e = o.ecc;
    orbit.i = o.inclDeg * kDeg;
    orbit.raan = o.raanDeg * kDeg;
    orbit.argp = o.argpDeg * kDeg;
    orbit.meanAnomaly = o.meanAnomalyDeg * kDeg;
    AttitudeWobble wobble;
    for (int j = 0; j < 3; ++j) {
        if (o.wobbleDeg[j] >= 0.0) wobble.amplitude[j] = o.wobbleDeg[j] * kDeg;
        wobble.amplitude[j] *= o.wobble;
    }
    return OrbitSimulator(orbit, wobble, o.twoBody ? OrbitModel::TwoBody : OrbitModel::SecularJ2);
}

// The epoch of an element set for the instant `dt` seconds after the start:
// UTC of trokproc's own time model, as a day of year to 1e-8 day, which is
// what trokproc reads back. `shifted` is that rounded epoch in seconds after
// the start (a few milliseconds from dt).
struct Epoch {
    unsigned year = 0;
    double dayOfYear = 0;
    double shifted = 0;
};

Epoch EpochNear(const Options& o, double dt)
{
    const double jdTai = 2436204.5 + (o.start + dt) / 86400.0;
    date_time utc(TAItoUTC(jdTai));
    unsigned year = 0, dayOffset = 0;
    double second = 0;
    utc.GetGregorianYearDaySecond(year, dayOffset, second);
    Epoch e;
    e.year = year;
    e.dayOfYear = std::round((dayOffset + 1 + second / 86400.0) * 1e8) / 1e8;
    date_time rounded;
    rounded.SetGregorianYearDaySecond(year, 0, (e.dayOfYear - 1.0) * 86400.0);
    const double jdUtc = rounded.GetJulianDay();
    const double jdTaiEpoch = jdUtc + UTC_TAI_delta(jdUtc);
    e.shifted = dt + (jdTaiEpoch - jdTai) * 86400.0;
    return e;
}

// Element set of a two-body orbit at the first sample: its osculating
// elements, the mean anomaly moved to the rounded epoch.
std::vector<double> TwoBodyElementSet(const Options& o, const OrbitSimulator& sim)
{
    const Epoch epoch = EpochNear(o, 0.0);
    const double shift = epoch.shifted;   // seconds, a few milliseconds
    const KeplerOrbit& k = sim.Orbit();
    double m = std::fmod(k.meanAnomaly + sim.MeanMotion() * shift, kTwoPi);
    if (m < 0) m += kTwoPi;
    std::vector<double> v(13, 0.0);
    v[0] = sim.MeanMotion() * 60.0;   // rad/min
    // Printed through truncation: a hair above keeps the last digit.
    v[1] = k.e + 1e-12;
    v[2] = k.i;
    v[3] = k.raan;
    v[4] = k.argp;
    v[5] = m;
    v[9] = static_cast<double>(o.catalog);
    v[10] = epoch.year % 100;
    v[11] = epoch.dayOfYear;
    v[12] = static_cast<double>(o.rev);
    return v;
}

double Folded(double angle)
{
    double r = std::fmod(angle, kTwoPi);
    return r < 0 ? r + kTwoPi : r;
}

// The angles of a set as its lines print them (1e-4 degree), in [0, 360):
// a mean anomaly a hair below 360 degrees would print as 360.0000, which no
// catalogue writes and which readers take as a whole turn more.
void RoundAngles(std::vector<double>& v)
{
    for (size_t j = 2; j <= 5; ++j) {
        double deg = std::round(v[j] / kDeg * 1e4) / 1e4;
        if (deg >= 360.0) deg -= 360.0;
        v[j] = deg * kDeg;
    }
}

// Element set of the drifting orbit at the epoch nearest `dt`: its mean
// elements there as SGP4 reads them, and the number of the revolution in
// progress (one more at every ascending node since the start, where
// revolution --rev is in progress). SGP4 takes the mean motion as Kozai's
// and adds long-period terms of the third zonal harmonic (J3) to the
// eccentricity vector and to the mean longitude; the set carries those
// terms taken away, so that SGP4 puts the spacecraft where the simulator
// does.
std::vector<double> MeanElementSet(const Options& o, const OrbitSimulator& sim, double dt)
{
    const Epoch epoch = EpochNear(o, dt);
    const KeplerOrbit k = sim.ElementsAt(epoch.shifted);
    const double j3oj2 = -0.00000253881 / kSimJ2;   // WGS-72, as SGP4
    const double si = std::sin(k.i), ci = std::cos(k.i);
    const double aycof = -0.5 * j3oj2 * si;
    const double xlcof = -0.25 * j3oj2 * si * (3.0 + 5.0 * ci) / (1.0 + ci);
    const double temp = 1.0 / (k.a / kSimJ2Radius * (1.0 - k.e * k.e));
    const double axn = k.e * std::cos(k.argp);
    const double ayn = k.e * std::sin(k.argp) - temp * aycof;
    const double argp = std::atan2(ayn, axn);
    std::vector<double> v(13, 0.0);
    v[0] = KozaiMeanMotion(sim.MeanMotion() * 60.0, k.e, k.i);
    v[1] = std::sqrt(axn * axn + ayn * ayn) + 1e-12;
    v[2] = k.i;
    v[3] = Folded(k.raan);
    v[4] = Folded(argp);
    v[5] = Folded(k.meanAnomaly + k.argp - argp - temp * xlcof * axn);
    v[9] = static_cast<double>(o.catalog);
    v[10] = epoch.year % 100;
    v[11] = epoch.dayOfYear;
    const double nodes = std::floor(sim.ArgumentOfLatitude(epoch.shifted) / kTwoPi) -
                         std::floor(sim.ArgumentOfLatitude(0.0) / kTwoPi);
    v[12] = static_cast<double>(o.rev) + nodes;
    RoundAngles(v);
    return v;
}

// A set as the catalogue would publish it: small errors of orbit
// determination in every element, the sum of perigee and mean anomaly (the
// place along the orbit) held more tightly than either.
void Perturb(std::vector<double>& v, Random& rng)
{
    const double perigee = rng.Within(-0.05, 0.05) * kDeg;
    v[0] *= 1.0 + rng.Within(-7e-8, 7e-8);
    v[1] = std::max(0.0, v[1] + rng.Within(-2e-6, 2e-6));
    v[2] += rng.Within(-5e-4, 5e-4) * kDeg;
    v[3] = Folded(v[3] + rng.Within(-5e-4, 5e-4) * kDeg);
    v[4] = Folded(v[4] + perigee);
    v[5] = Folded(v[5] - perigee + rng.Within(-2e-3, 2e-3) * kDeg);
    RoundAngles(v);
}

std::string TrimRight(std::string s)
{
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The name line and the two element lines of a set.
std::string ElementText(const Options& o, const std::vector<double>& values, int elementNumber)
{
    noradelements set(values);
    std::string line1, line2;
    set.Get(line1, line2);
    ElementSetIdentity id;
    id.designator = o.designator;
    if (id.designator.empty()) {
        char def[8];
        std::snprintf(def, sizeof def, "%02d001A", static_cast<int>(values[10]));
        id.designator = def;
    }
    id.elementNumber = elementNumber;
    line1 = CompleteLine1(line1, id);
    return o.name + "\n" + TrimRight(line1) + "\n" + TrimRight(line2) + "\n";
}

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

std::string UtcText(double tai58, int decimals)
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
    // A day at a time: the span may be far larger than memory.
    std::string chunk;
    for (long from = 0; from < o.seconds && pkt; from += kDay) {
        chunk.clear();
        packets.Append(from, std::min(o.seconds, from + kDay), chunk);
        pkt.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    if (!o.tle.empty()) {
        const std::vector<double> values =
            o.twoBody ? TwoBodyElementSet(o, sim) : MeanElementSet(o, sim, 0.0);
        tle << ElementText(o, values, static_cast<int>(o.elementNumber));
    }
    if (!o.config.empty()) cfg << ConfigText(o);
    CommitOutputs(outs);
    PrintOut("trokgen: " + o.out + ": " + FaultText(o, packets) +
             (o.timeFault ? ", one time fault" : "") + ", from " + UtcText(o.start, 3) + " UTC\n");
    FinishOutput();
    return kStatusOk;
}

// A folder made if missing, with its missing parents; with `noLink`, one
// that exists must be a folder itself, not a link to one somewhere else.
void MakeFolders(const std::string& path, bool noLink = false)
{
    const platform::MadeDirs r = platform::MakeDirs(path, noLink);
    if (!r.ok) Fail("cannot make the folder \"" + r.at + "\": " + r.Reason());
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

// One packet file a day of one continuous orbit: DIR/YYYY/MM/DD.pkt named
// after the UTC date of the day's first second.
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
    std::string bytes;
    std::vector<size_t> starts;
    for (long d = 0; d < o.days; ++d) {
        bytes.clear();
        starts.clear();
        packets.Append(d * kDay, (d + 1) * kDay, bytes, &starts);
        if (o.cutDays.count(d + 1) && !starts.empty()) {
            // Broken off inside a packet, somewhere in the second half of the day.
            const size_t at = starts[static_cast<size_t>(
                cuts.Between(static_cast<long>(starts.size() / 2), static_cast<long>(starts.size()) - 1))];
            bytes.resize(at + packets.PacketSize() / 2);
        }
        const std::string date = UtcText(o.start + static_cast<double>(d * kDay) + 1.0, 0);
        const std::string year = o.archive + "/" + date.substr(0, 4);
        const std::string month = year + "/" + date.substr(5, 2);
        MakeFolders(year, true);
        MakeFolders(month, true);
        const std::string name = month + "/" + date.substr(8, 2) + ".pkt";
        if (!o.tle.empty() && SameFile(name, o.tle))
            Fail("packet file \"" + name + "\" and element file \"" + o.tle + "\" are the same file");
        outputstream day;
        OpenOutput(day, {"packet file", name});
        day.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        CommitOutputs({&day});
    }
    std::string line = "trokgen: " + o.archive + ": " + std::to_string(o.days) + " days from " +
                       UtcText(o.start, 3) + " UTC, " + FaultText(o, packets);
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
    PrintOut(line + "\n");
    FinishOutput();
    return kStatusOk;
}

} // namespace

int main(int argc, char** argv)
{
    // Temporaries of unfinished outputs go at exit and on a stopping signal.
    platform::InstallExitCleanup();
    const Options o = ParseOptions(argc, argv);
    return o.archive.empty() ? WriteSingle(o) : WriteArchive(o);
}
