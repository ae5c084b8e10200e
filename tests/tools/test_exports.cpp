// qlrdump --oem and --aem on simulated days, read back by a strict reader of
// the CCSDS message layouts (keywords, order, counts, formats) written here,
// and the exported attitudes against the quaternions the simulator sent.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"
#include "toolkit/products/aem.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/products/quaternion.h"
#include "vn_class_quality_flags.h"
#include "vn_proc_FormatConvert.h"

using namespace toolkit;

namespace {

const std::string kQlrdump = QLRDUMP_PATH;

// ---- A strict reader of OEM and AEM KVN text ------------------------------

struct KvnSegment {
    std::map<std::string, std::string> meta;
    std::vector<std::string> epochs;
    std::vector<std::vector<double>> values;
};

struct KvnMessage {
    std::string version;
    std::map<std::string, std::string> header;
    std::vector<KvnSegment> segments;
};

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// CCSDS epoch "YYYY-MM-DDThh:mm:ss[.d...][Z]".
bool IsEpoch(const std::string& t)
{
    static const std::regex form(R"(\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12]\d|3[01])T([01]\d|2[0-3]):[0-5]\d:([0-5]\d|60)(\.\d+)?Z?)");
    return std::regex_match(t, form);
}

bool Number(const std::string& text, double& v)
{
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(v);
}

// Reads `text` as an OEM (aem false) or AEM (version 2.0); returns why it is
// not one, or "" and the message. Header and metadata keywords must come in
// the standards' table order, mandatory ones present, others unknown.
std::string ReadKvn(const std::string& text, bool aem, KvnMessage& m)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!Trim(l).empty()) lines.push_back(Trim(l));
    size_t i = 0;
    // Keyword = value lines from i up to `stop`, after leading COMMENTs.
    auto block = [&](const std::vector<std::string>& order, const std::vector<std::string>& mandatory,
                     const std::string& stop, std::map<std::string, std::string>& out) -> std::string {
        while (i < lines.size() && lines[i].rfind("COMMENT ", 0) == 0) ++i;
        size_t at = 0;
        for (; i < lines.size() && lines[i] != stop; ++i) {
            const size_t eq = lines[i].find('=');
            const std::string key = Trim(lines[i].substr(0, eq));
            size_t k = at;
            while (k < order.size() && order[k] != key) ++k;
            if (eq == std::string::npos || Trim(lines[i].substr(eq + 1)).empty() || k == order.size())
                return "\"" + lines[i] + "\" out of order or not allowed";
            out[key] = Trim(lines[i].substr(eq + 1));
            at = k + 1;
        }
        for (const std::string& k : mandatory)
            if (!out.count(k)) return "no " + k;
        return i < lines.size() ? "" : "no " + stop;
    };
    const std::string vers = aem ? "CCSDS_AEM_VERS = " : "CCSDS_OEM_VERS = ";
    if (lines.empty() || lines[0].rfind(vers, 0) != 0) return "the first line is not " + vers;
    m.version = lines[0].substr(vers.size());
    if (m.version != "2.0" && (aem || m.version != "3.0")) return "version " + m.version;
    ++i;
    std::vector<std::string> header{"CREATION_DATE", "ORIGINATOR"};
    if (aem || m.version == "3.0") header = {"CLASSIFICATION", "CREATION_DATE", "ORIGINATOR", "MESSAGE_ID"};
    std::string why = block(header, {"CREATION_DATE", "ORIGINATOR"}, "META_START", m.header);
    if (!why.empty()) return "header: " + why;
    if (!IsEpoch(m.header["CREATION_DATE"])) return "CREATION_DATE format";

    const std::vector<std::string> order =
        aem ? std::vector<std::string>{"OBJECT_NAME", "OBJECT_ID", "CENTER_NAME", "REF_FRAME_A",
                                       "REF_FRAME_B", "TIME_SYSTEM", "START_TIME",
                                       "USEABLE_START_TIME", "USEABLE_STOP_TIME", "STOP_TIME",
                                       "ATTITUDE_TYPE", "EULER_ROT_SEQ", "ANGVEL_FRAME",
                                       "INTERPOLATION_METHOD", "INTERPOLATION_DEGREE"}
            : std::vector<std::string>{"OBJECT_NAME", "OBJECT_ID", "CENTER_NAME", "REF_FRAME",
                                       "REF_FRAME_EPOCH", "TIME_SYSTEM", "START_TIME",
                                       "USEABLE_START_TIME", "USEABLE_STOP_TIME", "STOP_TIME",
                                       "INTERPOLATION", "INTERPOLATION_DEGREE"};
    const std::vector<std::string> mandatory =
        aem ? std::vector<std::string>{"OBJECT_NAME", "OBJECT_ID", "REF_FRAME_A", "REF_FRAME_B",
                                       "TIME_SYSTEM", "START_TIME", "STOP_TIME", "ATTITUDE_TYPE"}
            : std::vector<std::string>{"OBJECT_NAME", "OBJECT_ID", "CENTER_NAME", "REF_FRAME",
                                       "TIME_SYSTEM", "START_TIME", "STOP_TIME"};
    while (i < lines.size()) {
        if (lines[i++] != "META_START") return "\"" + lines[i - 1] + "\" where META_START belongs";
        KvnSegment s;
        why = block(order, mandatory, "META_STOP", s.meta);
        if (!why.empty()) return "metadata: " + why;
        ++i;
        if (s.meta.count(aem ? "INTERPOLATION_METHOD" : "INTERPOLATION") != s.meta.count("INTERPOLATION_DEGREE"))
            return "interpolation method and degree not together";
        if (aem && (s.meta["ATTITUDE_TYPE"] != "QUATERNION" || i == lines.size() || lines[i++] != "DATA_START"))
            return "no DATA_START of quaternions";
        while (i < lines.size() && lines[i].rfind("COMMENT ", 0) == 0) ++i;
        for (; i < lines.size() && lines[i] != (aem ? "DATA_STOP" : "META_START"); ++i) {
            std::istringstream fields(lines[i]);
            std::string epoch, field;
            fields >> epoch;
            std::vector<double> v;
            for (double x = 0; fields >> field; v.push_back(x))
                if (!Number(field, x)) return "data field \"" + field + "\"";
            if (!IsEpoch(epoch) || v.size() != (aem ? 4u : 6u)) return "data line \"" + lines[i] + "\"";
            if (!s.epochs.empty() && (epoch.size() != s.epochs.back().size() || !(epoch > s.epochs.back())))
                return "epoch " + epoch + " does not follow " + s.epochs.back();
            if (aem && std::fabs(std::hypot(std::hypot(v[0], v[1]), std::hypot(v[2], v[3])) - 1) > 1e-9)
                return "a quaternion not of unit length";
            s.epochs.push_back(epoch);
            s.values.push_back(v);
        }
        if (aem && i++ == lines.size()) return "no DATA_STOP";
        if (s.epochs.empty()) return "a segment without data";
        // START/STOP are the first and last epoch; the degree fits the
        // points; one time system; segments in time order.
        if (s.meta["START_TIME"] != s.epochs.front() || s.meta["STOP_TIME"] != s.epochs.back())
            return "START_TIME or STOP_TIME is not the first or last epoch";
        if (s.meta.count("INTERPOLATION_DEGREE")) {
            const std::string& d = s.meta["INTERPOLATION_DEGREE"];
            if (d.find_first_not_of("0123456789") != std::string::npos || std::stoul(d) + 1 > s.epochs.size())
                return "INTERPOLATION_DEGREE " + d;
        }
        if (!m.segments.empty() && (s.meta["TIME_SYSTEM"] != m.segments[0].meta["TIME_SYSTEM"] ||
                                    !(s.epochs.front() > m.segments.back().epochs.back())))
            return "segments out of order or in different time systems";
        m.segments.push_back(s);
    }
    return m.segments.empty() ? "no metadata block" : "";
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// ---- Runs -----------------------------------------------------------------

