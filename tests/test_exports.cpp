// qlrdump --oem and --aem on simulated days, read back by a strict reader of
// the CCSDS message layouts (keywords, order, counts, formats) written here,
// and the exported attitudes against the quaternions the simulator sent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "toolkit_aem.h"
#include "toolkit_qlrproduct.h"
#include "toolkit_quaternion.h"
#include "vn_proc_FormatConvert.h"

namespace {

const std::string kTrokgen = TROKGEN_PATH;
const std::string kTrokproc = TROKPROC_PATH;
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
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// "YYYY-MM-DDThh:mm:ss[.d...]": seconds since 2000-01-01, or NaN when the
// text is not in that form (fields in range, leading zeros).
double EpochSeconds(const std::string& t)
{
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':')
        return std::nan("");
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
        if (t[i] < '0' || t[i] > '9') return std::nan("");
    if (t.size() > 19) {
        if (t[19] != '.' || t.size() == 20) return std::nan("");
        for (size_t i = 20; i < t.size(); ++i)
            if (t[i] < '0' || t[i] > '9') return std::nan("");
    }
    const int y = std::stoi(t.substr(0, 4)), mo = std::stoi(t.substr(5, 2)),
              d = std::stoi(t.substr(8, 2)), h = std::stoi(t.substr(11, 2)),
              mi = std::stoi(t.substr(14, 2));
    const double s = std::stod(t.substr(17));
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s >= 61.0) return std::nan("");
    // Days from civil date (proleptic Gregorian), counted from 2000-03-01.
    const int yy = mo <= 2 ? y - 1 : y, mm = mo <= 2 ? mo + 9 : mo - 3;
    const long days = 365L * (yy - 2000) + (yy - 2000) / 4 - (yy - 2000) / 100 +
                      (yy - 2000) / 400 + (153 * mm + 2) / 5 + d - 1 + 60;
    return days * 86400.0 + h * 3600.0 + mi * 60.0 + s;
}

bool Number(const std::string& text, double& v)
{
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(v);
}

