// qlrdump: shows an ephemeris or attitude product for people, checks a pair
// of products for consistency, and converts an ephemeris product to a CCSDS
// orbit ephemeris message.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "toolkit_aem.h"
#include "toolkit_civilutc.h"
#include "toolkit_isotime.h"
#include "toolkit_orbitnumbers.h"
#include "toolkit_productcheck.h"
#include "toolkit_oem.h"
#include "toolkit_qlrproduct.h"
#include "vn_version.h"

using namespace toolkit;

namespace {

const char* const kUsage =
    "usage: qlrdump [--kind eph|att] [--header | --records | --orbits] FILE\n"
    "       qlrdump --summary EPH [ATT]\n"
    "       qlrdump --check [--json] [--max-element-age DAYS] [--tle FILE] EPH ATT\n"
    "       qlrdump --oem EPH [--oem-version 2.0|3.0] [EXPORT OPTIONS]\n"
    "       qlrdump --aem EPH ATT [--frame inertial|orbital] [EXPORT OPTIONS]\n"
    "       qlrdump --help | --version\n"
    "EXPORT OPTIONS: [--out FILE] [--object-name NAME] [--object-id ID]\n"
    "       [--originator NAME] [--message-id ID] [--interpolation-degree N]\n"
    "Shows a product's headers, its records as CSV and its orbit metadata;\n"
    "--summary counts records, repaired points, gaps and orbits; --check\n"
    "validates an ephemeris and attitude pair and their content (status 1 on\n"
    "a fault; element set at most DAYS from the data, default 7, 0: no test;\n"
    "with the run's element file also the hazards of its orbit numbers);\n"
    "--oem writes the ephemeris as a CCSDS orbit ephemeris message and --aem\n"
    "the attitude as a CCSDS attitude ephemeris message, one segment per\n"
    "stretch without a large gap (status 1 when a record cannot be exported).\n"
    "Status 255: unusable input or arguments.\n";

const double kRad = 57.29577951308232;

[[noreturn]] void Fail(const std::string& message)
{
    std::cerr << "qlrdump: " << message << std::endl;
    std::exit(-1);
}

Product Load(const std::string& path, ProductKind kind, bool acceptProblems,
             ProductKind required = ProductKind::Unknown)
{
    Product p;
    std::string error;
    if (!ReadProduct(path, kind, p, error)) Fail(error);
    if (required != ProductKind::Unknown && p.kind != required)
        Fail("\"" + path + "\" is an " + KindName(p.kind) + " file; this needs an " +
             KindName(required) + " file");
    // A kind forced by --kind may not be the file's own: its subheader then
    // holds no orbits to test.
    bool ownKind = kind == ProductKind::Unknown;
    if (!ownKind) {
        std::ifstream f(path, std::ios::binary);
        std::string head(512, '\0');
        f.read(&head[0], 512);
        ownKind = DetectKind(head) == kind;
    }
    const std::vector<std::string> problems = StructureProblems(p, ownKind);
    if (!acceptProblems && !problems.empty()) {
        std::string all;
        for (const std::string& s : problems) all += "\n  " + s;
        Fail("\"" + path + "\" is damaged:" + all);
    }
    return p;
}

std::string Fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// Civil UTC of a TAI93 instant from the system's leap-second table; the
// first use says on standard error when the table is missing or expired.
// Without a usable table (or before 1972) the product's own UTC model stands
// in, as the warning says.
std::string CivilUtc(double tai93, int decimals)
{
    static bool warned = false;
    const LeapSeconds& table = SystemLeapSeconds();
    if (!warned) {
        warned = true;
        const std::string warning = LeapSecondsWarning(table);
        if (!warning.empty()) std::cerr << "qlrdump: warning: " << warning << std::endl;
    }
    int offset = 0;
    if (!TaiMinusUtcAtTai93(table, tai93, offset)) return IsoUtcFromTai93(tai93, decimals);
    return IsoCivilUtcFromTai93(table, tai93, decimals);
}

// A node time before TAI93 zero stands for "no node": the writers store
// -999.99999999 or a time far in the past there.
std::string NodeTime(double tai93)
{
    if (!(tai93 >= 0.0)) return "none";
    return CivilUtc(tai93, 3) + " UTC";
}

void PrintHeader(const Product& p)
{
    const CommonHeader& h = p.header;
    std::cout << "file          " << p.path << "\n";
    std::cout << "kind          " << KindName(p.kind) << "\n";
    std::cout << "size          " << p.fileSize << " bytes: 512 header bytes, " << p.records.size()
              << " records of 64 bytes";
    if (p.kind == ProductKind::Ephemeris)
        std::cout << ", " << p.orbits.size() << " orbit records of 32 bytes";
    std::cout << "\n\n[common header]\n";
    std::cout << "SpacecraftID  \"" << PrintableField(h.spacecraftId) << "\"\n";
    std::cout << "TimeRange     \"" << PrintableField(h.timeRange)
              << "\" (UTC of the product's own TAI-UTC model)\n";
    std::cout << "Source        \"" << PrintableField(h.source) << "\"\n";
    std::cout << "Version       \"" << PrintableField(h.version) << "\"\n";
    std::cout << "StartTime     " << Fixed(h.startTai93, 6) << " s TAI93 = "
              << IsoTaiFromTai93(h.startTai93, 3) << " TAI = " << CivilUtc(h.startTai93, 3)
              << " UTC\n";
    std::cout << "StopTime      " << Fixed(h.stopTai93, 6) << " s TAI93 = "
              << IsoTaiFromTai93(h.stopTai93, 3) << " TAI = " << CivilUtc(h.stopTai93, 3)
              << " UTC\n";
    std::cout << "Interval      " << h.interval << " s\n";
    std::cout << "NoURefs       " << h.noURefs << "\n";
    std::cout << "NoRecords     " << h.noRecords << "\n";
    if (p.kind == ProductKind::Ephemeris) {
        const EphemerisSubheader& e = p.eph;
        std::cout << "\n[ephemeris subheader]\n";
        std::cout << "Orbits        first " << e.firstOrbit << ", last " << e.lastOrbit
                  << ", count " << e.orbitCount << "\n";
        std::cout << "RefFrame      \"" << PrintableField(e.refFrame) << "\"\n";
        std::cout << "Kepler        a = " << Fixed(e.kepler[0], 3) << " m, e = "
                  << Fixed(e.kepler[1], 7) << ", i = " << Fixed(e.kepler[2] * kRad, 4)
                  << " deg, node = " << Fixed(e.kepler[3] * kRad, 4)
                  << " deg, perigee = " << Fixed(e.kepler[4] * kRad, 4)
                  << " deg, mean anomaly = " << Fixed(e.kepler[5] * kRad, 4) << " deg\n";
        std::cout << "EpochTimeTAI  " << Fixed(e.epochTai93, 6) << " s TAI93";
        if (e.epochTai93 >= 0) std::cout << " = " << CivilUtc(e.epochTai93, 3) << " UTC";
        else std::cout << " (no element set)";
        std::cout << "\n";
    } else {
        std::cout << "\n[attitude subheader]\n";
        std::cout << "AngleOrder    " << p.att.angleOrder[0] << ", " << p.att.angleOrder[1] << ", "
                  << p.att.angleOrder[2] << "\n";
    }
}

void PrintRecords(const Product& p)
{
    if (p.kind == ProductKind::Ephemeris)
        std::cout << "tai93_s,tai,x_m,y_m,z_m,vx_m_s,vy_m_s,vz_m_s,flags,flag_names\n";
    else {
        // Angles are named after the axes the header says they turn about.
        std::string cols = "tai93_s,tai";
        for (int i = 0; i < 3; ++i) cols += ",angle_axis" + std::to_string(p.att.angleOrder[i]);
        std::cout << cols << ",rate1,rate2,rate3,flags,flag_names\n";
    }
    const bool eph = p.kind == ProductKind::Ephemeris;
    char buf[512];
    for (const ProductRecord& r : p.records) {
        if (eph)
            std::snprintf(buf, sizeof buf, "%.6f,%s,%.3f,%.3f,%.3f,%.6f,%.6f,%.6f,%u,%s\n",
                          r.tai93, IsoTaiFromTai93(r.tai93, 6).c_str(), r.v[0], r.v[1], r.v[2],
                          r.v[3], r.v[4], r.v[5], r.flags, FlagNames(r.flags).c_str());
        else
            std::snprintf(buf, sizeof buf, "%.6f,%s,%.9e,%.9e,%.9e,%.9e,%.9e,%.9e,%u,%s\n",
                          r.tai93, IsoTaiFromTai93(r.tai93, 6).c_str(), r.v[0], r.v[1], r.v[2],
                          r.v[3], r.v[4], r.v[5], r.flags, FlagNames(r.flags).c_str());
        std::cout << buf;
    }
}

void PrintOrbits(const Product& p)
{
    std::cout << "orbit,ascending_tai93_s,ascending,descending_tai93_s,descending,"
                 "descending_longitude_deg,crossing_minus_node_s\n";
    // Empty where no crossing was seen (the first orbit) or the run had no
    // element set.
    std::vector<std::string> offsets(p.orbits.size());
    for (const NodeOffset& n : NodeOffsets(p)) offsets[n.orbit] = Fixed(n.offset, 3);
    for (size_t k = 0; k < p.orbits.size(); ++k) {
        const OrbitRecord& o = p.orbits[k];
        std::cout << o.orbitNo << "," << Fixed(o.ascendingTai93, 6) << ","
                  << NodeTime(o.ascendingTai93) << "," << Fixed(o.descendingTai93, 6) << ","
                  << NodeTime(o.descendingTai93) << "," << Fixed(o.descendingLongitude * kRad, 4)
                  << "," << offsets[k] << "\n";
    }
}

void PrintSummary(const Product& eph)
{
    size_t repaired = 0, small = 0, large = 0;
    double largeSeconds = 0;
    const auto& r = eph.records;
    for (size_t i = 0; i < r.size(); ++i) {
        repaired += (r[i].flags & 0x20) != 0;
        small += (r[i].flags & 0x80) != 0;
        if (r[i].flags & 0x40) {
            ++large;
            if (i > 0) largeSeconds += r[i].tai93 - r[i - 1].tai93;
        }
    }
    std::cout << "records          " << r.size();
    if (!r.empty())
        std::cout << ", " << CivilUtc(r.front().tai93, 3) << " to "
                  << CivilUtc(r.back().tai93, 3) << " UTC";
    std::cout << "\nrepaired points  " << repaired << " (interpolated in " << small
              << " small gaps)\n";
    std::cout << "large gaps       " << large;
    if (large) std::cout << " (" << Fixed(largeSeconds, 1) << " s without data)";
    std::cout << "\norbits           " << eph.orbits.size();
    if (eph.kind == ProductKind::Ephemeris)
        std::cout << " (header: first " << eph.eph.firstOrbit << ", last " << eph.eph.lastOrbit
                  << ")";
    std::cout << "\n";
    if (eph.orbits.empty()) return;
    std::cout << "  orbit  ascending node               descending node              "
                 "desc. longitude\n";
    char buf[256];
    for (const OrbitRecord& o : eph.orbits) {
        std::snprintf(buf, sizeof buf, "  %5u  %-27s  %-27s  %9.3f deg\n", o.orbitNo,
                      NodeTime(o.ascendingTai93).c_str(), NodeTime(o.descendingTai93).c_str(),
                      o.descendingLongitude * kRad);
        std::cout << buf;
    }
}

std::string TrimmedText(const std::string& field)
{
    std::string s = field.substr(0, field.find('\0'));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The creation time of an export: SOURCE_DATE_EPOCH when it is set to a
// number of seconds (so that the same inputs give the same bytes), else the
// system clock.
std::string NowUtc()
{
    std::time_t now = std::time(nullptr);
    const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
    if (fixed && *fixed) {
        char* end = nullptr;
        const long long seconds = std::strtoll(fixed, &end, 10);
        if (*end == '\0' && seconds >= 0) now = static_cast<std::time_t>(seconds);
    }
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// Writes an export to `out` (standard output when empty); 0, or 255 when the
// text cannot be written whole.
template <class Writer>
int Export(const std::string& out, Writer write)
{
    if (out.empty()) {
        write(std::cout);
        std::cout.flush();
        if (!std::cout) Fail("cannot write to standard output");
        return 0;
    }
    std::ofstream f(out, std::ios::trunc);
    if (!f) Fail("cannot open \"" + out + "\" for writing");
    write(f);
    f.close();
    if (!f) Fail("cannot write \"" + out + "\"");
    return 0;
}

// Creation time, object and originator of an export, from the options and
// the product's header.
void ExportNames(const Product& eph, MessageOptions& m, const std::string& objectName,
                 const std::string& objectId, const std::string& originator,
                 const std::string& messageId, int degree)
{
    for (const std::string* text : {&objectName, &objectId, &originator, &messageId})
        for (char c : *text)
            if (static_cast<unsigned char>(c) < ' ' || c == 127)
                Fail("export names must be printable text, not \"" + PrintableField(*text) + "\"");
    const std::string sc = PrintableField(TrimmedText(eph.header.spacecraftId));
    m.objectName = !objectName.empty() ? objectName : sc.empty() ? "UNKNOWN" : sc;
    m.objectId = objectId.empty() ? "UNKNOWN" : objectId;
    if (!originator.empty()) m.originator = originator;
    m.creationDate = NowUtc();
    m.messageId = messageId;
    m.degree = degree;
    m.comments = ProvenanceComments(eph, std::string("qlrdump ") + TROK_VERSION);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string mode, out, objectName, objectId, section, originator, messageId, elementFile;
    std::string oemVersion = "2.0", frame = "inertial";
    int degree = 7;
    ProductKind kind = ProductKind::Unknown;
    bool json = false;
    CheckOptions checkOptions;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) Fail("option " + a + " needs a value");
            return args[++i];
        };
        if (a == "--help" || a == "-h" || a == "--version") {
            std::cout << (a == "--version" ? "qlrdump " TROK_VERSION "\n" : kUsage);
            std::cout.flush();
            return std::cout ? 0 : 255;
        } else if (a == "--check" || a == "--oem" || a == "--aem" || a == "--summary") {
            if (!mode.empty()) Fail("give only one of --check, --oem, --aem and --summary");
            mode = a;
        } else if (a == "--header" || a == "--records" || a == "--orbits") {
            section = a;
        } else if (a == "--kind") {
            const std::string k = value();
            if (k == "eph" || k == "ephemeris") kind = ProductKind::Ephemeris;
            else if (k == "att" || k == "attitude") kind = ProductKind::Attitude;
            else Fail("--kind takes eph or att, not \"" + k + "\"");
        } else if (a == "--json") {
            json = true;
        } else if (a == "--max-element-age") {
            const std::string d = value();
            char* end = nullptr;
            checkOptions.maxElementAgeDays = std::strtod(d.c_str(), &end);
            if (d.empty() || *end != '\0' || !(checkOptions.maxElementAgeDays >= 0) ||
                !std::isfinite(checkOptions.maxElementAgeDays))
                Fail("--max-element-age takes a number of days (0: no test), not \"" + d + "\"");
        } else if (a == "--tle") elementFile = value();
        else if (a == "--out") out = value();
        else if (a == "--object-name") objectName = value();
        else if (a == "--object-id") objectId = value();
        else if (a == "--originator") originator = value();
        else if (a == "--message-id") messageId = value();
        else if (a == "--oem-version") {
            oemVersion = value();
            if (oemVersion != "2.0" && oemVersion != "3.0")
                Fail("--oem-version takes 2.0 or 3.0, not \"" + oemVersion + "\"");
        } else if (a == "--frame") {
            frame = value();
            if (frame != "inertial" && frame != "orbital")
                Fail("--frame takes inertial or orbital, not \"" + frame + "\"");
        } else if (a == "--interpolation-degree") {
            const std::string v = value();
            char* end = nullptr;
            const long d = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || d < 1 || d > 30)
                Fail("--interpolation-degree takes a whole number from 1 to 30, not \"" + v + "\"");
            degree = static_cast<int>(d);
        }
        else if (a.size() > 1 && a[0] == '-' && a != "-") Fail("unknown option " + a + "\n" + kUsage);
        else files.push_back(a);
    }

    if (mode == "--check") {
        if (files.size() != 2) Fail("--check needs an ephemeris and an attitude file\n" + std::string(kUsage));
        const Product eph = Load(files[0], ProductKind::Unknown, true);
        const Product att = Load(files[1], ProductKind::Unknown, true);
        std::string why;
        if (!elementFile.empty() && eph.eph.epochTai93 != -999.999999 &&
            !ElementSetOfEpoch(elementFile, eph.eph.epochTai93, checkOptions.elements, why))
            Fail(why);
        const std::vector<CheckFinding> findings = CheckProducts(eph, att, checkOptions);
        if (json) {
            std::cout << CheckJson(eph, att, checkOptions, findings) << std::flush;
            if (!std::cout) Fail("cannot write the standard output");
            return HasFault(findings) ? 1 : 0;
        }
        for (const CheckFinding& f : findings)
            std::cerr << "qlrdump: check " << (f.warning ? "warning: " : "failed: ") << f.message
                      << "\n";
        if (HasFault(findings)) return 1;
        std::cout << "qlrdump: check passed: " << eph.records.size() << " records, "
                  << eph.orbits.size() << " orbits\n";
        for (const NodeOffset& n : NodeOffsets(eph))
            std::cout << "qlrdump: orbit " << n.number << " (record " << n.record
                      << "): ascending crossing minus predicted node " << (n.offset < 0 ? "" : "+")
                      << Fixed(n.offset, 3) << " s\n";
        std::cout.flush();
        return std::cout ? 0 : 255;
    }
    if (mode == "--oem") {
        if (files.size() != 1) Fail("--oem needs one ephemeris file\n" + std::string(kUsage));
        const Product eph = Load(files[0], kind, false, ProductKind::Ephemeris);
        const std::string why = UnusableRecord(eph.records, 6, "ephemeris");
        if (!why.empty()) {
            std::cerr << "qlrdump: cannot export \"" << eph.path << "\": " << why << std::endl;
            return 1;
        }
        MessageOptions m;
        ExportNames(eph, m, objectName, objectId, originator, messageId, degree);
        m.version = oemVersion;
        if (oemVersion == "3.0" && m.messageId.empty())
            m.messageId = "OEM_" + m.objectName + "_" + m.creationDate;
        return Export(out, [&](std::ostream& os) { WriteOem(os, eph, m); });
    }
    if (mode == "--aem") {
        if (files.size() != 2) Fail("--aem needs an ephemeris and an attitude file\n" + std::string(kUsage));
        const Product eph = Load(files[0], ProductKind::Unknown, false, ProductKind::Ephemeris);
        const Product att = Load(files[1], ProductKind::Unknown, false, ProductKind::Attitude);
        std::vector<std::string> why = CheckProductPair(eph, att);
        if (why.empty()) {
            const std::string problem = AemProblem(eph, att);
            if (!problem.empty()) why.push_back(problem);
        }
        if (!why.empty()) {
            for (const std::string& s : why)
                std::cerr << "qlrdump: cannot export \"" << att.path << "\": " << s << "\n";
            return 1;
        }
        AemOptions m;
        ExportNames(eph, m, objectName, objectId, originator, messageId, degree);
        m.orbitalFrame = frame == "orbital";
        return Export(out, [&](std::ostream& os) { WriteAem(os, eph, att, m); });
    }
    if (mode == "--summary") {
        if (files.empty() || files.size() > 2)
            Fail("--summary needs an ephemeris file and optionally its attitude file");
        const Product eph = Load(files[0], kind, false, ProductKind::Ephemeris);
        PrintSummary(eph);
        if (files.size() == 2) {
            const Product att = Load(files[1], ProductKind::Unknown, false, ProductKind::Attitude);
            std::string verdict = "passed";
            for (const CheckFinding& f : CheckProducts(eph, att, checkOptions))
                if (!f.warning) {
                    verdict = f.message;
                    break;
                }
            std::cout << "pair check       " << verdict << "\n";
            return verdict == "passed" ? 0 : 1;
        }
        return 0;
    }

    if (files.size() != 1) Fail("give one product file\n" + std::string(kUsage));
    const Product p = Load(files[0], kind, false);
    if (section.empty() || section == "--header") PrintHeader(p);
    if (section.empty()) std::cout << "\n[records]\n";
    if (section.empty() || section == "--records") PrintRecords(p);
    if (p.kind == ProductKind::Ephemeris && (section.empty() || section == "--orbits")) {
        if (section.empty()) std::cout << "\n[orbits]\n";
        PrintOrbits(p);
    }
    std::cout.flush();
    return std::cout ? 0 : 255;
}
