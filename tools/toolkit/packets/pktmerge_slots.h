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
    double time = 0;             // Julian day (TAI)
    size_t at = 0;               // its bytes in the day's store
    uint64_t firstOffset = 0;    // where it was found first, in firstInput
    uint32_t votes = 0;          // inputs that hold it
    uint32_t occurrences = 0;    // places it was found, repeats in one input included
    uint32_t firstInput = 0, lastInput = kNone;
    uint32_t moreSources = 0;    // places found beyond the listed ones
    uint32_t otherSources = kNone;   // the listed places after the first
    uint32_t nextInSlot = kNone;     // the next distinct copy of the same time tag
    uint32_t nextTime = kNone;       // the first copy: the next time tag of its second
    uint16_t length = 0;
    uint16_t sequence = 0;
    uint8_t listed = 0;
    bool fitsRules = true;
};

// The copies of one day's packets from every input, each distinct copy
// kept once, found by the second of the day their time tag falls in. The
// day is kept in two parts, its halves, which two threads may fill at once
// (each part's copies added in report order by one of them): the copies
// are those sequential adding gives.
class DaySlots
{
public:
    static const int kParts = 2;

    // The day from TAI93 `start` to `end`, with room for about `copies`
    // copies of `size` bytes, as the first pass counted them.
    DaySlots(double start, double end, size_t copies, size_t size);

    // The part of the day the TAI93 instant falls in.
    int PartOf(double tai93) const { return Second(tai93) >= split; }
    // The TAI93 instant where the second part begins.
    double Split() const { return start + static_cast<double>(split); }

    // A copy whose time tag lies in the day.
    void Add(uint32_t input, const DumpPacket& p);

    // The distinct copies, one group for each packet of the stream (the
    // copies of a time tag, with those of the same sequence count within
    // kNearSeconds), groups in time order. `starts` gets where each group
    // begins in the list returned, and one more entry: its end.
    std::vector<uint32_t> Groups(std::vector<size_t>& starts) const;

    const Variant& operator[](uint32_t v) const { return parts[v >> 31].variants[v & kIndex]; }
    const char* Bytes(uint32_t v) const { return parts[v >> 31].store.data() + (*this)[v].at; }
    // The copy as the report lists it.
    MergeCopy Listed(uint32_t v) const;
    // The places the copy was found (the listed ones).
    std::vector<MergeSource> Sources(uint32_t v) const;

private:
    static const uint32_t kIndex = 0x7FFFFFFFu;   // a copy's index in its part; the top bit is the part

    struct Source {
        MergeSource place;
        uint32_t next = kNone;
    };
    struct Part {
        std::vector<char> store;
        std::vector<Variant> variants;
        std::vector<Source> sources;
    };

    size_t Second(double tai93) const;
    Variant& At(uint32_t v) { return parts[v >> 31].variants[v & kIndex]; }
    uint32_t NewCopy(int part, uint32_t input, const DumpPacket& p);
    void AddPlace(Variant& c, int part, uint32_t input, uint64_t offset);

    double start;
    size_t split;
    Part parts[kParts];
    // For each second of the day the first copy of its first time tag; the
    // time tags of a second are chained by nextTime, in increasing order.
    std::vector<uint32_t> seconds;
};

} // namespace merge

} // namespace toolkit

#endif
