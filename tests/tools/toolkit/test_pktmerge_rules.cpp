// The merge's rules on small hand-made dumps, through the toolkit: which
// copy of a packet wins and why, what is dropped, and where the days split.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"
#include "timelib_proc_TAI93.h"
#include "toolkit/packets/packetbuilder.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/simulation/orbitsim.h"
#include "toolkit/time/utcday.h"

using namespace toolkit;

namespace {

// The state of a spacecraft in orbit k seconds after kCoarse0, so that the
// neighbours of a packet can tell a damaged copy from a clean one.
TelemetrySample Orbit(uint32_t k, uint16_t fine = 0)
{
    static const OrbitSimulator sim{KeplerOrbit(), AttitudeWobble()};
    const NavigationState s = sim.At(k + fine * 1.52e-5);
    TelemetrySample t;
    t.coarse = kCoarse0 + k;
    t.fine = fine;
    for (int j = 0; j < 3; ++j) {
        t.pos[j] = s.pos[j];
        t.vel[j] = s.vel[j];
        t.rates[j] = s.rates[j];
    }
    for (int j = 0; j < 4; ++j) t.quat[j] = s.quat.q[j];
    return t;
}

std::string Packet(uint32_t k, uint16_t fine = 0) { return TelemetryPacket(Orbit(k, fine), 126, 957, k & 0x3FFF); }

// Packets from..to-1, one a second.
std::string Span(uint32_t from, uint32_t to)
{
    std::string b;
    for (uint32_t k = from; k < to; ++k) b += Packet(k);
    return b;
}

// The position of a packet moved by `metres` along x (a mantissa bit of
// the right weight flipped would do the same).
std::string Moved(uint32_t k, double metres)
{
    TelemetrySample s = Orbit(k);
    s.pos[0] += metres;
    return TelemetryPacket(s, 126, 957, k & 0x3FFF);
}

struct StringSink : MergeSink {
    std::string bytes;
    void Write(const char* b, size_t n) override { bytes.append(b, n); }
};

// Writes the dumps into a fresh folder and merges them.
struct Merge {
    std::string dir;
    MergeReport report;
    std::string out;

    explicit Merge(const std::vector<std::string>& dumps)
    {
        dir = FreshTestDir();
        std::vector<std::string> names;
        for (size_t i = 0; i < dumps.size(); ++i) {
            names.push_back(dir + "/d" + std::to_string(i) + ".pkt");
            WriteFile(names.back(), dumps[i]);
        }
        report.layout = PacketLayout();
        SurveyInputs(names, report);
        std::string error;
        MergeCarry carry;
        StringSink sink;
        for (MergeDay day : MergeDays(report)) EXPECT_TRUE(MergeOneDay(day, report, carry, sink, error)) << error;
        out = sink.bytes;
    }

    // The index in the report of dump number i.
    uint32_t Input(size_t i) const
    {
        for (uint32_t k = 0; k < report.inputs.size(); ++k)
            if (report.inputs[k].name == dir + "/d" + std::to_string(i) + ".pkt") return k;
        ADD_FAILURE() << "no input " << i;
        return 0;
    }
};

double Tai93(uint32_t k, uint16_t fine = 0) { return (kCoarse0 + k + fine * 1.52e-5) - 1104537627.0; }

} // namespace

// Overlapping dumps with one damaged copy: the packets once each, in order,
// the clean copy chosen by how well its state fits the neighbours, even
// against two inputs that share the damaged one.
TEST(MergeRules, TheCopyThatFitsItsNeighboursWinsWithoutAMajority)
{
    std::string damaged = Span(0, 30);
    damaged.replace(20 * 126, 126, Moved(20, 4.0));   // a 4 m error
    const Merge m({Span(10, 40), damaged, damaged.substr(0, 25 * 126)});
    EXPECT_EQ(m.out, Span(0, 40));
    ASSERT_EQ(m.report.conflicts.size(), 1u);
    const MergeConflict& c = m.report.conflicts[0];
    EXPECT_EQ(c.reason, "best-fit");
    EXPECT_NEAR(c.tai93, Tai93(20), 1e-4);   // time tags resolve 40 us
    ASSERT_EQ(c.copies.size(), 2u);
    EXPECT_EQ(c.copies[c.chosen].votes, 1u);
    EXPECT_EQ(c.copies[1 - c.chosen].votes, 2u);
    EXPECT_EQ(c.copies[c.chosen].sources[0].input, m.Input(0));
    EXPECT_EQ(c.copies[c.chosen].sources[0].offset, 10u * 126);
    EXPECT_NEAR(c.copies[1 - c.chosen].positionOff, 4.0, 0.1);
    EXPECT_LT(c.copies[c.chosen].positionOff, 0.1);
    // Packets 0 to 9 are in two inputs, 10 to 24 in three (20 in one
    // clean copy), 25 to 29 in two.
    EXPECT_EQ(m.report.repeats, 10u + 14u * 2 + 5u);
    EXPECT_TRUE(m.report.dropped.empty());
    EXPECT_TRUE(m.report.gaps.empty());
}

