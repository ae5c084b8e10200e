// trokgen: writes a telemetry packet file of a simulated spacecraft, with a
// matching two-line element file and a configuration file for trokproc.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"
#include "toolkit_isotime.h"
#include "toolkit_orbitsim.h"
#include "toolkit_packetbuilder.h"
#include "toolkit_tle.h"
#include "vn_proc_FormatConvert.h"
#include "vn_version.h"

using namespace toolkit;

namespace {

const char* const kUsage =
    "usage: trokgen --out FILE [options]\n"
    "       trokgen --help | --version\n"
    "  --out FILE            packet file to write (required)\n"
    "  --tle FILE            also write a two-line element file\n"
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
    "  --wobble F            scale of the attitude wobble (default 1, 0: none)\n"
    "  --wobble-deg Y,R,P    wobble amplitudes about z, x, y in degrees (0.25,0.15,0.2)\n";

const double kEquatorialRadius = 6378137.0;
const double kDeg = 0.017453292519943295;
const double kFineStep = 1.52e-5;
const unsigned kOtherApid = 1010;
// TAI93 zero (1993-01-01 00:00:27 TAI) in TAI seconds since 1958.
const double kTai93From1958 = 1104537627.0;

[[noreturn]] void Fail(const std::string& message)
{
    std::cerr << "trokgen: " << message << std::endl;
    std::exit(-1);
}

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

private:
    uint64_t state;
};

struct Options {
    std::string out, tle, config, eph, att, name, designator;
    long seconds = 18000;
    double start = -1.0;   // TAI seconds since 1958; negative: the default date
    uint64_t seed = 1;
    double jitterMs = 20.0;
    long smallGaps = 0, largeGaps = 0, repeats = 0, otherApid = 0;
    bool timeFault = false, pelk = false;
    double altitudeKm = 700.0, ecc = 0.0012, inclDeg = 98.2, raanDeg = 120.0, argpDeg = 90.0,
           meanAnomalyDeg = 0.0, wobble = 1.0;
    double wobbleDeg[3] = {-1.0, -1.0, -1.0};   // negative: the simulator's own amplitudes
    long rev = 10000, catalog = 43210, elementNumber = 999;
};

double Number(const std::string& option, const std::string& text, double lo, double hi)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < lo || v > hi)
        Fail("bad value for " + option + ": \"" + text + "\"");
    return v;
}

long Count(const std::string& option, const std::string& text, long lo, long hi)
{
    const double v = Number(option, text, lo, hi);
    if (v != std::floor(v)) Fail("bad value for " + option + ": \"" + text + "\"");
    return static_cast<long>(v);
}

// A usage error: the usage on standard error, status 2.
[[noreturn]] void Usage(const std::string& message)
{
    if (!message.empty()) std::cerr << "trokgen: " << message << "\n";
    std::cerr << kUsage;
    std::cerr.flush();
    std::exit(2);
}