Product ReadOrFail(const std::string& path)
{
    Product p;
    std::string error;
    EXPECT_TRUE(ReadProduct(path, ProductKind::Unknown, p, error)) << error;
    return p;
}

// Angle of the rotation between two attitude quaternions (either sign).
double AngleBetween(const double a[4], const double b[4])
{
    // d = conj(a) b: vector part a4 bv - b4 av - av x bv (sign irrelevant).
    const double dv[3] = {a[3] * b[0] - b[3] * a[0] - (a[1] * b[2] - a[2] * b[1]),
                          a[3] * b[1] - b[3] * a[1] - (a[2] * b[0] - a[0] * b[2]),
                          a[3] * b[2] - b[3] * a[2] - (a[0] * b[1] - a[1] * b[0])};
    const double ds = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    return 2.0 * std::atan2(std::sqrt(dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2]), std::fabs(ds));
}

// The quaternions as sent, in order, from a packet file of 126-byte packets
// of one application without repeats.
std::vector<std::vector<double>> SentQuaternions(const std::string& path)
{
    const std::string b = ReadFile(path);
    std::vector<std::vector<double>> q;
    for (size_t o = 0; o + 126 <= b.size(); o += 126) {
        std::vector<double> v(4);
        for (size_t j = 0; j < 4; ++j) v[j] = MiL1750_EPFP(b.data() + o + 50 + 6 * j);
        q.push_back(v);
    }
    return q;
}