// Reads `text` as an OEM (aem false) or AEM; returns why it is not one, or
// "" and the message.
std::string ReadKvn(const std::string& text, bool aem, KvnMessage& m)
{
    std::vector<std::string> lines;
    {
        std::istringstream in(text);
        std::string l;
        while (std::getline(in, l)) {
            l = Trim(l);
            if (!l.empty()) lines.push_back(l);
        }
    }
    size_t i = 0;
    auto kv = [&](const std::string& line, std::string& key, std::string& value) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        key = Trim(line.substr(0, eq));
        value = Trim(line.substr(eq + 1));
        return !key.empty() && !value.empty();
    };
    std::string key, value;
    const std::string versionKey = aem ? "CCSDS_AEM_VERS" : "CCSDS_OEM_VERS";
    if (lines.empty() || !kv(lines[0], key, value) || key != versionKey)
        return "the first line is not " + versionKey;
    m.version = value;
    if (aem ? value != "2.0" : value != "2.0" && value != "3.0") return "version " + value;
    const bool v3 = !aem && value == "3.0";
    const bool hasMessageId = aem || v3;
    ++i;
    while (i < lines.size() && lines[i].rfind("COMMENT", 0) == 0) ++i;
    const std::vector<std::string> headerOrder = {"CLASSIFICATION", "CREATION_DATE",
                                                  "ORIGINATOR", "MESSAGE_ID"};
    size_t at = 0;
    for (; i < lines.size() && lines[i] != "META_START"; ++i) {
        if (!kv(lines[i], key, value)) return "header line \"" + lines[i] + "\"";
        size_t k = at;
        while (k < headerOrder.size() && headerOrder[k] != key) ++k;
        if (k == headerOrder.size()) return "header keyword " + key + " out of order or unknown";
        if ((key == "MESSAGE_ID" || key == "CLASSIFICATION") && !hasMessageId)
            return key + " in a version " + m.version + " header";
        m.header[key] = value;
        at = k + 1;
    }
    if (!m.header.count("CREATION_DATE") || !m.header.count("ORIGINATOR"))
        return "header without CREATION_DATE or ORIGINATOR";
    if (std::isnan(EpochSeconds(m.header["CREATION_DATE"]))) return "CREATION_DATE format";

    const std::vector<std::string> metaOrder =
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
    if (i == lines.size()) return "no metadata block";
    while (i < lines.size()) {
        if (lines[i] != "META_START") return "\"" + lines[i] + "\" where META_START belongs";
        KvnSegment s;
        ++i;
        while (i < lines.size() && lines[i].rfind("COMMENT", 0) == 0) ++i;
        at = 0;
        for (; i < lines.size() && lines[i] != "META_STOP"; ++i) {
            if (!kv(lines[i], key, value)) return "metadata line \"" + lines[i] + "\"";
            size_t k = at;
            while (k < metaOrder.size() && metaOrder[k] != key) ++k;
            if (k == metaOrder.size()) return "metadata keyword " + key + " out of order or unknown";
            s.meta[key] = value;
            at = k + 1;
        }
        if (i == lines.size()) return "metadata without META_STOP";
        ++i;
        for (const std::string& k : mandatory)
            if (!s.meta.count(k)) return "metadata without " + k;
        const std::string interp = aem ? "INTERPOLATION_METHOD" : "INTERPOLATION";
        if (s.meta.count(interp) != s.meta.count("INTERPOLATION_DEGREE"))
            return interp + " without INTERPOLATION_DEGREE or the other way round";
        size_t count = 6;
        if (aem) {
            if (s.meta["ATTITUDE_TYPE"] != "QUATERNION") return "ATTITUDE_TYPE " + s.meta["ATTITUDE_TYPE"];
            count = 4;
            if (i == lines.size() || lines[i] != "DATA_START") return "no DATA_START";
            ++i;
        }
        while (i < lines.size() && lines[i].rfind("COMMENT", 0) == 0) ++i;
        for (; i < lines.size(); ++i) {
            if (aem && lines[i] == "DATA_STOP") break;
            if (!aem && (lines[i] == "META_START" || lines[i] == "COVARIANCE_START")) break;
            std::istringstream in(lines[i]);
            std::string epoch, field;
            in >> epoch;
            std::vector<double> v;
            double x = 0;
            while (in >> field) {
                if (!Number(field, x)) return "data field \"" + field + "\" in \"" + lines[i] + "\"";
                v.push_back(x);
            }
            if (std::isnan(EpochSeconds(epoch))) return "epoch \"" + epoch + "\"";
            if (v.size() != count && !(!aem && v.size() == 9))
                return std::to_string(v.size()) + " values in \"" + lines[i] + "\"";
            s.epochs.push_back(epoch);
            s.values.push_back(v);
        }
        if (aem) {
            if (i == lines.size()) return "no DATA_STOP";
            ++i;
        }
        if (s.epochs.empty()) return "a segment without data";
        m.segments.push_back(s);
    }
    // Whole-message rules: one time system, segments in time order, epochs
    // strictly increasing, START/STOP the first and last epoch, interpolation
    // degree within the points of its segment.
    for (size_t k = 0; k < m.segments.size(); ++k) {
        KvnSegment& s = m.segments[k];
        if (s.meta["TIME_SYSTEM"] != m.segments[0].meta["TIME_SYSTEM"]) return "TIME_SYSTEM changes";
        if (s.meta["START_TIME"] != s.epochs.front()) return "START_TIME is not the first epoch";
        if (s.meta["STOP_TIME"] != s.epochs.back()) return "STOP_TIME is not the last epoch";
        for (size_t j = 1; j < s.epochs.size(); ++j)
            if (!(EpochSeconds(s.epochs[j]) > EpochSeconds(s.epochs[j - 1])))
                return "epoch " + s.epochs[j] + " does not follow " + s.epochs[j - 1];
        if (k > 0 && !(EpochSeconds(s.epochs.front()) >
                       EpochSeconds(m.segments[k - 1].epochs.back())))
            return "segment " + std::to_string(k) + " starts before the previous one ends";
        if (s.meta.count("INTERPOLATION_DEGREE")) {
            double d = 0;
            const std::string& t = s.meta["INTERPOLATION_DEGREE"];
            if (!Number(t, d) || d != std::floor(d) || d < 0 || t.find('.') != std::string::npos)
                return "INTERPOLATION_DEGREE " + t;
            if (d > static_cast<double>(s.epochs.size()) - 1) return "degree above the points - 1";
        }
        if (aem)
            for (const std::vector<double>& q : s.values)
                if (std::fabs(std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]) - 1) > 1e-9)
                    return "a quaternion that is not of unit length";
    }
    return "";
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// ---- Runs -----------------------------------------------------------------

ProgramResult RunIn(const std::string& dir, const std::vector<std::string>& argv)
{
    return RunProgram(argv, dir);
}

