// qlrdump: shows an ephemeris or attitude product for people, checks a pair
// of products for consistency, and converts an ephemeris product to a CCSDS
// orbit ephemeris message.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/exit_cleanup.h"
#include "toolkit/products/aem.h"
#include "toolkit/products/attitudecheck.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/cli/cli.h"
#include "toolkit/time/isotime.h"
#include "toolkit/numbering/orbitnumbers.h"
#include "toolkit/products/productcheck.h"
#include "toolkit/products/oem.h"
#include "toolkit/cli/output.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/products/statecheck.h"
#include "toolkit/cli/text.h"
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

// What the command line asks for.
struct Options {
    std::string mode;      // "", --check, --oem, --aem or --summary
    std::string section;   // without a mode: "", --header, --records or --orbits
    ProductKind kind = ProductKind::Unknown;
    bool json = false;
    CheckOptions check;
    std::string elementFile;   // --tle: the run's element file, for the check
    bool haveOut = false;
    std::string out, objectName, objectId, originator, messageId;
    std::string oemVersion = "2.0", frame = "inertial";
    int degree = 7;
    std::vector<std::string> files;
};

Product Load(const std::string& path, ProductKind kind, bool acceptProblems,
             ProductKind required = ProductKind::Unknown)
{
    Product p;
    std::string error;
    if (!ReadProduct(path, kind, p, error)) Fail(error);
    if (required != ProductKind::Unknown && p.kind != required) Fail(WrongKind(p, required));
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
        if (!warning.empty()) Warn(warning);
    }
    return IsoCivilOrModelUtcFromTai93(tai93, decimals);
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
    std::cout << "StartTime     " << FixedText(h.startTai93, 6) << " s TAI93 = "
              << IsoTaiFromTai93(h.startTai93, 3) << " TAI = " << CivilUtc(h.startTai93, 3)
              << " UTC\n";
    std::cout << "StopTime      " << FixedText(h.stopTai93, 6) << " s TAI93 = "
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
        std::cout << "Kepler        a = " << FixedText(e.kepler[0], 3) << " m, e = "
                  << FixedText(e.kepler[1], 7) << ", i = " << FixedText(e.kepler[2] * kRad, 4)
                  << " deg, node = " << FixedText(e.kepler[3] * kRad, 4)
                  << " deg, perigee = " << FixedText(e.kepler[4] * kRad, 4)
                  << " deg, mean anomaly = " << FixedText(e.kepler[5] * kRad, 4) << " deg\n";
        std::cout << "EpochTimeTAI  " << FixedText(e.epochTai93, 6) << " s TAI93";
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
    for (const NodeOffset& n : NodeOffsets(p)) offsets[n.orbit] = FixedText(n.offset, 3);
    for (size_t k = 0; k < p.orbits.size(); ++k) {
        const OrbitRecord& o = p.orbits[k];
        std::cout << o.orbitNo << "," << FixedText(o.ascendingTai93, 6) << ","
                  << NodeTime(o.ascendingTai93) << "," << FixedText(o.descendingTai93, 6) << ","
                  << NodeTime(o.descendingTai93) << "," << FixedText(o.descendingLongitude * kRad, 4)
                  << "," << offsets[k] << "\n";
    }
}

