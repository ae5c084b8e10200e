#include "toolkit_oem.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "toolkit_isotime.h"

namespace toolkit {

namespace {

const uint32_t kRepaired = 0x20;
const uint32_t kLargeGapBefore = 0x40;
const uint32_t kLargeGapAfter = 0x200;

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
        if ((r[i].flags & kLargeGapAfter) || (r[i + 1].flags & kLargeGapBefore)) {
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
        const std::string rec = std::string(what) + " record " + std::to_string(i);
        if (!std::isfinite(r[i].tai93)) return rec + " has no finite time";
        for (size_t j = 0; j < valueCount && j < 6; ++j)
            if (!std::isfinite(r[i].v[j]))
                return rec + " (" + IsoTaiFromTai93(r[i].tai93, 3) + " TAI) has " +
                       (std::isnan(r[i].v[j]) ? "NaN" : "an infinite value") + " as " +
                       names[kind][j];
        if (i > 0 && !(r[i].tai93 > r[i - 1].tai93))
            return rec + " has time " + FixedText(r[i].tai93, 6) + " s, not after the " +
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

void WriteOem(std::ostream& os, const Product& eph, const MessageOptions& o)
{
    const std::vector<Segment> segments = SegmentsAtLargeGaps(eph.records);
    size_t repaired = 0;
    for (const ProductRecord& r : eph.records) repaired += (r.flags & kRepaired) != 0;
    os << "CCSDS_OEM_VERS = " << o.version << "\n";
    for (const std::string& c : o.comments) os << "COMMENT " << c << "\n";
    os << "COMMENT " << eph.records.size() << " states in " << segments.size()
       << (segments.size() == 1 ? " segment, " : " segments, ") << repaired
       << " of them interpolated across short telemetry gaps\n";
    os << "CREATION_DATE = " << o.creationDate << "\n";
    os << "ORIGINATOR = " << o.originator << "\n";
    if (!o.messageId.empty()) os << "MESSAGE_ID = " << o.messageId << "\n";

    char line[256];
    for (size_t k = 0; k < segments.size(); ++k) {
        const Segment& s = segments[k];
        os << "\nMETA_START\n";
        os << "COMMENT Segment " << k + 1 << " of " << segments.size() << ": records "
           << s.first << " to " << s.last << "\n";
        os << "OBJECT_NAME = " << o.objectName << "\n";
        os << "OBJECT_ID = " << o.objectId << "\n";
        os << "CENTER_NAME = EARTH\n";
        os << "REF_FRAME = EME2000\n";
        os << "TIME_SYSTEM = TAI\n";
        os << "START_TIME = " << IsoTaiFromTai93(eph.records[s.first].tai93, 6) << "\n";
        os << "STOP_TIME = " << IsoTaiFromTai93(eph.records[s.last].tai93, 6) << "\n";
        os << "INTERPOLATION = LAGRANGE\n";
        os << "INTERPOLATION_DEGREE = " << SegmentDegree(s, o.degree) << "\n";
        os << "META_STOP\n\n";
        for (size_t i = s.first; i <= s.last; ++i) {
            const ProductRecord& r = eph.records[i];
            std::snprintf(line, sizeof line, "%s %.6f %.6f %.6f %.9f %.9f %.9f\n",
                          IsoTaiFromTai93(r.tai93, 6).c_str(), r.v[0] / 1e3, r.v[1] / 1e3,
                          r.v[2] / 1e3, r.v[3] / 1e3, r.v[4] / 1e3, r.v[5] / 1e3);
            os << line;
        }
    }
}

} // namespace toolkit