// A simulated span through trokgen and trokproc in `dir`: name.pkt,
// name.eph, name.att.
void MakeProducts(const std::string& dir, const std::string& name,
                  const std::vector<std::string>& trokgenOptions)
{
    std::vector<std::string> g{kTrokgen, "--out", name + ".pkt", "--tle", name + ".tle",
                               "--config", name + ".cfg"};
    g.insert(g.end(), trokgenOptions.begin(), trokgenOptions.end());
    ProgramResult r = RunIn(dir, g);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunIn(dir, {kTrokproc, "-configfile", name + ".cfg"});
    ASSERT_EQ(r.status, 0) << r.err;
}

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
        if (eph.records[i].flags & 0x20) continue;   // interpolated by trokproc
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
    MakeProducts(dir, "day", {"--seconds", "86400", "--large-gaps", "3", "--small-gaps", "4",
                              "--seed", "11"});
    const Product eph = ReadOrFail(dir + "/day.eph");

    ProgramResult r = RunIn(dir, {kQlrdump, "--oem", "day.eph", "--out", "day.oem", "--object-id",
                                "2026-999A", "--originator", "ESOC"});
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
        // START/STOP are the first and last record's epochs; the first
        // state is the record's position in km.
        EXPECT_NEAR(EpochSeconds(s.meta.at("START_TIME")) - EpochSeconds(s.meta.at("STOP_TIME")),
                    eph.records[firsts[k]].tai93 - eph.records[last].tai93, 2e-6);
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

    // OEM 3.0 adds MESSAGE_ID; the degree option is honoured; without
    // --object-id the object is UNKNOWN.
    r = RunIn(dir, {kQlrdump, "--oem", "day.eph", "--oem-version", "3.0", "--interpolation-degree",
                  "5", "--message-id", "DAY-1"});
    ASSERT_EQ(r.status, 0) << r.err;
    KvnMessage m3;
    ASSERT_EQ(ReadKvn(r.out, false, m3), "");
    EXPECT_EQ(m3.version, "3.0");
    EXPECT_EQ(m3.header["MESSAGE_ID"], "DAY-1");
    EXPECT_EQ(m3.segments.size(), 4u);
    EXPECT_EQ(m3.segments[1].meta.at("INTERPOLATION_DEGREE"), "5");
    EXPECT_EQ(m3.segments[1].meta.at("OBJECT_ID"), "UNKNOWN");

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--oem-version", "2.5"}, {"--interpolation-degree", "0"},
          {"--interpolation-degree", "x"}}) {
        std::vector<std::string> argv{kQlrdump, "--oem", "day.eph"};
        argv.insert(argv.end(), bad.begin(), bad.end());
        r = RunIn(dir, argv);
        EXPECT_EQ(r.status, 255) << bad[0] << " " << bad[1];
        EXPECT_NE(r.err.find(bad[0]), std::string::npos) << r.err;
    }
}

TEST(Exports, NonFiniteValuesAndDisagreeingPairsRefuseTheExport)
{
    const std::string dir = FreshTestDir();
    MakeProducts(dir, "p", {"--seconds", "3000", "--seed", "3"});
    const std::string eph = ReadFile(dir + "/p.eph"), att = ReadFile(dir + "/p.att");
    char nan8[8];
    FormatConvert_float8(std::nan(""), nan8);

    // vy of ephemeris record 100, then angle 2 of attitude record 200.
    std::string b = eph;
    b.replace(512 + 64 * 100 + 8 + 8 * 4, 8, std::string(nan8, 8));
    WriteFile(dir + "/p.eph", b);
    ProgramResult r = RunIn(dir, {kQlrdump, "--oem", "p.eph", "--out", "p.oem"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ephemeris record 100 ("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("NaN as vy"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/p.oem")) << "nothing is written";
    r = RunIn(dir, {kQlrdump, "--aem", "p.eph", "p.att", "--out", "p.aem"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ephemeris record 100"), std::string::npos) << r.err;

    WriteFile(dir + "/p.eph", eph);
    b = att;
    b.replace(512 + 64 * 200 + 16, 8, std::string(nan8, 8));
    WriteFile(dir + "/p.att", b);
    r = RunIn(dir, {kQlrdump, "--aem", "p.eph", "p.att", "--out", "p.aem"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("attitude record 200 ("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not all finite"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/p.aem"));

    // A pair that does not belong together, and files in the wrong order.
    WriteFile(dir + "/p.att", att.substr(0, 72) + "KIRU" + att.substr(76));
    r = RunIn(dir, {kQlrdump, "--aem", "p.eph", "p.att"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("common headers of the two files differ (Source)"), std::string::npos);
    WriteFile(dir + "/p.att", att);
    r = RunIn(dir, {kQlrdump, "--aem", "p.att", "p.eph"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("is an attitude file; this needs an ephemeris file"), std::string::npos);
    r = RunIn(dir, {kQlrdump, "--aem", "p.eph", "p.att", "--frame", "body"});
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
        MakeProducts(dir, c.name, c.options);
        const Product eph = ReadOrFail(dir + "/" + c.name + ".eph");
        const std::string n = c.name;
        const ProgramResult r = RunIn(dir, {kQlrdump, "--aem", n + ".eph", n + ".att", "--out",
                                          n + ".aem", "--object-id", "2026-999A"});
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
    MakeProducts(dir, "nadir", {"--seconds", "3000", "--wobble", "0", "--seed", "9"});
    const ProgramResult r = RunIn(dir, {kQlrdump, "--aem", "nadir.eph", "nadir.att", "--frame", "orbital"});
    ASSERT_EQ(r.status, 0) << r.err;
    KvnMessage m;
    ASSERT_EQ(ReadKvn(r.out, true, m), "");
    EXPECT_EQ(m.segments[0].meta["REF_FRAME_A"], "LVLH_ROTATING");
    const double identity[4] = {0, 0, 0, 1};
    for (const std::vector<double>& q : m.segments[0].values)
        ASSERT_LT(AngleBetween(q.data(), identity), 1e-9);
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
    MakeProducts(dir, "big", {"--seconds", "3000", "--seed", "2", "--wobble-deg", "40,40,40"});
    const ProgramResult r = RunIn(dir, {kQlrdump, "--aem", "big.eph", "big.att", "--out", "big.aem"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qlrdump: cannot export \"big.att\": attitude record "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("do not determine it uniquely"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir + "/big.aem"));
}
