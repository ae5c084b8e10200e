// Division of the points into orbits at the ascending node crossings, and the
// packet processor that feeds it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"
#include "vn_class_buildorbitlist.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_class_trokpktprocessor.h"

using namespace toolkit;

namespace {

double Tk(int k) { return 2458000.5 + k / 86400.0; }

class OrbitList : public ::testing::Test
{
protected:
    void SetUp() override { buildorbitlist::resetCrossingState(); }

    // Feeds points with the given z at times Tk(1), Tk(2), ... (x holds k);
    // returns the k of the points that opened an orbit.
    static std::vector<int> Feed(buildorbitlist& list, const std::vector<double>& zs)
    {
        std::vector<int> opened;
        for (size_t i = 0; i < zs.size(); ++i)
        {
            const int k = static_cast<int>(i) + 1;
            trokpacket pkt;
            pkt.ItemList()[0] = k;
            pkt.ItemList()[2] = zs[i];
            pkt.TimeTag(Tk(k));
            if (list.checkpacket(pkt))
                opened.push_back(k);
        }
        return opened;
    }

    // Start (by x), ascending, descending and end time (as k, 0 for none) of each orbit.
    static std::vector<std::vector<int>> Summary(const buildorbitlist& list)
    {
        auto k = [](double t) { return t == 0.0 ? 0 : static_cast<int>(std::lround((t - Tk(0)) * 86400.0)); };
        std::vector<std::vector<int>> out;
        for (const orbitstuff& o : list.getorbitlist())
            out.push_back({static_cast<int>(o.beginpkt.ItemList()[0]), k(o.ascendingTime),
                           k(o.descendingTime), k(o.endTime)});
        return out;
    }
};

} // namespace

TEST_F(OrbitList, SplitsAtAscendingCrossings)
{
    buildorbitlist list;
    EXPECT_EQ(Feed(list, {-5, -1, 3, 7, 2, -4, -6, 1}), (std::vector<int>{1, 3, 8}));
    EXPECT_EQ(Summary(list), (std::vector<std::vector<int>>{{1, 0, 0, 2}, {3, 3, 6, 7}, {8, 8, 0, 8}}));
    EXPECT_EQ(list.getorbitlist()[1].beginpkt.TimeTag(), Tk(3));
    EXPECT_EQ(list.getorbitlist()[1].ascendingTime, Tk(3));
}

TEST_F(OrbitList, EdgesOfTheCrossingTest)
{
    buildorbitlist positive;
    Feed(positive, {10, 20, 30, 5});
    EXPECT_EQ(Summary(positive), (std::vector<std::vector<int>>{{1, 0, 0, 4}}));

    // Reaching 0 from above is the descending crossing ...
    buildorbitlist::resetCrossingState();
    buildorbitlist down;
    Feed(down, {4, 0, -3});
    EXPECT_EQ(Summary(down), (std::vector<std::vector<int>>{{1, 0, 2, 3}}));

    // ... and from below the ascending one.
    buildorbitlist::resetCrossingState();
    buildorbitlist up;
    Feed(up, {-2, 0, 1});
    EXPECT_EQ(Summary(up), (std::vector<std::vector<int>>{{1, 0, 0, 1}, {2, 2, 0, 3}}));
}

TEST_F(OrbitList, CrossingStateIsProgramWideUntilReset)
{
    buildorbitlist first, second, fresh;
    Feed(first, {3, -1});
    Feed(second, {2}); // continues from z -1: an ascending crossing
    EXPECT_EQ(Summary(second), (std::vector<std::vector<int>>{{1, 1, 0, 1}}));
    buildorbitlist::resetCrossingState();
    Feed(fresh, {2});
    EXPECT_EQ(Summary(fresh), (std::vector<std::vector<int>>{{1, 0, 0, 1}}));

    // Without a crossing or a reset, a new list still opens its first orbit
    // with its first point.
    buildorbitlist third;
    EXPECT_EQ(Feed(third, {4, 5}), (std::vector<int>{1}));
    EXPECT_EQ(Summary(third), (std::vector<std::vector<int>>{{1, 0, 0, 2}}));
}

TEST_F(OrbitList, ProcessorCountsFilledPointsAndFeedsThemToTheList)
{
    // Packets at 0 and 3 s with z -3000 and 3000: the gap gets points with
    // z about -1000 and 1000, and the second of them opens an orbit.
    PacketFileBuilder builder;
    for (int n = 0; n < 2; ++n)
    {
        TelemetrySample s;
        s.coarse = 1900000000u + 3u * static_cast<uint32_t>(n);
        s.pos[0] = 7.0e6;
        s.pos[2] = n == 0 ? -3000.0 : 3000.0;
        builder.AddTelemetry(s);
    }
    const std::string path = FreshTestDir() + "/packets.dat";
    ASSERT_TRUE(builder.WriteTo(path));
    packetfile file(path, trokpacket::apid);
    trokpktprocessor processor(file);
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
    EXPECT_EQ(processor.QualityFlags().getqualityflags().to_ulong(), 128u);
    ASSERT_EQ(zs.size(), 4u);
    EXPECT_NEAR(zs[1], -1000.0, 1.0);
    EXPECT_NEAR(zs[2], 1000.0, 1.0);
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