// Largest angle between the exported and the sent attitude over the
// records that are not interpolated; `compared` counts them.
double WorstAttitudeError(const KvnMessage& aem, const Product& eph,
                          const std::vector<std::vector<double>>& sent, size_t& compared)
{
    std::vector<std::vector<double>> exported;
    for (const KvnSegment& s : aem.segments)
        exported.insert(exported.end(), s.values.begin(), s.values.end());
    EXPECT_EQ(exported.size(), eph.records.size());
    double worst = 0;
    size_t k = 0;
    compared = 0;
    for (size_t i = 0; i < eph.records.size() && i < exported.size(); ++i) {
        if (eph.records[i].flags & quality_flags::rep) continue;   // interpolated by trokproc
        if (k >= sent.size()) break;
        const double n = std::sqrt(sent[k][0] * sent[k][0] + sent[k][1] * sent[k][1] +
                                   sent[k][2] * sent[k][2] + sent[k][3] * sent[k][3]);
        const double s[4] = {sent[k][0] / n, sent[k][1] / n, sent[k][2] / n, sent[k][3] / n};
        worst = std::max(worst, AngleBetween(exported[i].data(), s));
        ++k;
        ++compared;
    }
    EXPECT_EQ(k, sent.size()) << "every packet sent has its record";
    return worst;
}

} // namespace

