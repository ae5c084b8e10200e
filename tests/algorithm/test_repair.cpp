// Quality flags, Neville interpolation and the repaired packet stream, the
// latter read from packet files built with the toolkit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"
#include "vn_class_exttrokpacket.h"
#include "vn_class_nevilleinterpolater.h"
#include "vn_class_nevilleinterpolater_2.h"
#include "vn_class_packetfile.h"
#include "vn_class_quality_flags.h"
#include "vn_class_repairpktstream.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

using namespace toolkit;

namespace {

std::string Printed(const quality_flags& flags)
{
    std::ostringstream os;
    os << flags;
    return os.str();
}

// The Lagrange form of the polynomial through the points, in extended
// precision: an independent check on Neville's scheme.
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

TEST(QualityFlags, SettersPrintedFormAndCopies)
{
    // Each setter, the value it stores, the named mask the tools test it by.
    struct Case { quality_flags& (quality_flags::*set)(); unsigned long value; uint32_t mask; const char* text; };
    const Case cases[] = {
        {&quality_flags::setGapRepaired, 32, quality_flags::rep, "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=1"},
        {&quality_flags::setLargeGapBefore, 64, quality_flags::lgb, "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=1  rep(5)=0"},
        {&quality_flags::setSmallGapBefore, 128, quality_flags::sgb, "sgf(8)=0  sgb(7)=1  lgf(9)=0  lgb(6)=0  rep(5)=0"},
        {&quality_flags::setSmallGapFollows, 256, quality_flags::sgf, "sgf(8)=1  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=0"},
        {&quality_flags::setLargeGapFollows, 512, quality_flags::lgf, "sgf(8)=0  sgb(7)=0  lgf(9)=1  lgb(6)=0  rep(5)=0"},
    };
    for (const Case& c : cases)
    {
        quality_flags flags;
        (flags.*c.set)();
        EXPECT_EQ(flags.getqualityflags().to_ulong(), c.value);
        EXPECT_EQ(c.mask, c.value);
        EXPECT_EQ(Printed(flags), c.text);
    }
    EXPECT_EQ(quality_flags::known, 32u + 64u + 128u + 256u + 512u);
    EXPECT_EQ(Printed(quality_flags()), "sgf(8)=0  sgb(7)=0  lgf(9)=0  lgb(6)=0  rep(5)=0");

    quality_flags both;
    both.setSmallGapBefore().setSmallGapFollows();
    quality_flags copy(both);
    both.clear();
    EXPECT_EQ(both.getqualityflags().to_ulong(), 0u);
    EXPECT_EQ(copy.getqualityflags().to_ulong(), 384u);
}

TEST(Neville, GivesThePolynomialThroughThePoints)
{
    // y = 2x^3 - x + 5: the cubic itself, inside, outside and at a node.
    dblplist cubic = {{0, 5}, {1, 6}, {2, 19}, {3, 56}};
    nevilleinterpolater nev(&cubic);
    EXPECT_DOUBLE_EQ(nev.interpolate(1.5), 10.25);
    EXPECT_DOUBLE_EQ(nev.interpolate(-1.0), 4.0);
    EXPECT_DOUBLE_EQ(nev.interpolate(2.0), 19.0);
    dblplist one = {{3.0, -7.5}};
    EXPECT_EQ(nev.setxylist(&one).interpolate(100.0), -7.5);

    dblplist pts = {{-0.3, 1.7}, {0.1, -2.2}, {0.45, 0.9}, {1.2, 3.3},
                    {1.25, 3.1}, {2.0, -0.4}, {2.9, 5.5}};
    nevilleinterpolater_2 owned;
    for (const auto& p : pts)
        owned.addtolist(p.first, p.second);
    EXPECT_EQ(owned.listsize(), 7u);
    for (double x : {-0.5, 0.3, 1.22, 2.5})
        EXPECT_NEAR(owned.interpolate(x), Lagrange(pts, x), 1e-9 * (1.0 + std::fabs(Lagrange(pts, x))));
    owned.clearlist();
    owned.addtolist(5.0, 2.0).addtolist(6.0, 4.0);
    EXPECT_DOUBLE_EQ(owned.interpolate(7.0), 6.0);
}

// Neville's recursion written out directly, every P(i, j) recomputed from
// its two neighbours: the rounding the products were made with.
static double NevilleRecursive(const dblplist& pts, double x, size_t i, size_t j)
{
    if (i == j) return pts[i - 1].second;
    const double xi = pts[i - 1].first, xj = pts[j - 1].first;
    return ((x - xi) * NevilleRecursive(pts, x, i + 1, j) + (xj - x) * NevilleRecursive(pts, x, i, j - 1)) /
           (xj - xi);
}

TEST(Neville, RoundsExactlyAsTheDirectRecursion)
{
    // Seven-point windows on Julian-day abscissas one second apart (with
    // jitter and a gap), as the repair stream uses them, and longer lists.
    int checked = 0;
    for (size_t n : {2u, 3u, 7u, 12u, 17u, 20u}) {
        dblplist pts;
        for (size_t k = 0; k < n; ++k) {
            const double second = static_cast<double>(k) + (k >= n / 2 ? 25.0 : 0.0) + 0.013 * std::sin(7.0 * k);
            pts.emplace_back(2461192.5 + second / 86400.0, 6.9e6 * std::cos(0.0011 * second + 0.3 * k));
        }
        nevilleinterpolater nev(&pts);
        for (double s : {0.5, 4.0, 9.7, 14.0, 20.2}) {
            const double x = 2461192.5 + s / 86400.0;
            const double got = nev.interpolate(x), want = NevilleRecursive(pts, x, 1, n);
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << n << " points at " << s << ": " << got << " vs " << want;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 30);
}

TEST(NevilleDeathTest, UnboundOrEmptyListIsAProgramError)
{
    nevilleinterpolater unbound(nullptr);
    EXPECT_DEATH(unbound.interpolate(1.0), "vn_class_nevilleinterpolater.*double "
                                           "nevilleinterpolater::interpolate\\(double\\) const.*xy != 0");
    nevilleinterpolater_2 empty;
    EXPECT_DEATH(empty.interpolate(1.0), "empty");
}

namespace {

const uint32_t baseCoarse = 1900000000u;

// Value k of the n-th packet: whole numbers (exact in the packet encoding)
// that follow no low-degree polynomial, so interpolating over the wrong
// points shows.
double Value(size_t n, unsigned k)
{
    return static_cast<double>((n * n * 7 + n * (k + 3) + k * k) % 23) + 100.0 * k - 11.0;
}

// A packet file with one telemetry packet per entry (seconds after the base).
std::string WriteStream(const std::vector<double>& secs, size_t cut = 0)
{
    PacketFileBuilder builder;
    for (size_t n = 0; n < secs.size(); ++n)
    {
        TelemetrySample s;
        s.coarse = baseCoarse + static_cast<uint32_t>(std::floor(secs[n]));
        s.fine = static_cast<uint16_t>(std::lround((secs[n] - std::floor(secs[n])) / 1.52e-5));
        double* slots[13] = {&s.pos[0],  &s.pos[1],  &s.pos[2],  &s.vel[0],  &s.vel[1],
                             &s.vel[2],  &s.quat[0], &s.quat[1], &s.quat[2], &s.quat[3],
                             &s.rates[0], &s.rates[1], &s.rates[2]};
        for (unsigned k = 0; k < 13; ++k)
            *slots[k] = Value(n, k);
        builder.AddTelemetry(s);
    }
    builder.CutShort(cut);
    const std::string path = FreshTestDir() + "/packets.dat";
    EXPECT_TRUE(builder.WriteTo(path));
    return path;
}

// Seconds after the base of a time tag (a Julian day from 1958-01-01).
double Secs(double timeTag) { return (timeTag - 2436204.5) * 86400.0 - baseCoarse; }

struct Point
{
    double time;
    array values;
    unsigned long flags;
};

std::vector<Point> Drain(packetfile& file)
{
    repairpktstream stream(file);
    std::vector<Point> out;
    while (trokpacket* pkt = stream.getfixedpkt())
    {
        out.push_back({pkt->TimeTag(), pkt->ItemList(), stream.getQualityFlags().getqualityflags().to_ulong()});
        if (out.size() > 1000)
            break;
    }
    EXPECT_EQ(stream.getfixedpkt(), nullptr) << "the end of the stream is final";
    return out;
}

std::vector<Point> Drain(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    std::vector<Point> out = Drain(file);
    EXPECT_TRUE(file.eof() && !file.fail());
    return out;
}

std::vector<unsigned long> Flags(const std::vector<Point>& pts)
{
    std::vector<unsigned long> flags;
    for (const Point& p : pts)
        flags.push_back(p.flags);
    return flags;
}

// Points out[from, to) that are real packets (no flag 5).
std::vector<Point> Real(const std::vector<Point>& out, size_t from, size_t to)
{
    std::vector<Point> real;
    for (const Point& p : out)
        if ((p.flags & 32u) == 0)
            real.push_back(p);
    return std::vector<Point>(real.begin() + static_cast<long>(from), real.begin() + static_cast<long>(to));
}

// Each point, value by value, lies on the polynomial through `window` and at
// the given whole second (time tags resolve about 40 microseconds, and each
// filled point adds its own rounding to the one before).
void ExpectFilled(const std::vector<Point>& window, const std::vector<Point>& points, double firstSec)
{
    for (size_t i = 0; i < points.size(); ++i)
    {
        const Point& p = points[i];
        EXPECT_EQ(p.flags, 32u);
        EXPECT_NEAR(Secs(p.time), firstSec + static_cast<double>(i), 1e-3);
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
}

} // namespace

TEST(RepairStream, UnbrokenStreamPassesThroughUnflagged)
{
    EXPECT_TRUE(Drain(WriteStream({})).empty());
    std::vector<Point> one = Drain(WriteStream({0.0}));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].flags, 0u);

    // Steps of 1 s, 1.05 s and 1.07 s are no gaps.
    std::vector<double> secs = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9.05, 10.12, 11.12};
    std::vector<Point> out = Drain(WriteStream(secs));
    ASSERT_EQ(out.size(), secs.size());
    for (size_t n = 0; n < secs.size(); ++n)
    {
        EXPECT_EQ(out[n].flags, 0u) << "packet " << n;
        EXPECT_NEAR(Secs(out[n].time), secs[n], 1e-4);
        for (unsigned k = 0; k < 13; ++k)
            EXPECT_EQ(out[n].values[k], Value(n, k));
    }
}

