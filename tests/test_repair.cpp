// Quality flags, Neville interpolation and the repaired packet stream.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "toolkit_packetbuilder.h"
#include "vn_class_exttrokpacket.h"
#include "vn_class_nevilleinterpolater.h"
#include "vn_class_nevilleinterpolater_2.h"
#include "vn_class_packetfile.h"
#include "vn_class_quality_flags.h"
#include "vn_class_repairpktstream.h"
#include "vn_class_trokpacket.h"
#include "vn_types.h"

namespace {

std::string Printed(const quality_flags& flags)
{
    std::ostringstream os;
    os << flags;
    return os.str();
}

// The Lagrange form of the polynomial through the points, as an independent
// check on Neville's scheme.
double Lagrange(const dblplist& pts, double x)
{
    long double sum = 0.0L;
    for (size_t i = 0; i < pts.size(); ++i)
    {
        long double term = pts[i].second;
        for (size_t j = 0; j < pts.size(); ++j)
            if (j != i)
                term *= (static_cast<long double>(x) - pts[j].first) /
                        (static_cast<long double>(pts[i].first) - pts[j].first);
        sum += term;
    }
    return static_cast<double>(sum);
}

} // namespace

TEST(QualityFlags, EachSetterSetsItsOwnBitAndLabel)
{
    quality_flags none;
    EXPECT_EQ(none.getqualityflags().to_ulong(), 0u);
    EXPECT_EQ(Printed(none), "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=0");

    quality_flags rep;
    rep.setGapRepaired();
    EXPECT_EQ(rep.getqualityflags().to_ulong(), 32u);
    EXPECT_EQ(Printed(rep), "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=1");

    quality_flags lgb;
    lgb.setLargeGapBefore();
    EXPECT_EQ(lgb.getqualityflags().to_ulong(), 64u);
    EXPECT_EQ(Printed(lgb), "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=1  rep(5)=0");

    quality_flags sgb;
    sgb.setSmallGapBefore();
    EXPECT_EQ(sgb.getqualityflags().to_ulong(), 128u);
    EXPECT_EQ(Printed(sgb), "sgf(8)=0  sgb(7)=1  lgf(9)=0  lgb(6)=0  rep(5)=0");

    quality_flags sgf;
    sgf.setSmallGapFollows();
    EXPECT_EQ(sgf.getqualityflags().to_ulong(), 256u);
    EXPECT_EQ(Printed(sgf), "sgf(8)=1  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=0");

    quality_flags lgf;
    lgf.setLargeGapFollows();
    EXPECT_EQ(lgf.getqualityflags().to_ulong(), 512u);
    EXPECT_EQ(Printed(lgf), "sgf(8)=0  sgb(7)=0  lgf(9)=1  lgb(6)=0  rep(5)=0");
}

TEST(QualityFlags, SettersChainCopyAndClear)
{
    quality_flags both;
    both.setSmallGapBefore().setSmallGapFollows();
    EXPECT_EQ(both.getqualityflags().to_ulong(), 384u);

    quality_flags copy(both);
    quality_flags assigned;
    assigned = both;
    both.clear();
    EXPECT_EQ(both.getqualityflags().to_ulong(), 0u);
    EXPECT_EQ(copy.getqualityflags().to_ulong(), 384u);
    EXPECT_EQ(assigned.getqualityflags().to_ulong(), 384u);
    EXPECT_EQ(quality_flags().setSmallGapBefore().setLargeGapFollows().getqualityflags().to_ulong(),
              640u);
}