// Writes `text` to standard output and ends: status 0, or 255 when it
// cannot be written.
[[noreturn]] void PrintAndExit(const std::string& text)
{
    std::cout << text;
    std::cout.flush();
    std::exit(std::cout ? 0 : 255);
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    if (argc < 2) Usage("");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") PrintAndExit(kUsage);
        if (a == "--version") PrintAndExit("trokgen " TROK_VERSION "\n");
        if (a == "--time-fault") { o.timeFault = true; continue; }
        if (a == "--pelk") { o.pelk = true; continue; }
        if (a.compare(0, 2, "--") != 0) Fail("unexpected argument \"" + a + "\"\n" + kUsage);
        if (i + 1 >= argc) Fail("option " + a + " needs a value");
        const std::string v = argv[++i];
        if (a == "--out") o.out = v;
        else if (a == "--tle") o.tle = v;
        else if (a == "--config") o.config = v;
        else if (a == "--eph") o.eph = v;
        else if (a == "--att") o.att = v;
        else if (a == "--name") o.name = v;
        else if (a == "--designator") {
            if (!ValidDesignator(v))
                Fail("bad value for --designator: \"" + v +
                     "\" (two digits of the launch year, three of the launch, one to three"
                     " capital letters, e.g. 26001A)");
            o.designator = v;
        } else if (a == "--element-number") o.elementNumber = Count(a, v, 0, 9999);
        else if (a == "--seconds") o.seconds = Count(a, v, 2, 500L * 86400);
        else if (a == "--seed") o.seed = static_cast<uint64_t>(Count(a, v, 0, 1e15));
        else if (a == "--jitter") o.jitterMs = Number(a, v, 0.0, 100.0);
        else if (a == "--small-gaps") o.smallGaps = Count(a, v, 0, 100000);
        else if (a == "--large-gaps") o.largeGaps = Count(a, v, 0, 100000);
        else if (a == "--repeats") o.repeats = Count(a, v, 0, 1000000);
        else if (a == "--other-apid") o.otherApid = Count(a, v, 0, 10000000);
        else if (a == "--altitude") o.altitudeKm = Number(a, v, 150.0, 40000.0);
        else if (a == "--ecc") o.ecc = Number(a, v, 0.0, 0.5);
        else if (a == "--incl") o.inclDeg = Number(a, v, 0.0, 180.0);
        else if (a == "--raan") o.raanDeg = Number(a, v, 0.0, 360.0);
        else if (a == "--argp") o.argpDeg = Number(a, v, 0.0, 360.0);
        else if (a == "--mean-anomaly") o.meanAnomalyDeg = Number(a, v, 0.0, 360.0);
        else if (a == "--wobble") o.wobble = Number(a, v, 0.0, 100.0);
        else if (a == "--wobble-deg") {
            size_t from = 0;
            for (int j = 0; j < 3; ++j) {
                const size_t comma = j < 2 ? v.find(',', from) : v.size();
                if (comma == std::string::npos) Fail("bad value for " + a + ": \"" + v + "\"");
                o.wobbleDeg[j] = Number(a, v.substr(from, comma - from), 0.0, 90.0);
                from = comma + 1;
            }
        } else if (a == "--rev") o.rev = Count(a, v, 0, 99999);
        else if (a == "--catalog") o.catalog = Count(a, v, 1, 99999);
        else if (a == "--start") {
            CalendarTime t;
            if (ParseIsoTime(v, t)) o.start = Tai58FromUtc(t);
            else o.start = Number(a, v, 0.0, 4.0e9);
        } else Fail("unknown option " + a + "\n" + kUsage);
    }
    if (o.out.empty()) Usage("no packet file: give --out FILE");
    if (o.start < 0) {
        CalendarTime t;
        ParseIsoTime("2026-06-01T00:00:00Z", t);
        o.start = Tai58FromUtc(t);
    }
    if (o.name.empty()) o.name = o.pelk ? "PELK" : "VORN";
    const std::string stem = o.out.size() > 4 && o.out.compare(o.out.size() - 4, 4, ".pkt") == 0
                                 ? o.out.substr(0, o.out.size() - 4)
                                 : o.out;
    if (o.eph.empty()) o.eph = stem + ".eph";
    if (o.att.empty()) o.att = stem + ".att";
    // The orbit must stay clear of the Earth.
    if ((kEquatorialRadius + o.altitudeKm * 1e3) * (1.0 - o.ecc) < kEquatorialRadius + 100e3)
        Fail("orbit dips below 100 km: lower --ecc or raise --altitude");
    return o;
}

// What happens to the nominal sample k (k-th second of the span).
struct Schedule {
    std::vector<char> dropped;     // lost in a gap
    std::set<long> repeated;       // sent twice
    std::vector<long> othersAfter; // another application's packets after sample k
    long timeFault = -1;           // this sample carries an earlier time
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

Schedule MakeSchedule(const Options& o, Random& rng)
{
    Schedule s;
    s.dropped.assign(static_cast<size_t>(o.seconds), 0);
    PlaceGaps(s, rng, o.largeGaps, 90, 900, "large gaps");
    PlaceGaps(s, rng, o.smallGaps, 1, 40, "small gaps");
    for (long r = 0; r < o.repeats; ++r) s.repeated.insert(KeptSample(s, rng));
    for (long r = 0; r < o.otherApid; ++r) s.othersAfter.push_back(rng.Between(0, o.seconds - 1));
    if (o.timeFault) {
        // Not the first kept sample: it needs a predecessor to go back past.
        do s.timeFault = KeptSample(s, rng);
        while (s.timeFault < 3);
    }
    return s;
}

std::string OtherPacket(unsigned sequence, size_t size)
{
    std::string p(size, static_cast<char>(0x5A));
    EncodePrimaryHeader(&p[0], 0, kOtherApid, sequence & 0x3FFF, static_cast<unsigned>(size - 7));
    return p;
}

// Element set of the simulated orbit at the first sample, as a two-line set
// whose epoch (UTC, day of year to 1e-8 day) is the instant trokproc will
// reconstruct; the mean anomaly is moved to that rounded epoch.
std::vector<double> ElementSet(const Options& o, const OrbitSimulator& sim)
{
    const double jdTai = 2436204.5 + o.start / 86400.0;
    date_time utc(TAItoUTC(jdTai));
    unsigned year = 0, dayOffset = 0;
    double second = 0;
    utc.GetGregorianYearDaySecond(year, dayOffset, second);
    double dayOfYear = std::round((dayOffset + 1 + second / 86400.0) * 1e8) / 1e8;
    date_time rounded;
    rounded.SetGregorianYearDaySecond(year, 0, (dayOfYear - 1.0) * 86400.0);
    const double jdUtc = rounded.GetJulianDay();
    const double jdTaiEpoch = jdUtc + UTC_TAI_delta(jdUtc);
    const double shift = (jdTaiEpoch - jdTai) * 86400.0;   // seconds, a few milliseconds

    const KeplerOrbit& k = sim.Orbit();
    const double twoPi = 6.283185307179586;
    double m = std::fmod(k.meanAnomaly + sim.MeanMotion() * shift, twoPi);
    if (m < 0) m += twoPi;
    std::vector<double> v(13, 0.0);
    v[0] = sim.MeanMotion() * 60.0;   // rad/min
    // Printed through truncation: a hair above keeps the last digit.
    v[1] = k.e + 1e-12;
    v[2] = k.i;
    v[3] = k.raan;
    v[4] = k.argp;
    v[5] = m;
    v[9] = static_cast<double>(o.catalog);
    v[10] = year % 100;
    v[11] = dayOfYear;
    v[12] = static_cast<double>(o.rev);
    return v;
}

std::string TrimRight(std::string s)
{
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

void WriteText(const std::string& path, const std::string& text, const char* what)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) Fail(std::string("cannot write the ") + what + " file \"" + path + "\"");
}

} // namespace

