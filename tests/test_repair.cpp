// Quality flags, Neville interpolation and the repaired packet stream.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "vn_class_nevilleinterpolater.h"
#include "vn_class_nevilleinterpolater_2.h"
#include "vn_class_quality_flags.h"
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
