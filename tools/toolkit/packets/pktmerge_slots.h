#ifndef TOOLKIT_PKTMERGE_SLOTS_H
#define TOOLKIT_PKTMERGE_SLOTS_H

#include <cstdint>
#include <vector>

#include "toolkit/packets/pktmerge.h"
#include "toolkit/packets/pktmerge_dump.h"

namespace toolkit {

namespace merge {

const uint32_t kNone = 0xFFFFFFFFu;

// Copies of a packet whose sequence counts are equal and whose time tags
// lie closer than this are copies of one packet, one of them with a
// damaged time tag: at one packet a second no two packets are that close.
const double kNearSeconds = 0.5;

// One distinct copy (byte for byte) of a packet of the day.
struct Variant {
    size_t at = 0, length = 0;   // its bytes in the day's store
    double time = 0;             // Julian day (TAI)
    long sequence = 0;
    bool fitsRules = true;
    uint32_t votes = 0;          // inputs that hold it
    uint32_t occurrences = 0;    // places it was found, repeats in one input included
    uint32_t firstInput = 0, lastInput = kNone;
    uint32_t firstSource = kNone, lastSource = kNone, listed = 0;
    uint64_t moreSources = 0;
    uint32_t nextInSlot = kNone;   // the next distinct copy of the same time tag
    uint32_t nextTime = kNone;     // the first copy: the next time tag of its second
};

// The copies of one day's packets from every input, each distinct copy
// kept once, found by the second of the day their time tag falls in.
class DaySlots
{
public:
    // The day from TAI93 `start` to `end`, with room for about `copies`
    // copies of `size` bytes, as the first pass counted them.
    DaySlots(double start, double end, size_t copies, size_t size);

    // A copy whose time tag lies in the day.
    void Add(uint32_t input, const DumpPacket& p);

    // The distinct copies, one group for each packet of the stream (the
    // copies of a time tag, with those of the same sequence count within
    // kNearSeconds), groups in time order. `starts` gets where each group
    // begins in the list returned, and one more entry: its end.
    std::vector<uint32_t> Groups(std::vector<size_t>& starts) const;

    const Variant& operator[](uint32_t v) const { return variants[v]; }
    const char* Bytes(const Variant& v) const { return store.data() + v.at; }
    // The copy as the report lists it.
    MergeCopy Listed(uint32_t v) const;
    // The places the copy was found (the listed ones).
    std::vector<MergeSource> Sources(uint32_t v) const;

private:
    struct Source {
        MergeSource place;
        uint32_t next = kNone;
    };

    double start;
    std::vector<char> store;
    std::vector<Variant> variants;
    std::vector<Source> sources;
    // For each second of the day the first copy of its first time tag; the
    // time tags of a second are chained by nextTime, in increasing order.
    std::vector<uint32_t> seconds;
};

} // namespace merge

} // namespace toolkit

#endif
