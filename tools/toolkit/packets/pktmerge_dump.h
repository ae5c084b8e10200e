#ifndef TOOLKIT_PKTMERGE_DUMP_H
#define TOOLKIT_PKTMERGE_DUMP_H

#include <cstdint>
#include <string>

#include "toolkit/packets/pktmerge.h"
#include "toolkit/packets/pktscan_walk.h"

namespace toolkit {

// One dump as the merge reads it: opened without blocking, walked by the
// packet scanner, each telemetry packet judged against its neighbours in
// the same dump.
namespace merge {

// Opens an input for reading: a regular file (platform::OpenInput, which
// refuses folders, FIFOs and devices without blocking), reached through no
// link of another user (root's links are trusted). -1 with the reason
// otherwise.
int OpenInput(const std::string& name, FileIdentity& identity, std::string& why);

// Opens an input again for the next pass; -1 with the reason when it is no
// longer the file the first pass read.
int ReopenInput(const MergeInput& input, std::string& why);

// A telemetry packet of a dump (or a packet of the APID with another length
// field, stepped over whole enough to carry a time tag), judged.
struct DumpPacket {
    uint64_t offset = 0;
    double time = 0;            // Julian day (TAI)
    long sequence = 0;
    bool fitsRules = true;      // false: its length field is not the packet size
    const char* bytes = nullptr;
    size_t length = 0;
    // Its time tag disagrees with its sequence count and the times of the
    // packets around it in the dump, while those agree with each other.
    bool damagedTime = false;
};

class DumpVisitor
{
public:
    virtual ~DumpVisitor() = default;
    // A judged packet; false ends the walk.
    virtual bool Packet(const DumpPacket& packet) = 0;
    // Every piece that is no telemetry packet: other APIDs and damage.
    virtual void Piece(const walk::Piece&) {}
};

// A time tag and a sequence count agree when the seconds between them
// match the counts between them (modulo the 14-bit counter) to within this:
// one packet a second, give or take the sampling jitter.
const double kSequenceTimeTolerance = 0.5;

// What a walk found that tells whether its time range mattered.
struct WalkSummary {
    // The walk lost step (and resynchronised within the range) this often,
    // and found this many splices (whose continuations lie within it).
    uint64_t losses = 0, splices = 0;
    // The time range of the telemetry packets reached in step.
    bool haveStepped = false;
    double steppedMin = 0, steppedMax = 0;
    // With hashing: the file's SHA-256 and the bytes it covers.
    std::string sha256;
    uint64_t bytes = 0;
};

// Walks the dump open on fd from `from` (0, or the start of a telemetry
// packet that an earlier walk with the same time range met) and hands each
// telemetry packet to the visitor once the two after it are read: its
// neighbours are the two packets of the APID before and after it in the
// dump. False when reading fails. A walk that neither lost step nor found
// a splice is the same whatever the time range. With `hash`, the whole
// file is hashed as it is read (into the summary). Without `judge` no
// packet is found damaged: a walk again over what an earlier walk judged
// (its verdicts are the same) takes them from it.
bool WalkDump(int fd, uint64_t size, const PacketLayout& layout, double minTime, double maxTime,
              uint64_t from, DumpVisitor& visitor, std::string& error, WalkSummary* summary = nullptr,
              bool hash = false, bool judge = true);

} // namespace merge

} // namespace toolkit

#endif