TEST(Neville, ReproducesPolynomialsExactly)
{
    // y = 2x^3 - x + 5 through four points: the cubic itself.
    dblplist cubic = {{0, 5}, {1, 6}, {2, 19}, {3, 56}};
    nevilleinterpolater nev(&cubic);
    EXPECT_DOUBLE_EQ(nev.interpolate(1.5), 10.25);
    EXPECT_DOUBLE_EQ(nev.interpolate(-1.0), 4.0);
    EXPECT_DOUBLE_EQ(nev.interpolate(4.0), 129.0);
    // At a node the node's own value.
    EXPECT_DOUBLE_EQ(nev.interpolate(2.0), 19.0);

    // One point: a constant. Two points: the straight line.
    dblplist one = {{3.0, -7.5}};
    EXPECT_EQ(nevilleinterpolater(&one).interpolate(100.0), -7.5);
    dblplist two = {{1.0, 1.0}, {3.0, 5.0}};
    nev.setxylist(&two);
    EXPECT_DOUBLE_EQ(nev.interpolate(2.5), 4.0);
}

TEST(Neville, AgreesWithLagrangeOnIrregularPoints)
{
    dblplist pts = {{-0.3, 1.7}, {0.1, -2.2}, {0.45, 0.9}, {1.2, 3.3},
                    {1.25, 3.1}, {2.0, -0.4}, {2.9, 5.5}};
    nevilleinterpolater nev(&pts);
    for (double x : {-0.5, 0.0, 0.3, 1.22, 1.7, 2.5, 3.2})
        EXPECT_NEAR(nev.interpolate(x), Lagrange(pts, x), 1e-9 * (1.0 + std::fabs(Lagrange(pts, x))))
            << "x = " << x;
}

TEST(Neville, OwningInterpolatorKeepsItsPoints)
{
    nevilleinterpolater_2 nev;
    EXPECT_EQ(nev.listsize(), 0u);
    nev.addtolist(0.0, 1.0).addtolist(1.0, 3.0).addtolist(2.0, 7.0); // x^2 + x + 1
    EXPECT_EQ(nev.listsize(), 3u);
    EXPECT_DOUBLE_EQ(nev.interpolate(3.0), 13.0);
    nev.clearlist();
    EXPECT_EQ(nev.listsize(), 0u);
    nev.addtolist(5.0, 2.0).addtolist(6.0, 4.0);
    EXPECT_DOUBLE_EQ(nev.interpolate(7.0), 6.0);
}

TEST(NevilleDeathTest, UnboundOrEmptyListIsAProgramError)
{
    nevilleinterpolater unbound(nullptr);
    EXPECT_DEATH(unbound.interpolate(1.0),
                 "vn_class_nevilleinterpolater.*double nevilleinterpolater::interpolate\\(double\\) "
                 "const.*xy != 0");
    dblplist empty;
    nevilleinterpolater none(&empty);
    EXPECT_DEATH(none.interpolate(1.0), "empty");
    nevilleinterpolater_2 owned;
    EXPECT_DEATH(owned.interpolate(1.0), "empty");
}

// ---------------------------------------------------------------------------
// The repaired stream, read from packet files built with the toolkit.

