#include "toolkit/products/oem.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "toolkit/time/isotime.h"
#include "toolkit/time/unixtime.h"
#include "toolkit/cli/text.h"
#include "vn_class_quality_flags.h"

namespace toolkit {

namespace {

// A header text as one line of printable characters: up to its first zero
// byte, trailing blanks dropped, other bytes escaped.
std::string Trimmed(const std::string& field)
{
    std::string s = PrintableField(field.substr(0, field.find('\0')));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

} // namespace

std::vector<Segment> SegmentsAtLargeGaps(const std::vector<ProductRecord>& r)
{
    std::vector<Segment> out;
    if (r.empty()) return out;
    Segment s;
    for (size_t i = 0; i + 1 < r.size(); ++i)
        if ((r[i].flags & quality_flags::lgf) || (r[i + 1].flags & quality_flags::lgb)) {
            s.last = i;
            out.push_back(s);
            s.first = i + 1;
        }
    s.last = r.size() - 1;
    out.push_back(s);
    return out;
}

std::string UnusableRecord(const std::vector<ProductRecord>& r, size_t valueCount,
                           const char* what)
{
    static const char* const names[2][6] = {{"x", "y", "z", "vx", "vy", "vz"},
                                            {"angle 1", "angle 2", "angle 3", "rate 1",
                                             "rate 2", "rate 3"}};
    const int kind = valueCount == 6 ? 0 : 1;
    if (r.empty()) return std::string("the ") + what + " file holds no records";
    for (size_t i = 0; i < r.size(); ++i) {
        auto rec = [&]() { return std::string(what) + " record " + std::to_string(i); };
        if (!std::isfinite(r[i].tai93)) return rec() + " has no finite time";
        for (size_t j = 0; j < valueCount && j < 6; ++j)
            if (!std::isfinite(r[i].v[j]))
                return rec() + " (" + IsoTaiFromTai93(r[i].tai93, 3) + " TAI) has " +
                       (std::isnan(r[i].v[j]) ? "NaN" : "an infinite value") + " as " +
                       names[kind][j];
        if (i > 0 && !(r[i].tai93 > r[i - 1].tai93))
            return rec() + " has time " + FixedText(r[i].tai93, 6) + " s, not after the " +
                   FixedText(r[i - 1].tai93, 6) + " s of the record before it";
    }
    return "";
}

int SegmentDegree(const Segment& s, int wanted)
{
    const long points = static_cast<long>(s.last - s.first) + 1;
    return static_cast<int>(std::min<long>(wanted, points - 1));
}

std::vector<std::string> ProvenanceComments(const Product& eph, const std::string& program)
{
    std::vector<std::string> c;
    c.push_back("Source " + Trimmed(eph.header.source) + ", Version " +
                Trimmed(eph.header.version) + ", SpacecraftID " +
                Trimmed(eph.header.spacecraftId));
    if (eph.kind == ProductKind::Ephemeris) {
        if (eph.eph.epochTai93 >= 0 && std::isfinite(eph.eph.epochTai93))
            c.push_back("Element set epoch " + IsoTaiFromTai93(eph.eph.epochTai93, 6) + " TAI");
        else
            c.push_back("No element set: the product carries no orbit elements");
    }
    c.push_back("Written by " + program);
    return c;
}

void WriteHeaderNames(std::ostream& os, const MessageOptions& o)
{
    os << "CREATION_DATE = " << o.creationDate << "\n";
    os << "ORIGINATOR = " << o.originator << "\n";
    if (!o.messageId.empty()) os << "MESSAGE_ID = " << o.messageId << "\n";
}

void WriteSegmentStart(std::ostream& os, const MessageOptions& o, size_t k, size_t count,
                       const Segment& s)
{
    os << "\nMETA_START\n";
    os << "COMMENT Segment " << k + 1 << " of " << count << ": records " << s.first << " to "
       << s.last << "\n";
    os << "OBJECT_NAME = " << o.objectName << "\n";
    os << "OBJECT_ID = " << o.objectId << "\n";
    os << "CENTER_NAME = EARTH\n";
}

void WriteSegmentSpan(std::ostream& os, double startTai93, double stopTai93)
{
    os << "TIME_SYSTEM = TAI\n";
    os << "START_TIME = " << IsoTaiFromTai93(startTai93, 6) << "\n";
    os << "STOP_TIME = " << IsoTaiFromTai93(stopTai93, 6) << "\n";
}

void WriteMessageStart(std::ostream& os, const std::string& versionLine, const MessageOptions& o,
                       const char* what, const std::vector<ProductRecord>& records, size_t segments)
{
    os << versionLine << "\n";
    for (const std::string& c : o.comments) os << "COMMENT " << c << "\n";
    os << "COMMENT " << records.size() << " " << what << " in " << segments
       << (segments == 1 ? " segment, " : " segments, ") << CountRecords(records).repaired
       << " of them interpolated across short telemetry gaps\n";
}

bool CreationDate(std::string& date, std::string& error)
{
    std::time_t when = std::time(nullptr);
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch && *epoch) {
        // A whole number of seconds, no sign, up to the end of the year 9999.
        const std::string text = epoch;
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
        if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0 || v > 253402300799ULL) {
            error = "SOURCE_DATE_EPOCH: \"" + PrintableField(text) +
                    "\" is not a whole number of seconds since 1970-01-01 00:00:00 UTC";
            return false;
        }
        when = static_cast<std::time_t>(v);
    }
    date = IsoUtcFromUnixSeconds(when);
    return true;
}

void WriteOem(std::ostream& os, const Product& eph, const MessageOptions& o)
{
    const std::vector<Segment> segments = SegmentsAtLargeGaps(eph.records);
    WriteMessageStart(os, "CCSDS_OEM_VERS = " + o.version, o, "states", eph.records, segments.size());
    WriteHeaderNames(os, o);

    DataLines lines(os);
    for (size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        WriteSegmentStart(os, o, k, segments.size(), s);
        os << "REF_FRAME = EME2000\n";
        WriteSegmentSpan(os, eph.records[s.first].tai93, eph.records[s.last].tai93);
        os << "INTERPOLATION = LAGRANGE\n";
        os << "INTERPOLATION_DEGREE = " << SegmentDegree(s, o.degree) << "\n";
        os << "META_STOP\n\n";
        // epoch x y z vx vy vz: km with 6 decimals, km/s with 9.
        for (size_t i = s.first; i <= s.last; ++i) {
            const ProductRecord& r = eph.records[i];
            lines.Begin(r.tai93);
            for (int j = 0; j < 6; ++j) lines.Value(r.v[j] / 1e3, j < 3 ? 6 : 9);
            lines.End();
        }
        lines.Flush();
    }
}

} // namespace toolkit