TEST(RepairStream, SmallGapIsFilledOverTheCentredWindow)
{
    // A 3 s gap after 9 s: points at 10 and 11 s over the packets 6 .. 9, 12 .. 14.
    std::vector<Point> out = Drain(WriteStream({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16}));
    ASSERT_EQ(out.size(), 17u);
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{0, 0, 0, 0, 0, 0, 0, 0, 0, 256, 32, 32, 128, 0, 0, 0, 0}));
    ExpectFilled(Real(out, 6, 13), {out[10], out[11]}, 10.0);

    // Near the start the first seven packets, near the end the last seven.
    out = Drain(WriteStream({0, 1, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{0, 256, 32, 32, 128, 0, 0, 0, 0, 0, 0}));
    ExpectFilled(Real(out, 0, 7), {out[2], out[3]}, 2.0);
    out = Drain(WriteStream({0, 1, 2, 3, 4, 5, 6, 7, 8, 11}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{0, 0, 0, 0, 0, 0, 0, 0, 256, 32, 32, 128}));
    ExpectFilled(Real(out, 3, 10), {out[9], out[10]}, 9.0);
}

TEST(RepairStream, NumberOfFilledPointsFollowsTheGap)
{
    // 1.2 s: one point, on the line through the two packets.
    std::vector<Point> out = Drain(WriteStream({0.0, 1.2}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{256, 32, 128}));
    ExpectFilled({out[0], out[2]}, {out[1]}, 1.0);
    // 2.2 s: two points, the second 0.2 s before the next packet.
    EXPECT_EQ(Flags(Drain(WriteStream({0.0, 2.2}))), (std::vector<unsigned long>{256, 32, 32, 128}));
    // 59 s: fifty-eight points.
    out = Drain(WriteStream({0.0, 59.0}));
    ASSERT_EQ(out.size(), 60u);
    ExpectFilled({out[0], out[59]}, std::vector<Point>(out.begin() + 1, out.end() - 1), 1.0);
}

