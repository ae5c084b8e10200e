#ifndef TOOLKIT_OEM_H
#define TOOLKIT_OEM_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "toolkit/cli/text.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/time/isotime.h"

namespace toolkit {

// CCSDS Orbit Ephemeris Message (KVN) from an ephemeris product, and the
// segmentation at large telemetry gaps that the attitude export shares.

// Records first .. last (inclusive) of a product: a stretch of data without
// a large gap inside.
struct Segment {
    size_t first = 0, last = 0;
};

// The product's records cut at every large gap: a record flagged "a large
// gap follows" ends a segment and a record flagged "a large gap precedes"
// starts one. Empty for a product without records.
std::vector<Segment> SegmentsAtLargeGaps(const std::vector<ProductRecord>& records);

// Why the records cannot go into a message: none at all, a time or value that is not a
// finite number, or a time not after the one before it. Names the first such
// record (counted from 0); empty when every record is usable. `valueCount`
// values of each record are checked (6: position and velocity; 3: angles).
std::string UnusableRecord(const std::vector<ProductRecord>& records, size_t valueCount,
                           const char* what);

// Interpolation degree written for a segment: the one asked for, but never
// more than the segment's points minus one.
int SegmentDegree(const Segment& s, int wanted);

struct MessageOptions {
    std::string objectName = "UNKNOWN";
    std::string objectId = "UNKNOWN";
    std::string originator = "TROKPROC";
    std::string creationDate;      // UTC, YYYY-MM-DDThh:mm:ss
    std::string messageId;         // written when not empty (OEM 3.0, AEM)
    std::string version = "2.0";   // OEM: 2.0 or 3.0
    int degree = 7;                // Lagrange interpolation degree
    std::vector<std::string> comments;   // header COMMENT lines, without the keyword
};

// The parts of a message that the OEM and the AEM share: CREATION_DATE,
// ORIGINATOR and MESSAGE_ID (when given) at the end of the header; the
// start of segment k of `count` (META_START, a COMMENT naming its records,
// OBJECT_NAME, OBJECT_ID and CENTER_NAME).
void WriteHeaderNames(std::ostream& os, const MessageOptions& o);
void WriteSegmentStart(std::ostream& os, const MessageOptions& o, size_t k, size_t count,
                       const Segment& s);
// The segment's TIME_SYSTEM (TAI), START_TIME and STOP_TIME lines.
void WriteSegmentSpan(std::ostream& os, double startTai93, double stopTai93);

// The data lines of a message, each an epoch (TAI, to the microsecond) and
// values, gathered into writes of about 1 MiB.
class DataLines
{
public:
    explicit DataLines(std::ostream& os) : os_(os), epoch_(6) {}

    void Begin(double tai93) { epoch_.Append(block_, tai93); }
    void Value(double v, int decimals)
    {
        block_ += ' ';
        AppendFixed(block_, v, decimals);
    }
    void End()
    {
        block_ += '\n';
        if (block_.size() >= kBlock) Flush();
    }
    // Hands what is gathered to the stream.
    void Flush()
    {
        os_.write(block_.data(), static_cast<std::streamsize>(block_.size()));
        block_.clear();
    }

private:
    static const size_t kBlock = 1 << 20;
    std::ostream& os_;
    IsoTaiWriter epoch_;
    std::string block_;
};

// The first lines of a message: `versionLine`, the COMMENT lines of the
// options, and one that counts the records (`what`: "states",
// "attitudes"), the segments and the records interpolated across short
// telemetry gaps.
void WriteMessageStart(std::ostream& os, const std::string& versionLine, const MessageOptions& o,
                       const char* what, const std::vector<ProductRecord>& records, size_t segments);

// CREATION_DATE of a message, UTC as YYYY-MM-DDThh:mm:ss: the time that
// SOURCE_DATE_EPOCH gives, when it is set and not empty, so that the same
// inputs give the same message; otherwise the current time. False, with the
// reason, when SOURCE_DATE_EPOCH is not a whole number of seconds since 1970
// (up to the end of the year 9999).
bool CreationDate(std::string& date, std::string& error);

// The header COMMENT lines that name the source product and the writer:
// Source, Version and SpacecraftID texts, element-set epoch (TAI), and the
// writing program with its version.
std::vector<std::string> ProvenanceComments(const Product& eph, const std::string& program);

// Writes the OEM: header, then per segment a metadata block (EME2000, TAI,
// its own START_TIME and STOP_TIME, LAGRANGE interpolation) and one line per
// record, epoch x y z vx vy vz in km and km/s. The caller checks the records
// first (UnusableRecord).
void WriteOem(std::ostream& os, const Product& eph, const MessageOptions& options);

} // namespace toolkit

#endif
