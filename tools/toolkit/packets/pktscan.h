#ifndef TOOLKIT_PKTSCAN_H
#define TOOLKIT_PKTSCAN_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace toolkit {

// Inspection and salvage of packet files, in one streaming pass each and in
// constant memory, judged by the same rules trokproc reads the file with
// (vn_proc_PacketRules.h).

// The packets trokproc takes: their whole size and APID.
struct PacketLayout {
    size_t size = 126;
    unsigned apid = 957;
};

// The layout trokproc uses for the current trokpacket::pktsize and ::apid.
PacketLayout CurrentLayout();

// Offsets of one kind of finding: the first few, and how many in all.
struct OffsetList {
    static const size_t kept = 5;
    uint64_t count = 0;
    std::vector<uint64_t> first;
    void Add(uint64_t offset);
};

// Stretches of bytes (offset and length) of one kind.
struct StretchList {
    static const size_t kept = 5;
    uint64_t count = 0;
    uint64_t bytes = 0;
    std::vector<std::pair<uint64_t, uint64_t>> first;
    void Add(uint64_t offset, uint64_t length);
};

// What trokproc does with a packet file, and why.
struct Verdict {
    enum Rule {
        accepted,
        scanStops,      // a header trokproc's scan cannot step over: "File Open failed"
        tooFew,         // fewer than two packets of the APID: "Packet File Empty"
        endUnreadable,  // first or last packet short or of another length: "Packet File Read Error"
        timeOrder,      // a packet not later than the one before: "packet Time order error"
        readError,      // an inner packet of another length: "Packet File read error"
    };
    Rule rule = accepted;
    uint64_t packets = 0;        // packets of the APID that trokproc indexes
    uint64_t packet = 0;         // number (from 0) of the offending packet
    uint64_t offset = 0;         // its byte offset
    uint64_t previousOffset = 0; // timeOrder: offset of the packet before it
    int version = 0;             // scanStops: the header's fields
    long lengthField = 0;        // scanStops, endUnreadable, readError
    bool shortRead = false;      // endUnreadable: cut off by the end of the file
    // Accepted files: the records trokproc writes and the gaps it meets.
    uint64_t records = 0;
    uint64_t smallGaps = 0, largeGaps = 0;

    bool Accepted() const { return rule == accepted; }
    // trokproc's own message for the rule (its first line), "" when accepted.
    std::string Message() const;
    // A short name of the rule for programs: "accepted", "scan-stops", ...
    std::string RuleName() const;
    // One sentence saying what trokproc does and why.
    std::string Sentence(const PacketLayout& layout) const;
};

// Packets of one APID.
struct ApidCount {
    uint64_t count = 0;
    std::vector<uint64_t> lengths;   // distinct whole sizes in bytes, first few
    bool moreLengths = false;
};

// What a packet file holds, found by walking it packet by packet and
// resynchronising on the next plausible packet of the APID after damage.
struct Survey {
    uint64_t fileSize = 0;
    std::map<unsigned, ApidCount> apids;

    // Packets of the required APID with the expected length.
    uint64_t packets = 0;
    bool haveTimes = false;
    double firstTime = 0, lastTime = 0;   // Julian days (TAI), in file order
    uint64_t firstOffset = 0, lastOffset = 0;
    // Time range of the packets reached by stepping from packet to packet
    // (not by resynchronising); empty when there are none.
    bool haveSteppedRange = false;
    double steppedMin = 0, steppedMax = 0;
    OffsetList repeats;       // consecutive repeats of a sequence count
    OffsetList timeFaults;    // not later than the last packet in order
    OffsetList smallGaps;     // offset of the packet after the gap
    uint64_t fillPoints = 0;
    OffsetList largeGaps;
    OffsetList sequenceJumps;     // sequence count not one more than before
    uint64_t jumpsMatchingGaps = 0;
    OffsetList mismatches;        // jump and time gap that do not agree

    // Damage.
    OffsetList badHeaders;    // version other than 0 or length field 0x7FFF or more
    OffsetList badLengths;    // packet of the APID with another length field
    bool cutTail = false;     // the last packet is cut off by the end of the file
    uint64_t cutOffset = 0, cutPresent = 0, cutExpected = 0;
    StretchList notPackets;   // bytes that belong to no packet
    OffsetList splices;       // packets cut short and continued by other bytes

    bool Damaged() const
    {
        return badHeaders.count || badLengths.count || cutTail || notPackets.count || splices.count;
    }
};

// The dropped and kept parts of a salvage.
struct Salvage {
    uint64_t kept = 0;          // packets of the APID written
    uint64_t keptOther = 0;     // packets of other APIDs written
    OffsetList timeOrder;       // dropped: break the time order
    OffsetList badLengths;      // dropped: another length field
    bool cutTail = false;       // dropped: the cut-off last packet
    uint64_t cutOffset = 0, cutPresent = 0;
    StretchList skipped;        // bytes that are not packets
    OffsetList splices;         // dropped: packets cut short and continued by other bytes
    Verdict check;              // trokproc's verdict on the copy

    bool DroppedAnything() const
    {
        return timeOrder.count || badLengths.count || cutTail || skipped.count || splices.count;
    }
};

// Opens a regular file for reading; -1 and a reason otherwise (directories,
// FIFOs and devices are refused before anything is read from them).
int OpenPacketFile(const std::string& path, uint64_t& size, std::string& error);

// trokproc's verdict on the packet file open on fd (from offset 0).
bool JudgePacketFile(int fd, uint64_t size, const PacketLayout& layout, Verdict& verdict,
                     std::string& error);

// The survey of the packet file open on fd.
bool SurveyPacketFile(int fd, uint64_t size, const PacketLayout& layout, Survey& survey,
                      std::string& error);

// Writes to fdOut a copy of the packet file on fd that trokproc accepts,
// keeping every packet it can: a cut-off tail, packets of the APID with
// another length field, packets cut short and continued by other bytes
// (splices) and packets that break the time order are dropped, and bytes
// that are not packets are skipped up to the next plausible header of the
// APID whose time lies in the survey's time range.
// False only when reading or writing fails.
bool SalvagePacketFile(int fd, uint64_t size, const PacketLayout& layout, const Survey& survey,
                       int fdOut, Salvage& salvage, std::string& error);

// The report as text lines, and as one JSON object.
std::string ReportText(const std::string& name, const PacketLayout& layout, const Survey& survey,
                       const Verdict& verdict);
std::string ReportJson(const std::string& name, const PacketLayout& layout, const Survey& survey,
                       const Verdict& verdict);
// What a salvage dropped, as text lines ("" when it dropped nothing).
std::string SalvageText(const Salvage& salvage);

} // namespace toolkit

#endif