TEST(Exports, OemOfADayWithLargeGapsHasOneSegmentPerStretch)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "day", {"--seconds", "86400", "--large-gaps", "3", "--small-gaps",
                                        "4", "--seed", "11"}),
              "");
    const Product eph = ReadOrFail(dir + "/day.eph");

    ProgramResult r = RunProgram({kQlrdump, "--oem", "day.eph", "--out", "day.oem", "--object-id",
                                "2026-999A", "--originator", "ESOC"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    KvnMessage m;
    ASSERT_EQ(ReadKvn(ReadFile(dir + "/day.oem"), false, m), "");
    EXPECT_EQ(m.version, "2.0");
    EXPECT_EQ(m.header["ORIGINATOR"], "ESOC");

    // Independently of the flags: the stretches are where consecutive
    // record times are more than 60 s apart.
    std::vector<size_t> firsts{0};
    for (size_t i = 1; i < eph.records.size(); ++i)
        if (eph.records[i].tai93 - eph.records[i - 1].tai93 > 60.0) firsts.push_back(i);
    ASSERT_EQ(firsts.size(), 4u);
    ASSERT_EQ(m.segments.size(), 4u);
    size_t lines = 0;
    for (size_t k = 0; k < m.segments.size(); ++k) {
        const KvnSegment& s = m.segments[k];
        const size_t last = k + 1 < firsts.size() ? firsts[k + 1] - 1 : eph.records.size() - 1;
        EXPECT_EQ(s.epochs.size(), last - firsts[k] + 1) << "segment " << k;
        // The first and last states are those records' (km, km/s).
        EXPECT_NEAR(s.values.front()[0], eph.records[firsts[k]].v[0] / 1e3, 1e-6);
        EXPECT_NEAR(s.values.back()[5], eph.records[last].v[5] / 1e3, 1e-9);
        EXPECT_EQ(s.meta.at("OBJECT_NAME"), "QORAL6");
        EXPECT_EQ(s.meta.at("OBJECT_ID"), "2026-999A");
        EXPECT_EQ(s.meta.at("REF_FRAME"), "EME2000");
        EXPECT_EQ(s.meta.at("TIME_SYSTEM"), "TAI");
        EXPECT_EQ(s.meta.at("INTERPOLATION"), "LAGRANGE");
        EXPECT_EQ(s.meta.at("INTERPOLATION_DEGREE"), "7");
        lines += s.epochs.size();
    }
    EXPECT_EQ(lines, eph.records.size());
    const std::string text = ReadFile(dir + "/day.oem");
    EXPECT_NE(text.find("COMMENT Source MERV, Version 1.0, SpacecraftID QORAL6\n"), std::string::npos);
    EXPECT_NE(text.find("COMMENT Written by qlrdump "), std::string::npos);
    EXPECT_NE(text.find("COMMENT Element set epoch 2026-06-01T00:00:5"), std::string::npos);

    // The reader is strict: each of these faults is refused.
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        return t.replace(t.find(from), from.size(), to);
    };
    const std::string bad[] = {
        replaced("CENTER_NAME = EARTH\nREF_FRAME = EME2000", "REF_FRAME = EME2000\nCENTER_NAME = EARTH"),
        replaced("INTERPOLATION_DEGREE = 7", "INTERPOLATION_DEGREE = 7.0"),
        replaced("TIME_SYSTEM = TAI\n", ""),
        replaced("CCSDS_OEM_VERS = 2.0\n", "CCSDS_OEM_VERS = 2.0\nMESSAGE_ID = X\n"),
        replaced(m.segments[0].epochs[1], m.segments[0].epochs[0]),
        replaced(" 0.000000032\n", "\n"),
    };
    for (const std::string& t : bad) {
        KvnMessage ignored;
        EXPECT_NE(ReadKvn(t, false, ignored), "");
    }

    // OEM 3.0 adds MESSAGE_ID; the degree option is honoured; without
    // --object-id the object is UNKNOWN.
    r = RunProgram({kQlrdump, "--oem", "day.eph", "--oem-version", "3.0", "--interpolation-degree",
                  "5", "--message-id", "DAY-1"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    KvnMessage m3;
    ASSERT_EQ(ReadKvn(r.out, false, m3), "");
    EXPECT_EQ(m3.version, "3.0");
    EXPECT_EQ(m3.header["MESSAGE_ID"], "DAY-1");
    EXPECT_EQ(m3.segments.size(), 4u);
    EXPECT_EQ(m3.segments[1].meta.at("INTERPOLATION_DEGREE"), "5");
    EXPECT_EQ(m3.segments[1].meta.at("OBJECT_ID"), "UNKNOWN");
}

TEST(Exports, NonFiniteValuesAndDisagreeingPairsRefuseTheExport)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "p", {"--seconds", "3000", "--seed", "3"}), "");
    const std::string eph = ReadFile(dir + "/p.eph"), att = ReadFile(dir + "/p.att");
    char nan8[8];
    FormatConvert_float8(std::nan(""), nan8);

    // vy of ephemeris record 100, then angle 2 of attitude record 200.
    std::string b = eph;
    b.replace(512 + 64 * 100 + 8 + 8 * 4, 8, std::string(nan8, 8));
    WriteFile(dir + "/p.eph", b);
    ProgramResult r = RunProgram({kQlrdump, "--oem", "p.eph", "--out", "p.oem"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ephemeris record 100 ("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("NaN as vy"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/p.oem")) << "nothing is written";
    r = RunProgram({kQlrdump, "--aem", "p.eph", "p.att", "--out", "p.aem"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ephemeris record 100"), std::string::npos) << r.err;

    WriteFile(dir + "/p.eph", eph);
    b = att;
    b.replace(512 + 64 * 200 + 16, 8, std::string(nan8, 8));
    WriteFile(dir + "/p.att", b);
    r = RunProgram({kQlrdump, "--aem", "p.eph", "p.att", "--out", "p.aem"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("attitude record 200 ("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not all finite"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/p.aem"));

    // A pair that does not belong together, and files in the wrong order.
    WriteFile(dir + "/p.att", att.substr(0, 72) + "KIRU" + att.substr(76));
    r = RunProgram({kQlrdump, "--aem", "p.eph", "p.att"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("common headers of the two files differ (Source)"), std::string::npos);
    WriteFile(dir + "/p.att", att);
    r = RunProgram({kQlrdump, "--aem", "p.att", "p.eph"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("is an attitude file, not an ephemeris file"), std::string::npos);
    r = RunProgram({kQlrdump, "--aem", "p.eph", "p.att", "--frame", "body"}, dir);
    EXPECT_EQ(r.status, 255);
}

TEST(Exports, AemQuaternionsMatchTheSentAttitudeToANanoradian)
{
    const std::string dir = FreshTestDir();
    // Nadir pointing with the default wobble, gaps of both kinds; then
    // every angle up to the 30 degrees the recovery supports.
    struct Case {
        const char* name;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"wobble", {"--seconds", "20000", "--large-gaps", "2", "--small-gaps", "3", "--seed", "5"}},
        {"large", {"--seconds", "12000", "--large-gaps", "1", "--small-gaps", "2", "--seed", "6",
                   "--wobble-deg", "30,30,30"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(MakeProducts(dir, c.name, c.options), "");
        const Product eph = ReadOrFail(dir + "/" + c.name + ".eph");
        const std::string n = c.name;
        const ProgramResult r = RunProgram({kQlrdump, "--aem", n + ".eph", n + ".att", "--out",
                                          n + ".aem", "--object-id", "2026-999A"}, dir);
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        KvnMessage m;
        ASSERT_EQ(ReadKvn(ReadFile(dir + "/" + n + ".aem"), true, m), "") << c.name;
        EXPECT_EQ(m.segments.size(), n == "wobble" ? 3u : 2u) << c.name;
        EXPECT_EQ(m.segments[0].meta["REF_FRAME_A"], "EME2000");
        EXPECT_EQ(m.segments[0].meta["REF_FRAME_B"], "SC_BODY_1");
        EXPECT_EQ(m.segments[0].meta["TIME_SYSTEM"], "TAI");
        size_t compared = 0;
        const double worst =
            WorstAttitudeError(m, eph, SentQuaternions(dir + "/" + n + ".pkt"), compared);
        EXPECT_GT(compared, 10000u) << c.name;
        EXPECT_LT(worst, 1e-9) << c.name;
        // Quaternions within a segment carry no sign jumps.
        for (const KvnSegment& s : m.segments)
            for (size_t j = 1; j < s.values.size(); ++j) {
                double dot = 0;
                for (int k = 0; k < 4; ++k) dot += s.values[j][k] * s.values[j - 1][k];
                ASSERT_GT(dot, 0.0) << c.name;
            }
    }

    // Exact nadir pointing relative to the local orbital frame: the identity.
    ASSERT_EQ(MakeProducts(dir, "nadir", {"--seconds", "3000", "--wobble", "0", "--seed", "9"}), "");
    const ProgramResult r = RunProgram({kQlrdump, "--aem", "nadir.eph", "nadir.att", "--frame", "orbital"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    KvnMessage m;
    ASSERT_EQ(ReadKvn(r.out, true, m), "");
    EXPECT_EQ(m.segments[0].meta["REF_FRAME_A"], "LVLH_ROTATING");
    const double identity[4] = {0, 0, 0, 1};
    for (const std::vector<double>& q : m.segments[0].values)
        ASSERT_LT(AngleBetween(q.data(), identity), 1e-9);
}

// A long product is recovered in two halves at once: the quaternions are
// those of pieces short enough for one pass, and a failure names the first
// record that fails, in whichever half.
TEST(Exports, AemQuaternionsOfALongProductAreThoseOfOnePass)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "p", {"--seconds", "30000", "--seed", "8"}), "");
    const Product eph = ReadOrFail(dir + "/p.eph");
    Product att = ReadOrFail(dir + "/p.att");
    const size_t n = eph.records.size();
    ASSERT_GE(n, 20000u);
    std::vector<Quat> all;
    ASSERT_EQ(AemQuaternions(eph, att, false, all), "");
    ASSERT_EQ(all.size(), n);
    for (size_t from = 0; from < n; from += 12000) {
        Product e = eph, a = att;
        const size_t to = std::min(n, from + 12000);
        e.records.assign(eph.records.begin() + from, eph.records.begin() + to);
        a.records.assign(att.records.begin() + from, att.records.begin() + to);
        std::vector<Quat> piece;
        ASSERT_EQ(AemQuaternions(e, a, false, piece), "");
        for (size_t i = from; i < to; ++i)
            ASSERT_EQ(std::memcmp(all[i].q, piece[i - from].q, sizeof all[i].q), 0) << "record " << i;
    }

    att.records[n - 10].v[1] = std::nan("");
    EXPECT_EQ(AemQuaternions(eph, att, false, all).rfind("attitude record " + std::to_string(n - 10) + " (", 0), 0u);
    EXPECT_TRUE(all.empty());
    att.records[100].v[1] = std::nan("");
    EXPECT_EQ(AemQuaternions(eph, att, false, all).rfind("attitude record 100 (", 0), 0u);
}

TEST(Exports, AttitudesBeyondThirtyDegreesAreNotRecovered)
{
    // Two attitudes (yaw, roll, pitch; order 3, 1, 2) that share the three
    // stored elements: beyond the supported range the elements are ambiguous.
    const double deg = 0.017453292519943295;
    auto elements = [&](double y, double r, double p, double e[3]) {
        double m[3][3];
        QuatToMatrix(QuatProduct(AxisQuat(3, y * deg), QuatProduct(AxisQuat(1, r * deg), AxisQuat(2, p * deg))), m);
        e[0] = m[0][1];
        e[1] = m[1][2];
        e[2] = m[2][0];
    };
    double e1[3], e2[3], m[3][3], yrp[3];
    elements(-45, -45, -36, e1);
    // The second attitude: roll solved for by hand to the same elements.
    const double roll = -16.150941936691 * deg;
    const double yaw = std::asin(e1[0] / std::cos(roll)), pitch = std::asin(e1[2] / std::cos(roll));
    elements(yaw / deg, roll / deg, pitch / deg, e2);
    EXPECT_NEAR(e2[0], e1[0], 1e-12);
    EXPECT_NEAR(e2[1], e1[1], 1e-12);
    EXPECT_NEAR(e2[2], e1[2], 1e-12);
    std::string why;
    EXPECT_FALSE(RecoverOrbitalAttitude(e1, m, yrp, why));
    EXPECT_NE(why.find("within 30.000 deg"), std::string::npos) << why;

    // The corners of the supported cube are recovered.
    for (double y : {-30.0, 30.0})
        for (double r : {-30.0, 30.0})
            for (double p : {-30.0, 30.0}) {
                elements(y, r, p, e1);
                ASSERT_TRUE(RecoverOrbitalAttitude(e1, m, yrp, why)) << y << r << p << why;
                EXPECT_NEAR(yrp[0], y * deg, 1e-12);
                EXPECT_NEAR(yrp[1], r * deg, 1e-12);
                EXPECT_NEAR(yrp[2], p * deg, 1e-12);
            }

    // A simulated day turning up to 40 degrees is refused, naming a record.
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "big", {"--seconds", "3000", "--seed", "2", "--wobble-deg", "40,40,40"}),
              "");
    const ProgramResult r = RunProgram({kQlrdump, "--aem", "big.eph", "big.att", "--out", "big.aem"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qlrdump: cannot export \"big.att\": attitude record "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("do not determine it uniquely"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/big.aem"));
}

TEST(Exports, SameSourceDateEpochGivesTheSameBytes)
{
    const std::string dir = FreshTestDir();
    ASSERT_EQ(MakeProducts(dir, "p", {"--seconds", "2000", "--small-gaps", "1", "--seed", "8"}), "");
    auto run = [&](const std::string& epoch, const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/env", "SOURCE_DATE_EPOCH=" + epoch, kQlrdump};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir);
    };
    const std::vector<std::vector<std::string>> modes{
        {"--oem", "p.eph"}, {"--oem", "p.eph", "--oem-version", "3.0"}, {"--aem", "p.eph", "p.att"}};
    std::vector<std::string> first;
    for (const auto& args : modes) {
        const ProgramResult r = run("1790000000", args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\nCREATION_DATE = 2026-09-21T14:13:20\n"), std::string::npos);
        first.push_back(r.out);
    }
    sleep(1);   // a date from the clock would differ now
    for (size_t k = 0; k < modes.size(); ++k) {
        EXPECT_EQ(run("1790000000", modes[k]).out, first[k]) << modes[k][0];
        const ProgramResult bad = run("yesterday", modes[k]);
        EXPECT_EQ(bad.status, 255);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.err, "qlrdump: SOURCE_DATE_EPOCH: \"yesterday\" is not a whole number of "
                           "seconds since 1970-01-01 00:00:00 UTC\n");
    }
}