// Three inputs or more that hold the same copy, more than half of them, win;
// a copy that breaks the packet rules loses whatever holds it.
TEST(MergeRules, AMajorityOfThreeWinsAndACopyThatBreaksTheRulesLoses)
{
    std::string bad = Span(0, 20);
    bad[5 * 126 + 60] ^= 0x01;   // an attitude bit in packet 5, in three inputs
    const Merge majority({bad, bad.substr(0, 19 * 126), bad.substr(0, 18 * 126), Span(0, 20)});
    ASSERT_EQ(majority.report.conflicts.size(), 1u);
    EXPECT_EQ(majority.report.conflicts[0].reason, "majority");
    EXPECT_EQ(majority.out.substr(5 * 126, 126), bad.substr(5 * 126, 126));
    EXPECT_FALSE(majority.report.conflicts[0].copies[0].fitted);

    // The length field of packet 8 one short, in three inputs: the only copy
    // that keeps the rules wins, and the walk steps over the others whole.
    std::string shortField = Span(0, 20);
    shortField[8 * 126 + 5] ^= 0x01;
    const Merge rules({shortField, shortField.substr(0, 19 * 126), shortField.substr(0, 18 * 126), Span(5, 12)});
    EXPECT_EQ(rules.out, Span(0, 20));
    ASSERT_EQ(rules.report.conflicts.size(), 1u);
    const MergeConflict& c = rules.report.conflicts[0];
    EXPECT_EQ(c.reason, "packet-rules");
    EXPECT_EQ(c.copies[c.chosen].sources[0].input, rules.Input(3));
    EXPECT_EQ(c.copies[1 - c.chosen].rule, "length field");
    EXPECT_EQ(c.copies[1 - c.chosen].votes, 3u);

    // Without another copy it is dropped, and the stream has a gap there.
    const Merge alone({shortField});
    EXPECT_EQ(alone.out, Span(0, 8) + Span(9, 20));
    ASSERT_EQ(alone.report.dropped.size(), 1u);
    EXPECT_EQ(alone.report.dropped[0].reason, "bad length");
    EXPECT_EQ(alone.report.dropped[0].offset, 8u * 126);
    ASSERT_EQ(alone.report.gaps.size(), 1u);
    EXPECT_NEAR(alone.report.gaps[0].endTai93 - alone.report.gaps[0].startTai93, 2.0, 1e-3);
}

// A time tag its own dump contradicts is dropped, never put where it points;
// a time tag a few milliseconds off, which the dump cannot tell, is a copy
// of the same packet that loses to the one whose time fits its state.
TEST(MergeRules, DamagedTimeTagsAreDroppedOrOutvotedNeverPlacedWrong)
{
    std::string late = Span(0, 30);
    late[12 * 126 + 11] ^= 0x10;   // packet 12 now says 16 s later: the time of packet 28
    const Merge coarse({late, Span(5, 15)});
    EXPECT_EQ(coarse.out, Span(0, 30));
    ASSERT_EQ(coarse.report.dropped.size(), 1u);
    const MergeDrop& d = coarse.report.dropped[0];
    EXPECT_EQ(d.reason, "damaged time tag");
    EXPECT_EQ(d.input, coarse.Input(0));
    EXPECT_EQ(d.offset, 12u * 126);
    EXPECT_NEAR(d.tai93, Tai93(28), 1e-4);
    EXPECT_TRUE(coarse.report.conflicts.empty());

    // The first packet of a dump has neighbours on one side only.
    std::string first = Span(0, 10);
    first[11] ^= 0x40;
    const Merge head({first});
    EXPECT_EQ(head.out, Span(1, 10));
    ASSERT_EQ(head.report.dropped.size(), 1u);
    EXPECT_EQ(head.report.dropped[0].offset, 0u);

    // 200 counts of the fine time (3 ms) off in one copy.
    std::string fine = Span(0, 30);
    fine.replace(15 * 126, 126, TelemetryPacket(Orbit(15), 126, 957, 15).substr(0, 12) + Packet(15, 200).substr(12, 2) +
                                    TelemetryPacket(Orbit(15), 126, 957, 15).substr(14));
    const Merge near({fine, Span(10, 20)});
    EXPECT_EQ(near.out, Span(0, 30));
    ASSERT_EQ(near.report.conflicts.size(), 1u);
    const MergeConflict& c = near.report.conflicts[0];
    EXPECT_EQ(c.reason, "best-fit");
    EXPECT_NEAR(c.tai93, Tai93(15), 1e-4);
    EXPECT_NEAR(c.copies[1 - c.chosen].tai93 - c.tai93, 200 * 1.52e-5, 1e-4);
    EXPECT_GT(c.copies[1 - c.chosen].positionOff, 15.0);   // 3 ms at 7.5 km/s
}