// The gap rule compares time differences in extended precision. Around
// both thresholds, twenty units in the last place either side, for time tags
// of a run as for values far from them (where a difference in double
// precision would round), the answer is that of the extended comparison.
TEST(RepairStream, GapThresholdsAreJudgedInExtendedPrecision)
{
    const auto extended = [](double a, double b) {
        const long double gap = static_cast<long double>(b) - a;
        if (gap > 60.0L / 86400.0L) return PacketGap::large;
        if (gap > 1.1L / 86400.0L) return PacketGap::small;
        return PacketGap::none;
    };
    const double bases[] = {2436204.5, 2461203.123456789, 2485915.0, 1.0, 3.0e-5, 0.0,
                            -2461203.5, 1.0e300};
    const double steps[] = {60.0 / 86400.0, 1.1 / 86400.0, 1.0 / 86400.0, 0.0, 1.0e-9, 4.0e6};
    int differ = 0;
    for (double base : bases)
        for (double step : steps) {
            double next = base + step;
            for (int i = 0; i < 20; ++i) next = std::nextafter(next, -HUGE_VAL);
            for (int i = 0; i < 40; ++i, next = std::nextafter(next, HUGE_VAL))
                if (ClassifyGap(base, next) != extended(base, next)) {
                    ADD_FAILURE() << std::hexfloat << base << " " << next;
                    ++differ;
                }
        }
    EXPECT_EQ(differ, 0);
    // Far apart, the difference rounds in double precision across the large
    // gap's threshold; in extended precision it stays below it.
    EXPECT_EQ(ClassifyGap(0x1.97ee7085c36aap-59, 0x1.6c16c16c16c3p-11), PacketGap::small);
    const double t = 2461203.5;
    EXPECT_EQ(ClassifyGap(t, t + 60.5 / 86400.0), PacketGap::large);
    EXPECT_EQ(ClassifyGap(t, t + 59.5 / 86400.0), PacketGap::small);
    EXPECT_EQ(ClassifyGap(t, t + 1.0 / 86400.0), PacketGap::none);
}