namespace {

// Spacecraft clock of the first packet, and its Julian day.
const uint32_t baseCoarse = 1900000000u;
const double jdEpoch = 2436204.5;

// Value k of the n-th packet of a file: whole numbers (exact in the packet
// encoding) that follow no low-degree polynomial, so that interpolating over
// the wrong points shows.
double Value(size_t n, unsigned k)
{
    return static_cast<double>(static_cast<long>((n * n * 7 + n * (k + 3) + k * k) % 23) - 11 +
                               100 * static_cast<long>(k));
}

TelemetrySample Sample(double secs, size_t n)
{
    TelemetrySample s;
    const double whole = std::floor(secs);
    s.coarse = baseCoarse + static_cast<uint32_t>(whole);
    s.fine = static_cast<uint16_t>(std::lround((secs - whole) / 1.52e-5));
    double v[13];
    for (unsigned k = 0; k < 13; ++k)
        v[k] = Value(n, k);
    for (int i = 0; i < 3; ++i)
    {
        s.pos[i] = v[i];
        s.vel[i] = v[3 + i];
        s.rates[i] = v[10 + i];
    }
    for (int i = 0; i < 4; ++i)
        s.quat[i] = v[6 + i];
    return s;
}

// Writes one telemetry packet per entry of `secs` (seconds after the base).
std::string WriteStream(const std::vector<double>& secs)
{
    PacketFileBuilder builder;
    for (size_t n = 0; n < secs.size(); ++n)
        builder.AddTelemetry(Sample(secs[n], n));
    const std::string path = FreshTestDir() + "/packets.dat";
    EXPECT_TRUE(builder.WriteTo(path));
    return path;
}

// Seconds after the base of a time tag.
double Secs(double timeTag) { return (timeTag - jdEpoch) * 86400.0 - baseCoarse; }

struct Point
{
    double time;   // time tag, Julian day
    array values;
    unsigned long flags;
    bool Interpolated() const { return (flags & 32u) != 0; }
};

std::vector<Point> Drain(packetfile& file)
{
    repairpktstream stream(file);
    std::vector<Point> out;
    for (int guard = 0; guard < 1000; ++guard)
    {
        trokpacket* pkt = stream.getfixedpkt();
        if (pkt == nullptr)
        {
            EXPECT_EQ(stream.getfixedpkt(), nullptr) << "the end of the stream is final";
            return out;
        }
        out.push_back({pkt->TimeTag(), pkt->ItemList(), stream.getQualityFlags().getqualityflags().to_ulong()});
    }
    ADD_FAILURE() << "stream does not end";
    return out;
}

std::vector<Point> Drain(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    EXPECT_TRUE(file.good());
    std::vector<Point> out = Drain(file);
    EXPECT_TRUE(file.eof());
    EXPECT_FALSE(file.fail());
    return out;
}

std::vector<unsigned long> Flags(const std::vector<Point>& pts)
{
    std::vector<unsigned long> flags;
    for (const Point& p : pts)
        flags.push_back(p.flags);
    return flags;
}

// The real packets handed out, in order (interpolated points left out).
std::vector<Point> RealPackets(const std::vector<Point>& pts)
{
    std::vector<Point> real;
    for (const Point& p : pts)
        if (!p.Interpolated())
            real.push_back(p);
    return real;
}

// Checks the points against the polynomial, value by value, through `window`
// (Lagrange form) at each point's own time.
void ExpectOnPolynomial(const std::vector<Point>& window, const std::vector<Point>& points)
{
    for (const Point& p : points)
        for (unsigned k = 0; k < 13; ++k)
        {
            dblplist xy;
            for (const Point& w : window)
                xy.emplace_back(w.time, w.values[k]);
            const double expected = Lagrange(xy, p.time);
            EXPECT_NEAR(p.values[k], expected, 1e-7 * (1.0 + std::fabs(expected)))
                << "value " << k << " at " << Secs(p.time) << " s";
        }
}

// Time tags resolve about 40 microseconds, and each interpolated point is one
// second after the one before, rounded: over a long gap the rounding adds up.
void ExpectSecs(const Point& p, double secs, double tolerance = 1e-4)
{
    EXPECT_NEAR(Secs(p.time), secs, tolerance);
}

} // namespace

TEST(RepairStream, OnePacketComesOutUnflagged)
{
    std::vector<Point> out = Drain(WriteStream({0.0}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].flags, 0u);
    ExpectSecs(out[0], 0.0);
    EXPECT_EQ(out[0].values[12], Value(0, 12));
}

TEST(RepairStream, EmptyFileGivesNothing)
{
    EXPECT_TRUE(Drain(WriteStream({})).empty());
}

TEST(RepairStream, SteadyStreamPassesThroughInOrder)
{
    std::vector<double> secs;
    for (int s = 0; s < 12; ++s)
        secs.push_back(s);
    secs.push_back(12.05); // 1.05 s: too short to be a gap
    secs.push_back(13.12); // 1.07 s
    std::vector<Point> out = Drain(WriteStream(secs));
    ASSERT_EQ(out.size(), secs.size());
    for (size_t n = 0; n < secs.size(); ++n)
    {
        EXPECT_EQ(out[n].flags, 0u) << "packet " << n;
        ExpectSecs(out[n], secs[n]);
        for (unsigned k = 0; k < 13; ++k)
            EXPECT_EQ(out[n].values[k], Value(n, k));
    }
}