// A transfer that broke off inside a packet and began again in the same
// file: the cut packet is dropped whole, its copy after the new start
// serves, and nothing of one packet is written with bytes of another.
TEST(MergeRules, ASpliceIsDroppedAndItsCopyServes)
{
    const std::string dump = Span(0, 21).substr(0, 20 * 126 + 57) + Span(17, 40);
    const Merge m({dump});
    EXPECT_EQ(m.out, Span(0, 40));
    ASSERT_EQ(m.report.dropped.size(), 1u);
    EXPECT_EQ(m.report.dropped[0].reason, "splice");
    EXPECT_EQ(m.report.dropped[0].offset, 20u * 126);
    EXPECT_EQ(m.report.dropped[0].bytes, 57u);
    EXPECT_EQ(m.report.inputs[0].packets, 20u + 23u);
    EXPECT_EQ(m.report.repeats, 3u);

    // The same two transfers in two files: a cut last packet; and a file
    // cut inside a header.
    const Merge two({Span(0, 21).substr(0, 20 * 126 + 57), Span(17, 40)});
    EXPECT_EQ(two.out, Span(0, 40));
    ASSERT_EQ(two.report.dropped.size(), 1u);
    EXPECT_EQ(two.report.dropped[0].reason, "cut");
    const Merge header({Span(0, 21).substr(0, 20 * 126 + 3), Span(20, 30)});
    EXPECT_EQ(header.out, Span(0, 30));
    ASSERT_EQ(header.report.dropped.size(), 1u);
    EXPECT_EQ(header.report.dropped[0].reason, "cut");
    EXPECT_EQ(header.report.dropped[0].bytes, 3u);
}

// Packets of other APIDs and damage between packets are counted, not
// carried; a copy with no neighbour is decided by the inputs that hold it.
TEST(MergeRules, OtherApidsDamageAndLonePackets)
{
    PacketFileBuilder b;
    b.AddRaw(Span(0, 5)).AddOther(1010, 40).AddOther(1020, 60).AddRaw(Span(5, 10));
    b.AddRaw(std::string(50, '\xE7')).AddRaw(Span(10, 15));
    const Merge m({b.Bytes()});
    EXPECT_EQ(m.out, Span(0, 15));
    EXPECT_EQ(m.report.otherApids.at(1010), 1u);
    EXPECT_EQ(m.report.otherApids.at(1020), 1u);
    ASSERT_EQ(m.report.dropped.size(), 2u);
    EXPECT_EQ(m.report.dropped[0].reason, "bad header");
    EXPECT_EQ(m.report.dropped[1].reason, "not packets");
    EXPECT_EQ(m.report.dropped[1].bytes, 50u);

    // One packet a minute away from any other, in two copies of one byte
    // that nothing decodes.
    std::string lone = Packet(500);
    lone[100] = 1;
    const Merge alone({Span(0, 3) + Packet(500), Span(0, 3) + lone, Span(0, 3) + lone});
    ASSERT_EQ(alone.report.conflicts.size(), 1u);
    EXPECT_EQ(alone.report.conflicts[0].reason, "no-neighbours");
    EXPECT_EQ(alone.out.substr(3 * 126), lone);
    ASSERT_EQ(alone.report.gaps.size(), 1u);
}

// The days are the campaign's: a stretch across midnight goes to the day
// each packet's time tag falls in by the shared day function.
TEST(MergeRules, DaysSplitAtTheSharedMidnight)
{
    const double midnight = DayStartTai93("2024-01-02");
    // kCoarse0 is 2024-01-02 00:00:00 TAI, 37 s before UTC midnight by
    // the leap seconds, some seconds off it by the products' own model.
    const uint32_t at = static_cast<uint32_t>(std::ceil(midnight + 1104537627.0 - kCoarse0));
    ASSERT_LT(at, 200u);
    const Merge m({Span(0, 400)});
    ASSERT_EQ(m.report.days.size(), 2u);
    EXPECT_EQ(DayText(m.report.days[0].first), "2024-01-01");
    EXPECT_EQ(m.report.days[0].second, at);
    EXPECT_EQ(m.report.days[1].second, 400u - at);
    EXPECT_LT(Tai93(at - 1), midnight);
    EXPECT_GE(Tai93(at), midnight);
    EXPECT_EQ(m.out, Span(0, 400));
}