TEST(RepairStream, LargeGapIsMarkedAndLeftOpen)
{
    std::vector<Point> out = Drain(WriteStream({0, 1, 62, 63}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{0, 512, 64, 0}));
    EXPECT_NEAR(Secs(out[2].time), 62.0, 1e-4);

    // Small gap before and large gap after the same packet.
    out = Drain(WriteStream({0, 3, 70}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{256, 32, 32, 640, 64}));
    EXPECT_EQ(out[3].values[0], Value(1, 0));
}

TEST(RepairStream, LaterGapUsesThePointLeftByAnEarlierOne)
{
    // Gaps after 3 s and after 7 s. When the second is found, the window
    // element of the packet at 3 s holds the filled point at 5 s, so the
    // second gap is filled over 2, 5, 6, 7, 10, 11 and 12 s.
    std::vector<Point> out = Drain(WriteStream({0, 1, 2, 3, 6, 7, 10, 11, 12, 13, 14}));
    EXPECT_EQ(Flags(out), (std::vector<unsigned long>{0, 0, 0, 256, 32, 32, 128, 256, 32, 32, 128, 0, 0, 0, 0}));
    ExpectFilled(Real(out, 0, 7), {out[4], out[5]}, 4.0);
    std::vector<Point> window = Real(out, 2, 9);
    window[1] = out[5];
    ExpectFilled(window, {out[8], out[9]}, 8.0);
}

TEST(RepairStream, ReadErrorEndsTheInputAfterThePacketsRead)
{
    packetfile file(WriteStream({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 20), trokpacket::apid);
    EXPECT_EQ(Drain(file).size(), 10u);
    EXPECT_TRUE(file.fail());
}

namespace {

// The message for packets n and n + 1 of `path`, the first with the given flags.
std::string TimeOrderPattern(const std::string& path, size_t n, const std::string& firstFlags)
{
    packetfile file(path, trokpacket::apid);
    trokpacket a, b;
    file.ReadPacket(a, n).ReadPacket(b, n + 1);
    std::ostringstream os;
    os << "\npacket Time order error:\n\n" << firstFlags << ' ' << a << "\n\n"
       << Printed(quality_flags()) << ' ' << b << "\n\n";
    std::string pattern = "^";
    for (char c : os.str())
    {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

void DrainAndExit(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    Drain(file);
    std::exit(0);
}

} // namespace

TEST(RepairStreamDeathTest, TimeMustIncrease)
{
    const std::string equal = WriteStream({0, 1, 2, 2, 3});
    EXPECT_EXIT(DrainAndExit(equal), ::testing::ExitedWithCode(255),
                TimeOrderPattern(equal, 2, Printed(quality_flags())));

    // Decreasing, after a small gap: the first packet shows its gap flag.
    const std::string back = WriteStream({0, 3, 2.5, 4});
    EXPECT_EXIT(DrainAndExit(back), ::testing::ExitedWithCode(255),
                TimeOrderPattern(back, 1, Printed(quality_flags().setSmallGapBefore())));
}
