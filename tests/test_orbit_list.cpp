// Division of the points into orbits at the ascending node crossings, and the
// packet processor that feeds it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "run_program.h"
#include "toolkit_packetbuilder.h"
#include "vn_class_buildorbitlist.h"
#include "vn_class_orbitstuff.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_class_trokpktprocessor.h"

namespace {

const double day0 = 2458000.5;

double Tk(int k) { return day0 + k / 86400.0; }

// A point at time Tk(k) whose position z is `z`; x marks the point.
trokpacket Point(int k, double z)
{
    trokpacket pkt;
    pkt.ItemList()[0] = k;
    pkt.ItemList()[2] = z;
    pkt.TimeTag(Tk(k));
    return pkt;
}

class OrbitList : public ::testing::Test
{
protected:
    void SetUp() override { buildorbitlist::resetCrossingState(); }

    // Feeds z values at times Tk(1), Tk(2), ...; returns the points that
    // opened an orbit (their k).
    std::vector<int> Feed(buildorbitlist& list, const std::vector<double>& zs)
    {
        std::vector<int> opened;
        for (size_t i = 0; i < zs.size(); ++i)
        {
            int k = static_cast<int>(i) + 1;
            trokpacket pkt = Point(k, zs[i]);
            if (list.checkpacket(pkt))
                opened.push_back(k);
        }
        return opened;
    }
};

} // namespace

TEST_F(OrbitList, SplitsAtAscendingCrossings)
{
    buildorbitlist list;
    std::vector<int> opened = Feed(list, {-5, -1, 3, 7, 2, -4, -6, 1});
    EXPECT_EQ(opened, (std::vector<int>{1, 3, 8}));

    const std::vector<orbitstuff>& orbits = list.getorbitlist();
    ASSERT_EQ(orbits.size(), 3u);

    EXPECT_EQ(orbits[0].beginpkt.TimeTag(), Tk(1));
    EXPECT_EQ(orbits[0].beginpkt.ItemList()[2], -5.0);
    EXPECT_EQ(orbits[0].ascendingTime, 0.0);
    EXPECT_EQ(orbits[0].descendingTime, 0.0);
    EXPECT_EQ(orbits[0].endTime, Tk(2));

    EXPECT_EQ(orbits[1].beginpkt.TimeTag(), Tk(3));
    EXPECT_EQ(orbits[1].beginpkt.ItemList()[0], 3.0);
    EXPECT_EQ(orbits[1].ascendingTime, Tk(3));
    EXPECT_EQ(orbits[1].descendingTime, Tk(6));
    EXPECT_EQ(orbits[1].endTime, Tk(7));

    EXPECT_EQ(orbits[2].beginpkt.TimeTag(), Tk(8));
    EXPECT_EQ(orbits[2].ascendingTime, Tk(8));
    EXPECT_EQ(orbits[2].descendingTime, 0.0);
    EXPECT_EQ(orbits[2].endTime, Tk(8));
}

TEST_F(OrbitList, NoCrossingGivesOneOrbit)
{
    buildorbitlist list;
    EXPECT_EQ(Feed(list, {10, 20, 30, 5}), std::vector<int>{1});
    ASSERT_EQ(list.getorbitlist().size(), 1u);
    const orbitstuff& orbit = list.getorbitlist()[0];
    EXPECT_EQ(orbit.beginpkt.TimeTag(), Tk(1));
    EXPECT_EQ(orbit.ascendingTime, 0.0);
    EXPECT_EQ(orbit.descendingTime, 0.0);
    EXPECT_EQ(orbit.endTime, Tk(4));
}

TEST_F(OrbitList, ZeroCountsOnTheSideItIsReached)
{
    // Reaching 0 from above is the descending crossing.
    buildorbitlist down;
    EXPECT_EQ(Feed(down, {4, 0, -3}), std::vector<int>{1});
    ASSERT_EQ(down.getorbitlist().size(), 1u);
    EXPECT_EQ(down.getorbitlist()[0].descendingTime, Tk(2));
    EXPECT_EQ(down.getorbitlist()[0].endTime, Tk(3));

    // Reaching 0 from below is the ascending crossing and opens an orbit.
    buildorbitlist::resetCrossingState();
    buildorbitlist up;
    EXPECT_EQ(Feed(up, {-2, 0, 1}), (std::vector<int>{1, 2}));
    ASSERT_EQ(up.getorbitlist().size(), 2u);
    EXPECT_EQ(up.getorbitlist()[1].ascendingTime, Tk(2));
    EXPECT_EQ(up.getorbitlist()[1].descendingTime, 0.0);
}