TEST(RepairStream, SmallGapIsFilledFromTheCentredWindow)
{
    // 0 .. 9, a 3 s gap, 12 .. 18: the gap after the packet at 9 s is filled at
    // 10 and 11 s over the packets at 6, 7, 8, 9, 12, 13 and 14 s.
    std::vector<double> secs;
    for (int s = 0; s <= 9; ++s)
        secs.push_back(s);
    for (int s = 12; s <= 18; ++s)
        secs.push_back(s);
    std::vector<Point> out = Drain(WriteStream(secs));
    ASSERT_EQ(out.size(), secs.size() + 2);
    std::vector<unsigned long> flags(out.size(), 0u);
    flags[9] = 256;
    flags[10] = 32;
    flags[11] = 32;
    flags[12] = 128;
    EXPECT_EQ(Flags(out), flags);
    ExpectSecs(out[10], 10.0);
    ExpectSecs(out[11], 11.0);
    ExpectSecs(out[12], 12.0);

    std::vector<Point> real = RealPackets(out);
    ExpectOnPolynomial(std::vector<Point>(real.begin() + 6, real.begin() + 13), {out[10], out[11]});
}

TEST(RepairStream, GapsNearTheEndsUseTheFirstOrLastSevenPackets)
{
    // A gap after the second packet: the first seven packets.
    std::vector<Point> early = Drain(WriteStream({0, 1, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_EQ(early.size(), 11u);
    EXPECT_EQ(Flags(early), (std::vector<unsigned long>{0, 256, 32, 32, 128, 0, 0, 0, 0, 0, 0}));
    std::vector<Point> real = RealPackets(early);
    ExpectOnPolynomial(std::vector<Point>(real.begin(), real.begin() + 7), {early[2], early[3]});

    // A gap before the last packet: the last seven packets.
    std::vector<Point> late = Drain(WriteStream({0, 1, 2, 3, 4, 5, 6, 7, 8, 11}));
    ASSERT_EQ(late.size(), 12u);
    EXPECT_EQ(Flags(late), (std::vector<unsigned long>{0, 0, 0, 0, 0, 0, 0, 0, 256, 32, 32, 128}));
    real = RealPackets(late);
    ExpectOnPolynomial(std::vector<Point>(real.end() - 7, real.end()), {late[9], late[10]});
    ExpectSecs(late[9], 9.0);
    ExpectSecs(late[10], 10.0);
}

TEST(RepairStream, ShortGapsAroundTheThreshold)
{
    // 1.05 s apart: nothing to mark.
    EXPECT_EQ(Flags(Drain(WriteStream({0.0, 1.05}))), (std::vector<unsigned long>{0, 0}));

    // 1.2 s apart: one point, 1 s after the first packet, on the line
    // through the two packets.
    std::vector<Point> out = Drain(WriteStream({0.0, 1.2}));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{256, 32, 128}));
    ExpectSecs(out[1], 1.0);
    ExpectOnPolynomial({out[0], out[2]}, {out[1]});

    // 2.2 s apart: two points, the second 0.2 s before the next packet.
    out = Drain(WriteStream({0.0, 2.2}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{256, 32, 32, 128}));

    // 59 s apart: fifty-eight points at whole seconds.
    out = Drain(WriteStream({0.0, 59.0}));
    ASSERT_EQ(out.size(), 60u);
    for (size_t i = 1; i <= 58; ++i)
    {
        EXPECT_EQ(out[i].flags, 32u);
        ExpectSecs(out[i], static_cast<double>(i), 1e-3);
    }
}

TEST(RepairStream, LargeGapIsMarkedAndLeftOpen)
{
    std::vector<Point> out = Drain(WriteStream({0, 1, 62, 63}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{0, 512, 64, 0}));
    ExpectSecs(out[2], 62.0);

    // Small gap before and large gap after the same packet.
    out = Drain(WriteStream({0, 3, 70}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{256, 32, 32, 640, 64}));
    ExpectSecs(out[3], 3.0);
    EXPECT_EQ(out[3].values[0], Value(1, 0));
}

TEST(RepairStream, LaterGapUsesThePointLeftByAnEarlierOne)
{
    // Gaps after 3 s and after 7 s. The window element of the packet at 3 s
    // holds the point at 5 s when the second gap is found, so the second gap
    // is filled over 2, 5, 6, 7, 10, 11 and 12 s.
    std::vector<Point> out = Drain(WriteStream({0, 1, 2, 3, 6, 7, 10, 11, 12, 13, 14}));
    ASSERT_EQ(out.size(), 15u);
    EXPECT_EQ(Flags(out),
              (std::vector<unsigned long>{0, 0, 0, 256, 32, 32, 128, 256, 32, 32, 128, 0, 0, 0, 0}));
    std::vector<Point> real = RealPackets(out);
    ExpectOnPolynomial(std::vector<Point>(real.begin(), real.begin() + 7), {out[4], out[5]});

    std::vector<Point> window = {real[2], out[5], real[4], real[5], real[6], real[7], real[8]};
    ExpectOnPolynomial(window, {out[8], out[9]});
    ExpectSecs(out[8], 8.0);
    ExpectSecs(out[9], 9.0);
}

TEST(RepairStream, ShortReadStopsTheInputAfterThePacketsRead)
{
    PacketFileBuilder builder;
    for (size_t n = 0; n < 10; ++n)
        builder.AddTelemetry(Sample(static_cast<double>(n), n));
    builder.CutShort(20); // the last packet loses bytes beyond its values
    const std::string path = FreshTestDir() + "/cut.dat";
    ASSERT_TRUE(builder.WriteTo(path));

    packetfile file(path, trokpacket::apid);
    std::vector<Point> out = Drain(file);
    EXPECT_EQ(out.size(), 10u);
    EXPECT_TRUE(file.fail());
}

namespace {

// Escapes a text for use as a death-test pattern.
std::string Literal(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            out += '\\';
        out += c;
    }
    return out;
}

// The two packets of `path` numbered n and n + 1, printed with the given flags
// the way the time order message shows them.
std::string TimeOrderMessage(const std::string& path, size_t n, const std::string& firstFlags)
{
    packetfile file(path, trokpacket::apid);
    trokpacket a, b;
    file.ReadPacket(a, n);
    file.ReadPacket(b, n + 1);
    std::ostringstream os;
    os << "\npacket Time order error:\n\n" << firstFlags << ' ' << a << "\n\n"
       << "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=0" << ' ' << b << "\n\n";
    return os.str();
}

void DrainToEnd(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    repairpktstream stream(file);
    while (stream.getfixedpkt() != nullptr)
    {
    }
    std::exit(0);
}

} // namespace

TEST(RepairStreamDeathTest, TimeMustIncrease)
{
    const std::string equal = WriteStream({0, 1, 2, 2, 3});
    EXPECT_EXIT(DrainToEnd(equal), ::testing::ExitedWithCode(255),
                "^" + Literal(TimeOrderMessage(equal, 2, "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=0")) + "$");

    // Decreasing, with a small gap before the first of the two: its flag shows.
    const std::string back = WriteStream({0, 3, 2.5, 4});
    EXPECT_EXIT(DrainToEnd(back), ::testing::ExitedWithCode(255),
                "^" + Literal(TimeOrderMessage(back, 1, "sgf(8)=0  sgb(7)=1  lgf(9)=0  lgb(6)=0  rep(5)=0")) + "$");
}