int main(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    Random rng(o.seed);
    const Schedule sched = MakeSchedule(o, rng);

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
    const OrbitSimulator sim(orbit, wobble);

    const size_t pktsize = o.pelk ? 214 : 126;
    const unsigned apid = o.pelk ? 967 : 957;
    const double startWhole = std::floor(o.start);
    const double startFrac = o.start - startWhole;

    std::ofstream out(o.out, std::ios::binary | std::ios::trunc);
    if (!out) Fail("cannot open the packet file \"" + o.out + "\"");

    std::vector<long> others = sched.othersAfter;
    std::sort(others.begin(), others.end());
    size_t nextOther = 0;
    unsigned otherSequence = 0;
    long written = 0, telemetry = 0, otherCount = 0;
    double lastTime = -1e300;   // seconds after the start of the last sample sent
    TelemetrySample sample;
    for (long k = 0; k < o.seconds; ++k) {
        if (!sched.dropped[static_cast<size_t>(k)]) {
            double offset = static_cast<double>(k) + (2.0 * rng.Uniform() - 1.0) * o.jitterMs * 1e-3;
            if (k == sched.timeFault) offset = lastTime - 0.5;
            if (k == 0) offset = 0.0;
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
            const std::string pkt =
                TelemetryPacket(sample, pktsize, apid, static_cast<unsigned>(k) & 0x3FFF);
            out.write(pkt.data(), static_cast<std::streamsize>(pkt.size()));
            ++telemetry;
            ++written;
            if (sched.repeated.count(k)) {
                out.write(pkt.data(), static_cast<std::streamsize>(pkt.size()));
                ++written;
            }
            lastTime = dt;
        }
        for (; nextOther < others.size() && others[nextOther] == k; ++nextOther) {
            const std::string pkt = OtherPacket(otherSequence, 40 + (otherSequence % 5) * 8);
            ++otherSequence;
            out.write(pkt.data(), static_cast<std::streamsize>(pkt.size()));
            ++written;
            ++otherCount;
        }
    }
    out.close();
    if (!out) Fail("cannot write the packet file \"" + o.out + "\"");

    if (!o.tle.empty()) {
        const std::vector<double> values = ElementSet(o, sim);
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
        id.elementNumber = static_cast<int>(o.elementNumber);
        line1 = CompleteLine1(line1, id);
        WriteText(o.tle, o.name + "\n" + TrimRight(line1) + "\n" + TrimRight(line2) + "\n",
                  "element");
    }
    if (!o.config.empty()) {
        std::string cfg;
        cfg += "-version 1.0\n-station MERV\n";
        cfg += "-packetfile " + o.out + "\n";
        cfg += "-noradfile " + (o.tle.empty() ? std::string("noTLE") : o.tle) + "\n";
        cfg += "-ephemerisfile " + o.eph + "\n";
        cfg += "-attitudefile " + o.att + "\n";
        cfg += "-noradsatname " + std::string(o.pelk ? "PELK" : o.name) + "\n";
        cfg += "-qlrsatname QORAL6\n-listconfig no\n";
        WriteText(o.config, cfg, "configuration");
    }

    std::cout << "trokgen: " << o.out << ": " << written << " packets (" << telemetry
              << " telemetry of APID " << apid << ", " << written - telemetry - otherCount
              << " repeated, " << otherCount << " of APID " << kOtherApid << "), "
              << o.smallGaps << " small and " << o.largeGaps << " large gaps"
              << (o.timeFault ? ", one time fault" : "") << ", from "
              << IsoUtcFromTai93(o.start - kTai93From1958, 3)
              << " UTC" << std::endl;
    return 0;
}