void PrintSummary(const Product& eph)
{
    const RecordCounts c = CountRecords(eph.records);
    const auto& r = eph.records;
    std::cout << "records          " << r.size();
    if (!r.empty())
        std::cout << ", " << CivilUtc(r.front().tai93, 3) << " to "
                  << CivilUtc(r.back().tai93, 3) << " UTC";
    std::cout << "\nrepaired points  " << c.repaired << " (interpolated in " << c.smallGaps
              << " small gaps)\n";
    std::cout << "large gaps       " << c.largeGaps;
    if (c.largeGaps) std::cout << " (" << FixedText(c.largeSeconds, 1) << " s without data)";
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

// Writes an export to --out (standard output without it); output that
// cannot be written whole is a failure, and an earlier file of that name
// then stays as it was.
template <class Writer>
void Export(const Options& o, Writer write)
{
    if (!o.haveOut) {
        write(std::cout);
        FinishOutput();
        return;
    }
    outputstream f;
    OpenOutput(f, {"output file", o.out});
    write(f);
    CommitOutputs({&f});
}

// Creation time, object and originator of an export, from the options and
// the product's header.
void ExportNames(const Product& eph, const Options& o, MessageOptions& m)
{
    for (const std::string* text : {&o.objectName, &o.objectId, &o.originator, &o.messageId})
        for (char c : *text)
            if (static_cast<unsigned char>(c) < ' ' || c == 127)
                Fail("export names must be printable text, not \"" + PrintableField(*text) + "\"");
    const std::string sc = PrintableField(TrimmedText(eph.header.spacecraftId));
    m.objectName = !o.objectName.empty() ? o.objectName : sc.empty() ? "UNKNOWN" : sc;
    m.objectId = o.objectId.empty() ? "UNKNOWN" : o.objectId;
    if (!o.originator.empty()) m.originator = o.originator;
    std::string error;
    if (!CreationDate(m.creationDate, error)) Fail(error);
    m.messageId = o.messageId;
    m.degree = o.degree;
    m.comments = ProvenanceComments(eph, std::string("qlrdump ") + TROK_VERSION);
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    CommandLine cl(argc, argv, "qlrdump", kUsage);
    while (cl.Next()) {
        if (cl.Operand()) {
            o.files.push_back(cl.Arg());
        } else if (cl.Is("--check") || cl.Is("--oem") || cl.Is("--aem") || cl.Is("--summary")) {
            if (!o.mode.empty()) cl.Usage("give only one of --check, --oem, --aem and --summary");
            o.mode = cl.Arg();
        } else if (cl.Is("--header") || cl.Is("--records") || cl.Is("--orbits")) {
            o.section = cl.Arg();
        } else if (cl.Is("--kind")) {
            const std::string k = cl.Value();
            if (k == "eph" || k == "ephemeris") o.kind = ProductKind::Ephemeris;
            else if (k == "att" || k == "attitude") o.kind = ProductKind::Attitude;
            else cl.BadValue(k, "eph or att");
        } else if (cl.Is("--json")) {
            o.json = true;
        } else if (cl.Is("--max-element-age")) {
            o.check.maxElementAgeDays = cl.Number(0, HUGE_VAL, "a number of days (0: no test)");
        } else if (cl.Is("--tle")) {
            o.elementFile = cl.Value();
        } else if (cl.Is("--out")) {
            o.out = cl.Value();
            o.haveOut = true;
        } else if (cl.Is("--object-name")) {
            o.objectName = cl.Value();
        } else if (cl.Is("--object-id")) {
            o.objectId = cl.Value();
        } else if (cl.Is("--originator")) {
            o.originator = cl.Value();
        } else if (cl.Is("--message-id")) {
            o.messageId = cl.Value();
        } else if (cl.Is("--oem-version")) {
            o.oemVersion = cl.OneOf({"2.0", "3.0"});
        } else if (cl.Is("--frame")) {
            o.frame = cl.OneOf({"inertial", "orbital"});
        } else if (cl.Is("--interpolation-degree")) {
            o.degree = static_cast<int>(cl.Whole(1, 30));
        } else {
            cl.Unknown();
        }
    }
    const size_t n = o.files.size();
    if (o.mode == "--check" && n != 2) cl.Usage("--check needs an ephemeris and an attitude file");
    if (o.mode == "--oem" && n != 1) cl.Usage("--oem needs one ephemeris file");
    if (o.mode == "--aem" && n != 2) cl.Usage("--aem needs an ephemeris and an attitude file");
    if (o.mode == "--summary" && (n < 1 || n > 2))
        cl.Usage("--summary needs an ephemeris file and optionally its attitude file");
    if (o.mode.empty() && n != 1) cl.Usage("give one product file");
    // The export never replaces a file it reads.
    std::vector<NamedFile> inputs;
    for (const std::string& f : o.files) inputs.push_back({"input file", f});
    if (!o.elementFile.empty()) inputs.push_back({"element file", o.elementFile});
    std::vector<NamedFile> outputs;
    if (o.haveOut && (o.mode == "--oem" || o.mode == "--aem")) outputs.push_back({"output file", o.out});
    RefuseClashes(inputs, outputs);
    return o;
}

int RunCheck(const Options& o)
{
    const Product eph = Load(o.files[0], ProductKind::Unknown, true);
    const Product att = Load(o.files[1], ProductKind::Unknown, true);
    CheckOptions check = o.check;
    std::string why;
    if (!o.elementFile.empty() && eph.eph.epochTai93 != -999.999999 &&
        !ElementSetOfEpoch(o.elementFile, eph.eph.epochTai93, check.elements, why))
        Fail(why);
    const std::vector<CheckFinding> findings = CheckProducts(eph, att, check);
    if (o.json) {
        PrintOut(CheckJson(eph, att, check, findings));
        FinishOutput();
        return HasFault(findings) ? kStatusVerdict : kStatusOk;
    }
    for (const CheckFinding& f : findings)
        Say(std::string("check ") + (f.warning ? "warning: " : "failed: ") + f.message);
    if (HasFault(findings)) return kStatusVerdict;
    std::cout << "qlrdump: check passed: " << eph.records.size() << " records, "
              << eph.orbits.size() << " orbits\n";
    for (const NodeOffset& n : NodeOffsets(eph))
        std::cout << "qlrdump: orbit " << n.number << " (record " << n.record
                  << "): ascending crossing minus predicted node " << (n.offset < 0 ? "" : "+")
                  << FixedText(n.offset, 3) << " s\n";
    FinishOutput();
    return kStatusOk;
}

int RunOem(const Options& o)
{
    const Product eph = Load(o.files[0], o.kind, false, ProductKind::Ephemeris);
    const std::string why = UnusableRecord(eph.records, 6, "ephemeris");
    if (!why.empty()) {
        Say("cannot export \"" + eph.path + "\": " + why);
        return kStatusVerdict;
    }
    MessageOptions m;
    ExportNames(eph, o, m);
    m.version = o.oemVersion;
    if (o.oemVersion == "3.0" && m.messageId.empty())
        m.messageId = "OEM_" + m.objectName + "_" + m.creationDate;
    Export(o, [&](std::ostream& os) { WriteOem(os, eph, m); });
    return kStatusOk;
}

int RunAem(const Options& o)
{
    const Product eph = Load(o.files[0], ProductKind::Unknown, false, ProductKind::Ephemeris);
    const Product att = Load(o.files[1], ProductKind::Unknown, false, ProductKind::Attitude);
    std::vector<std::string> why = CheckProductPair(eph, att);
    std::vector<Quat> quaternions;
    if (why.empty()) {
        const std::string problem = AemQuaternions(eph, att, o.frame == "orbital", quaternions);
        if (!problem.empty()) why.push_back(problem);
    }
    // What the check refuses of the attitudes is not exported either.
    if (why.empty()) {
        std::vector<CheckFinding> faults;
        std::vector<char> faultyStates;
        CheckStates(eph, faults, &faultyStates);
        faults.clear();
        CheckAttitudes(att, faults, &faultyStates);
        for (const CheckFinding& f : faults) why.push_back(f.message);
    }
    if (!why.empty()) {
        for (const std::string& s : why) Say("cannot export \"" + att.path + "\": " + s);
        return kStatusVerdict;
    }
    AemOptions m;
    ExportNames(eph, o, m);
    m.orbitalFrame = o.frame == "orbital";
    Export(o, [&](std::ostream& os) { WriteAem(os, eph, quaternions, m); });
    return kStatusOk;
}

int RunSummary(const Options& o)
{
    const Product eph = Load(o.files[0], o.kind, false, ProductKind::Ephemeris);
    PrintSummary(eph);
    int status = kStatusOk;
    if (o.files.size() == 2) {
        const Product att = Load(o.files[1], ProductKind::Unknown, false, ProductKind::Attitude);
        std::string verdict = "passed";
        for (const CheckFinding& f : CheckProducts(eph, att, o.check))
            if (!f.warning) {
                verdict = f.message;
                break;
            }
        std::cout << "pair check       " << verdict << "\n";
        if (verdict != "passed") status = kStatusVerdict;
    }
    FinishOutput();
    return status;
}

// Without a mode: the product's headers, records and orbits, or one of them.
int RunShow(const Options& o)
{
    const Product p = Load(o.files[0], o.kind, false);
    if (o.section.empty() || o.section == "--header") PrintHeader(p);
    if (o.section.empty()) std::cout << "\n[records]\n";
    if (o.section.empty() || o.section == "--records") PrintRecords(p);
    if (p.kind == ProductKind::Ephemeris && (o.section.empty() || o.section == "--orbits")) {
        if (o.section.empty()) std::cout << "\n[orbits]\n";
        PrintOrbits(p);
    }
    FinishOutput();
    return kStatusOk;
}

} // namespace

int main(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    // Before any output is opened: its temporary goes at exit and on a
    // stopping signal.
    platform::InstallExitCleanup();
    if (o.mode == "--check") return RunCheck(o);
    if (o.mode == "--oem") return RunOem(o);
    if (o.mode == "--aem") return RunAem(o);
    if (o.mode == "--summary") return RunSummary(o);
    return RunShow(o);
}
