#ifndef TOOLKIT_PKTMERGE_H
#define TOOLKIT_PKTMERGE_H

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "toolkit/packets/pktscan.h"

namespace toolkit {

// The level-0 merge of recorder dumps: the telemetry packets of many packet
// files (overlapping, repeated, cut, damaged, in any order) as one stream of
// the APID, in time order, one packet per time tag, each packet the bytes of
// one copy in one input, with a record of what went in, what was resolved
// and what is still missing. Inputs are read by the packet scanner's walk
// (pktscan_walk.h) and judged by trokproc's packet rules
// (vn_proc_PacketRules.h).
//
// Memory: the work is done a UTC day at a time. A first pass over each
// input (streaming) learns its content hash and which days its packets
// touch, and where in it they lie; then each day is merged from the inputs
// that touch it, so that what is held is one day's distinct copies (each
// copy's inputs listed up to kListedSources) and the report.

// The merge's UTC days (toolkit/time/utcday.h), as days since 1970-01-01.
using MergeDay = long;

// Where one input's packets of a day lie: from the packet two before the
// first one of the day (its neighbours in the dump are judged with it) to
// the last one of the day.
struct DayStretch {
    uint64_t from = 0;
    uint64_t last = 0;
    uint64_t packets = 0;   // packets of the day that passed the dump's own test
    double firstTai93 = 0, lastTai93 = 0;   // the earliest and latest of their time tags
};

// The identity of an input file between the passes: a file replaced or
// written to meanwhile fails the merge.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileIdentity& o) const
    {
        return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
    }
};

struct MergeInput {
    std::string name;
    std::string sha256;          // "" when it could not be read
    uint64_t bytes = 0;
    uint64_t packets = 0;        // telemetry packets found in it
    uint64_t used = 0;           // packets of the output taken from it
    std::string duplicateOf;     // the first input in report order with the same content
    std::string refused;         // why nothing of it can be used; "" when usable
    FileIdentity identity;
    // The time range (Julian days) in which the walk resynchronises after
    // damage: that of the packets read in step, an hour either side.
    double minTime = 0, maxTime = 0;
    std::map<MergeDay, DayStretch> days;
    std::vector<uint64_t> damagedTimes;   // offsets of its packets with damaged time tags, in order

    bool Usable() const { return refused.empty() && duplicateOf.empty(); }
};

// One place a copy was found.
struct MergeSource {
    uint32_t input = 0;   // index into MergeReport::inputs
    uint64_t offset = 0;
};

// Copies of a packet listed with their places up to this many inputs.
const size_t kListedSources = 8;

// One distinct copy of a packet in a conflict.
struct MergeCopy {
    std::vector<MergeSource> sources;
    uint64_t moreSources = 0;     // places beyond the listed ones
    uint32_t votes = 0;           // inputs that hold this copy
    double tai93 = 0;
    std::string rule;             // the packet rule it breaks; "" when none
    // How it fits the neighbouring packets of the merged stream, when that
    // decided: position and velocity by the kinematic test (statecheck.h),
    // the attitude by its turn from the neighbours' over what their rates
    // allow, its rates against theirs, and its quaternion's norm.
    bool fitted = false;
    double positionOff = 0, velocityOff = 0, attitudeTurn = 0, rateOff = 0, normOff = 0, misfit = 0;
};

struct MergeConflict {
    double tai93 = 0;             // time tag of the chosen copy
    std::vector<MergeCopy> copies;
    size_t chosen = 0;
    std::string reason;           // "packet-rules", "majority", "best-fit" or "no-neighbours"
};

struct MergeDrop {
    uint32_t input = 0;
    uint64_t offset = 0;
    std::string reason;           // "splice", "damaged time tag", "bad header", "bad length", "cut", "not packets"
    uint64_t bytes = 0;
    bool haveTime = false;
    double tai93 = 0;             // the time tag it carries
};

struct MergeGap {
    double startTai93 = 0, endTai93 = 0;
};

struct MergeReport {
    PacketLayout layout;
    std::string satellite;
    std::vector<MergeInput> inputs;   // sorted by content hash, then name
    std::vector<MergeConflict> conflicts;
    std::vector<MergeDrop> dropped;
    std::vector<MergeGap> gaps;
    std::map<unsigned, uint64_t> otherApids;   // packets of other APIDs, not carried
    uint64_t repeats = 0;          // copies of carried packets, not carried again
    uint64_t packets = 0;          // packets written
    double firstTai93 = 0, lastTai93 = 0;
    std::vector<std::pair<MergeDay, uint64_t>> days;   // days written and their packets

    size_t Refused() const;
    size_t Duplicates() const;
};

// First pass: every input named once, opened without blocking (a folder,
// FIFO, device or link of another user is refused), walked for the days
// its packets touch and hashed as it is read, then put in report order
// with its duplicates marked. `names` may repeat a name; it counts once.
// An input that cannot be opened or read is refused, with the reason.
void SurveyInputs(const std::vector<std::string>& names, MergeReport& report);

// The days the usable inputs have packets on, in order.
std::vector<MergeDay> MergeDays(const MergeReport& report);

// What carries from one merged day to the next: the last packet written,
// for the neighbours of a conflict and for the gaps.
struct MergeCarry {
    bool have = false;
    std::string bytes;
};

// Where the merged packets go.
class MergeSink
{
public:
    virtual ~MergeSink() = default;
    virtual void Write(const char* bytes, size_t n) = 0;
};

// Second pass, one day: the day's packets in time order to `out`, the
// report brought up to date. False when an input cannot be read again or
// is no longer the file the first pass read (`error` says which).
bool MergeOneDay(MergeDay day, MergeReport& report, MergeCarry& carry, MergeSink& out, std::string& error);

// The report as one JSON object (a line), and as a few lines for people.
std::string MergeJson(const MergeReport& report);
std::string MergeSummary(const MergeReport& report);

} // namespace toolkit

#endif