TEST_F(OrbitList, CrossingStateIsSharedUntilReset)
{
    buildorbitlist first;
    Feed(first, {3, -1});
    // A second list continues from the last z of the first: its first point,
    // positive after a negative one, is an ascending crossing.
    buildorbitlist second;
    Feed(second, {2});
    ASSERT_EQ(second.getorbitlist().size(), 1u);
    EXPECT_EQ(second.getorbitlist()[0].ascendingTime, Tk(1));

    buildorbitlist::resetCrossingState();
    buildorbitlist fresh;
    Feed(fresh, {2});
    ASSERT_EQ(fresh.getorbitlist().size(), 1u);
    EXPECT_EQ(fresh.getorbitlist()[0].ascendingTime, 0.0);
}

namespace {

// A packet file of telemetry packets at whole seconds after a base time, with
// the given position z values (x and y fixed).
std::string WriteZStream(const std::vector<int>& secs, const std::vector<double>& zs)
{
    PacketFileBuilder builder;
    for (size_t n = 0; n < secs.size(); ++n)
    {
        TelemetrySample s;
        s.coarse = 1900000000u + static_cast<uint32_t>(secs[n]);
        s.pos[0] = 7.0e6;
        s.pos[1] = -1.0e5;
        s.pos[2] = zs[n];
        s.quat[3] = 1.0;
        builder.AddTelemetry(s);
    }
    const std::string path = FreshTestDir() + "/packets.dat";
    EXPECT_TRUE(builder.WriteTo(path));
    return path;
}

} // namespace

TEST_F(OrbitList, ProcessorCountsEveryPointAndKeepsItsFlags)
{
    // Packets at 0 and 3 s with z -3000 and 3000: two points are put in the
    // gap (z -1000 and 1000 on the straight line), and the second of them
    // opens an orbit.
    packetfile file(WriteZStream({0, 3}, {-3000.0, 3000.0}), trokpacket::apid);
    ASSERT_TRUE(file.good());
    trokpktprocessor processor(file);
    EXPECT_EQ(processor.RecordCount(), 0u);
    EXPECT_EQ(processor.getLastPktRead(), nullptr);

    std::vector<unsigned long> flags;
    std::vector<double> zs;
    while (trokpacket* pkt = processor.ReadPkt())
    {
        flags.push_back(processor.QualityFlags().getqualityflags().to_ulong());
        zs.push_back(pkt->ItemList()[2]);
    }
    EXPECT_EQ(processor.RecordCount(), 4u);
    EXPECT_EQ(flags, (std::vector<unsigned long>{256, 32, 32, 128}));
    ASSERT_EQ(zs.size(), 4u);
    EXPECT_NEAR(zs[1], -1000.0, 1.0);
    EXPECT_NEAR(zs[2], 1000.0, 1.0);
    // After the end, the flags are still those of the last packet.
    EXPECT_EQ(processor.QualityFlags().getqualityflags().to_ulong(), 128u);
    EXPECT_TRUE(processor.PacketFile().eof());
    ASSERT_NE(processor.getLastPktRead(), nullptr);
    EXPECT_EQ(processor.getLastPktRead()->CoarseTime(), 1900000003u);

    const std::vector<orbitstuff>& orbits = processor.GetOrbitList();
    ASSERT_EQ(orbits.size(), 2u);
    EXPECT_EQ(orbits[0].beginpkt.ItemList()[2], -3000.0);
    EXPECT_NEAR((orbits[1].ascendingTime - orbits[0].endTime) * 86400.0, 1.0, 1e-3);
    EXPECT_EQ(orbits[1].beginpkt.TimeTag(), orbits[1].ascendingTime);
    EXPECT_NEAR(orbits[1].beginpkt.ItemList()[2], 1000.0, 1.0);
    EXPECT_NEAR((orbits[1].endTime - orbits[1].ascendingTime) * 86400.0, 1.0, 1e-3);
}

TEST_F(OrbitList, ProcessorOnEmptyFileGivesNoOrbit)
{
    packetfile file(WriteZStream({}, {}), trokpacket::apid);
    trokpktprocessor processor(file);
    EXPECT_EQ(processor.ReadPkt(), nullptr);
    EXPECT_EQ(processor.RecordCount(), 0u);
    EXPECT_TRUE(processor.GetOrbitList().empty());
    EXPECT_TRUE(processor.PacketFile().eof());
}
