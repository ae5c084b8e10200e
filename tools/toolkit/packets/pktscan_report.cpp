#include "toolkit/packets/pktscan.h"

#include <cstdio>
#include <sstream>

#include "timelib_proc_TAI93.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/isotime.h"
#include "toolkit/cli/text.h"

namespace toolkit {

// pktscan's reports: the survey and verdict as text and as JSON, the
// verdict as a sentence, what a salvage dropped.

namespace {

std::string Hex(long v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04lX", v);
    return buf;
}

std::string Offsets(const OffsetList& list)
{
    std::string s;
    for (size_t i = 0; i < list.first.size(); ++i) s += (i ? ", " : "") + std::to_string(list.first[i]);
    if (list.count > list.first.size())
        s += " and " + std::to_string(list.count - list.first.size()) + " more";
    return s;
}

std::string Stretches(const StretchList& list)
{
    std::string s;
    for (size_t i = 0; i < list.first.size(); ++i)
        s += (i ? ", " : "") + std::to_string(list.first[i].second) + " at " +
             std::to_string(list.first[i].first);
    if (list.count > list.first.size())
        s += " and " + std::to_string(list.count - list.first.size()) + " more";
    return s;
}

std::string Plural(uint64_t n, const std::string& one, const std::string& many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string TaiText(double jd) { return IsoTaiFromTai93(JulianDayToTAI93(jd), 3); }
// Civil UTC from the system's leap-second table; without a table that
// covers the instant, UTC by trokproc's own model, labelled so.
bool CivilUtcKnown(double jd)
{
    int seconds = 0;
    return TaiMinusUtcAtTai93(SystemLeapSeconds(), JulianDayToTAI93(jd), seconds);
}
std::string UtcText(double jd) { return IsoCivilOrModelUtcFromTai93(JulianDayToTAI93(jd), 3); }
std::string LabelledUtc(double jd) { return LabelledUtcFromTai93(JulianDayToTAI93(jd), 3); }

std::string JsonOffsets(const OffsetList& list)
{
    std::string s = "{\"count\":" + std::to_string(list.count) + ",\"first\":[";
    for (size_t i = 0; i < list.first.size(); ++i) s += (i ? "," : "") + std::to_string(list.first[i]);
    return s + "]}";
}

} // namespace

std::string Verdict::Sentence(const PacketLayout& layout) const
{
    const std::string apid = "APID " + std::to_string(layout.apid);
    const std::string expected = Hex(static_cast<long>(layout.size) - 7);
    std::string why;
    switch (rule) {
    case accepted:
        return "trokproc accepts this file: " + Plural(packets, "packet", "packets") + " of " + apid +
               ", " + Plural(records, "record", "records") + " (" +
               Plural(smallGaps, "gap", "gaps") + " filled, " + std::to_string(largeGaps) + " left open)";
    case scanStops:
        why = "its scan stops at the header at offset " + std::to_string(offset) + " (version " +
              std::to_string(version) + ", length field " + Hex(lengthField) + ")";
        break;
    case tooFew:
        why = "it finds " + std::to_string(packets) + " packet" + (packets == 1 ? "" : "s") + " of " +
              apid + ", fewer than two";
        break;
    case endUnreadable:
        why = std::string("its ") + (packet == 0 ? "first" : "last") + " packet (number " +
              std::to_string(packet) + ", offset " + std::to_string(offset) + ") " +
              (shortRead ? "is cut off by the end of the file"
                         : "has length field " + Hex(lengthField) + ", not " + expected);
        break;
    case timeOrder:
        why = "packet " + std::to_string(packet) + " at offset " + std::to_string(offset) +
              " is not later than the one before it at offset " + std::to_string(previousOffset);
        break;
    case readError:
        why = "packet " + std::to_string(packet) + " at offset " + std::to_string(offset) +
              " has length field " + Hex(lengthField) + ", not " + expected;
        break;
    }
    return "trokproc refuses this file (\"" + Message() + "\"): " + why;
}

std::string ReportText(const std::string& name, const PacketLayout& layout, const Survey& s,
                       const Verdict& v)
{
    std::ostringstream os;
    os << name << ": " << s.fileSize << " bytes\n";
    for (const auto& a : s.apids) {
        os << "APID " << a.first << ": " << Plural(a.second.count, "packet", "packets") << " of ";
        for (size_t i = 0; i < a.second.lengths.size(); ++i) os << (i ? ", " : "") << a.second.lengths[i];
        os << (a.second.moreLengths ? " and more" : "") << " bytes\n";
    }
    const std::string apid = "APID " + std::to_string(layout.apid);
    os << "trokproc's " << apid << " (" << layout.size << "-byte packets): " << Plural(s.packets, "packet", "packets");
    if (s.repeats.count)
        os << ", " << Plural(s.repeats.count, "consecutive repeat", "consecutive repeats")
           << " that trokproc drops (at " << Offsets(s.repeats) << ")";
    os << "\n";
    if (s.haveTimes) {
        os << "  first " << TaiText(s.firstTime) << " TAI = " << LabelledUtc(s.firstTime) << " (offset "
           << s.firstOffset << ")\n";
        os << "  last  " << TaiText(s.lastTime) << " TAI = " << LabelledUtc(s.lastTime) << " (offset "
           << s.lastOffset << ")\n";
    }
    if (s.timeFaults.count)
        os << "  time order faults: " << s.timeFaults.count << " (at " << Offsets(s.timeFaults) << ")\n";
    if (s.smallGaps.count || s.largeGaps.count) {
        os << "  gaps over 1.1 s: " << s.smallGaps.count << " filled by trokproc with "
           << Plural(s.fillPoints, "point", "points");
        if (s.smallGaps.count) os << " (before " << Offsets(s.smallGaps) << ")";
        os << ", " << s.largeGaps.count << " left open";
        if (s.largeGaps.count) os << " (before " << Offsets(s.largeGaps) << ")";
        os << "\n";
    }
    if (s.sequenceJumps.count || s.mismatches.count) {
        os << "  sequence count jumps: " << s.sequenceJumps.count;
        if (s.sequenceJumps.count) os << " (at " << Offsets(s.sequenceJumps) << ")";
        os << ", " << s.jumpsMatchingGaps << " matching the time gap";
        if (s.mismatches.count)
            os << "; " << s.mismatches.count << " where count and time disagree (at " << Offsets(s.mismatches)
               << ")";
        os << "\n";
    }
    if (!s.Damaged()) {
        os << "damage: none\n";
    } else {
        os << "damage:\n";
        if (s.badHeaders.count)
            os << "  bad version or length field (scan stops): " << s.badHeaders.count << " (at "
               << Offsets(s.badHeaders) << ")\n";
        if (s.badLengths.count)
            os << "  " << apid << " with another length field: " << s.badLengths.count << " (at "
               << Offsets(s.badLengths) << ")\n";
        if (s.cutTail) {
            os << "  cut-off last packet at offset " << s.cutOffset << ": " << s.cutPresent;
            if (s.cutExpected) os << " of " << s.cutExpected;
            os << " bytes\n";
        }
        if (s.notPackets.count)
            os << "  bytes that are not packets: " << s.notPackets.bytes << " in "
               << Plural(s.notPackets.count, "stretch", "stretches") << " (bytes at offset: "
               << Stretches(s.notPackets) << ")\n";
        if (s.splices.count)
            os << "  " << apid << " cut short and continued by other bytes (a splice): " << s.splices.count
               << " (at " << Offsets(s.splices) << ")\n";
    }
    os << v.Sentence(layout) << "\n";
    return os.str();
}

std::string ReportJson(const std::string& name, const PacketLayout& layout, const Survey& s,
                       const Verdict& v)
{
    std::ostringstream os;
    os.precision(17);
    os << "{\"file\":" << JsonString(name) << ",\"size\":" << s.fileSize << ",\"apids\":[";
    bool firstApid = true;
    for (const auto& a : s.apids) {
        os << (firstApid ? "" : ",") << "{\"apid\":" << a.first << ",\"packets\":" << a.second.count
           << ",\"lengths\":[";
        for (size_t i = 0; i < a.second.lengths.size(); ++i) os << (i ? "," : "") << a.second.lengths[i];
        os << "],\"more_lengths\":" << (a.second.moreLengths ? "true" : "false") << "}";
        firstApid = false;
    }
    os << "],\"mission\":{\"apid\":" << layout.apid << ",\"packet_size\":" << layout.size
       << ",\"packets\":" << s.packets;
    if (s.haveTimes) {
        os << ",\"first\":{\"offset\":" << s.firstOffset << ",\"tai93\":" << JulianDayToTAI93(s.firstTime)
           << ",\"tai\":" << JsonString(TaiText(s.firstTime)) << ",\"utc\":" << JsonString(UtcText(s.firstTime))
           << ",\"utc_from_leap_table\":" << (CivilUtcKnown(s.firstTime) ? "true" : "false") << "},\"last\":{\"offset\":" << s.lastOffset << ",\"tai93\":" << JulianDayToTAI93(s.lastTime)
           << ",\"tai\":" << JsonString(TaiText(s.lastTime)) << ",\"utc\":" << JsonString(UtcText(s.lastTime))
           << ",\"utc_from_leap_table\":" << (CivilUtcKnown(s.lastTime) ? "true" : "false") << "}";
    }
    os << ",\"repeats\":" << JsonOffsets(s.repeats) << ",\"time_faults\":" << JsonOffsets(s.timeFaults)
       << ",\"filled_gaps\":" << JsonOffsets(s.smallGaps) << ",\"fill_points\":" << s.fillPoints
       << ",\"open_gaps\":" << JsonOffsets(s.largeGaps) << ",\"sequence_jumps\":" << JsonOffsets(s.sequenceJumps)
       << ",\"jumps_matching_gaps\":" << s.jumpsMatchingGaps
       << ",\"sequence_time_mismatches\":" << JsonOffsets(s.mismatches) << "}";
    os << ",\"damage\":{\"bad_headers\":" << JsonOffsets(s.badHeaders)
       << ",\"bad_lengths\":" << JsonOffsets(s.badLengths) << ",\"cut_tail\":";
    if (s.cutTail)
        os << "{\"offset\":" << s.cutOffset << ",\"present\":" << s.cutPresent << ",\"expected\":" << s.cutExpected
           << "}";
    else
        os << "null";
    os << ",\"not_packets\":{\"count\":" << s.notPackets.count << ",\"bytes\":" << s.notPackets.bytes
       << ",\"first\":[";
    for (size_t i = 0; i < s.notPackets.first.size(); ++i)
        os << (i ? "," : "") << "{\"offset\":" << s.notPackets.first[i].first
           << ",\"length\":" << s.notPackets.first[i].second << "}";
    os << "]},\"splices\":" << JsonOffsets(s.splices) << "}";
    os << ",\"verdict\":{\"accepted\":" << (v.Accepted() ? "true" : "false") << ",\"rule\":"
       << JsonString(v.RuleName()) << ",\"packets\":" << v.packets;
    if (v.Accepted())
        os << ",\"records\":" << v.records << ",\"filled_gaps\":" << v.smallGaps << ",\"open_gaps\":" << v.largeGaps;
    else
        os << ",\"message\":" << JsonString(v.Message());
    if (!v.Accepted() && v.rule != Verdict::tooFew) os << ",\"packet\":" << v.packet << ",\"offset\":" << v.offset;
    os << ",\"text\":" << JsonString(v.Sentence(layout)) << "}}\n";
    return os.str();
}

std::string SalvageText(const Salvage& s)
{
    if (!s.DroppedAnything()) return "";
    std::ostringstream os;
    if (s.timeOrder.count)
        os << "dropped " << Plural(s.timeOrder.count, "packet", "packets") << " out of time order (at "
           << Offsets(s.timeOrder) << ")\n";
    if (s.badLengths.count)
        os << "dropped " << Plural(s.badLengths.count, "packet", "packets") << " with another length field (at "
           << Offsets(s.badLengths) << ")\n";
    if (s.splices.count)
        os << "dropped " << Plural(s.splices.count, "packet", "packets")
           << " cut short and continued by other bytes (at " << Offsets(s.splices) << ")\n";
    if (s.cutTail)
        os << "dropped the cut-off last packet at offset " << s.cutOffset << " (" << s.cutPresent << " bytes)\n";
    if (s.skipped.count)
        os << "skipped " << s.skipped.bytes << " bytes that are not packets in "
           << Plural(s.skipped.count, "stretch", "stretches") << " (bytes at offset: " << Stretches(s.skipped)
           << ")\n";
    os << "kept " << Plural(s.check.packets, "packet", "packets") << " that trokproc reads, and "
       << Plural(s.keptOther, "packet", "packets") << " of other APIDs\n";
    return os.str();
}

} // namespace toolkit
