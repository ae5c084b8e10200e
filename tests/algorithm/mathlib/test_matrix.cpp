#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "mathlib_class_matrix.h"
#include "mathlib_proc_CrossProduct.h"
#include "mathlib_proc_Magnitude.h"
#include "mathlib_proc_UnitVector.h"

namespace {

// Runs f and expects exactly this MatrixError.
template <typename F>
void ExpectMatrixError(F f, const std::string& msg, size_t r1, size_t c1, size_t r2, size_t c2)
{
    try {
        f();
        ADD_FAILURE() << "no MatrixError, expected \"" << msg << "\"";
    } catch (const MatrixError& e) {
        EXPECT_EQ(e.message(), msg);
        EXPECT_EQ((std::vector<size_t>{e.mtx1_row(), e.mtx1_col(), e.mtx2_row(), e.mtx2_col()}),
                  (std::vector<size_t>{r1, c1, r2, c2})) << msg;
    }
}

void ExpectElements(const matrix& m, size_t rows, size_t cols, const array& values)
{
    ASSERT_EQ(m.rowsize(), rows);
    ASSERT_EQ(m.colsize(), cols);
    EXPECT_EQ(m.putarray(), values);
}

// The checking switch is class-wide: every test that sets it clears it again.
class MatrixChecked : public ::testing::Test
{
protected:
    void SetUp() override { matrix::check = true; }
    void TearDown() override { matrix::check = false; }
};

} // namespace

TEST(Matrix, ConstructionFillsInStorageOrderAndPrintsByRow)
{
    double values[] = {1, 2, 3, 4, 5, 6};
    const matrix m(2, 3, values);
    EXPECT_EQ(m(2, 1), 4.0);
    std::ostringstream os;
    os << m;
    EXPECT_EQ(os.str(), "\n1 2 3 \n4 5 6 \n");
    ExpectElements(matrix(1, 2, static_cast<double*>(nullptr)), 1, 2, {0, 0});

    matrix listed(3, 1, 0.0);
    listed.getarray(7.0, 8, 9.5f);   // further arguments of any numeric type
    ExpectElements(listed, 3, 1, {7, 8, 9.5});

    // A large matrix (stored outside the object) copies independently.
    matrix big(4, 5, 2.0);
    const matrix copy(big);
    big(4, 5) = -1;
    EXPECT_EQ(copy.sum(), 40.0);

    matrix target(2, 2, 0.0);
    target = matrix(2, 2, array{9, 8, 7, 6});
    target = target;
    ExpectElements(target, 2, 2, {9, 8, 7, 6});
    array v{42, 43, 44};
    matrix(1, 2, array{1, 2}).putarray(v);
    EXPECT_EQ(v, (array{1, 2}));
}

TEST(Matrix, IdentitySumMaxMin)
{
    ExpectElements(matrix(2, 3, 9.0).identity(), 2, 3, {1, 0, 0, 0, 1, 0});
    // Storage-order addition: 1e16 + 1 - 1e16 loses the 1.
    EXPECT_EQ(matrix(1, 3, array{1e16, 1, -1e16}).sum(), 0.0);

    size_t r = 0, c = 0;
    EXPECT_EQ(matrix(2, 2, array{-5, -9, -2, -3}).max(&r, &c), -2.0);
    EXPECT_EQ(r * 10 + c, 21u);
    EXPECT_EQ(matrix(2, 2, array{3, 7, 7, 1}).max(&r, &c), 7.0);
    EXPECT_EQ(r * 10 + c, 12u);
    EXPECT_EQ(matrix(2, 2, array{2, 1, 1, 5}).min(&r, &c), 1.0);
    EXPECT_EQ(r * 10 + c, 12u);
    EXPECT_EQ(matrix(2, 3, array{4, 4, 4, 4, 0.5, 4}).min(&r, nullptr), 0.5);
    EXPECT_EQ(r, 2u);

    // Values beyond the largest finite double are still found; NaN is passed over.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(matrix(1, 2, array{inf, inf}).min(&r, &c), inf);
    EXPECT_EQ(c, 1u);
    EXPECT_EQ(matrix(1, 3, array{NAN, 2, 1}).min(nullptr, &c), 1.0);
    EXPECT_EQ(c, 3u);
}

TEST(Matrix, Arithmetic)
{
    const matrix a(2, 2, array{1, 2, 3, 4});
    const matrix b(2, 2, array{10, 20, 30, 40});
    ExpectElements(b - a, 2, 2, {9, 18, 27, 36});
    ExpectElements(product(a, b), 2, 2, {10, 40, 90, 160});
    ExpectElements(10.0 - a, 2, 2, {9, 8, 7, 6});
    EXPECT_EQ(&(+a), &a);

    const matrix m(1, 3, array{1, 3, 10});
    EXPECT_EQ((m / 4.0).putarray(), (m * 0.25).putarray());
    // Division multiplies by the reciprocal, and 49 * (1/49) rounds below 1.
    EXPECT_EQ((matrix(1, 1, 49.0) / 49.0)(1, 1), 0.9999999999999999);

    matrix acc(1, 2, array{1, 2});
    const matrix returned = (acc += matrix(1, 2, array{10, 10}));
    ExpectElements(returned, 1, 2, {11, 12});
    acc -= 1.0;
    acc /= 2.0;
    ExpectElements(acc, 1, 2, {5, 5.5});

    ExpectElements(a * matrix(2, 2, array{5, 6, 7, 8}), 2, 2, {19, 22, 43, 50});
    ExpectElements(matrix(3, 1, array{1, 2, 3}) * matrix(1, 2, array{1, -1}), 3, 2, {1, -1, 2, -2, 3, -3});

    const matrix column(3, 1, array{1, 2, 3});
    ExpectElements(column++, 1, 3, {1, 2, 3});
    ExpectElements(column, 3, 1, {1, 2, 3});
    ExpectElements(transpose(matrix(2, 3, array{1, 2, 3, 4, 5, 6})), 3, 2, {1, 4, 2, 5, 3, 6});
}

TEST(MatrixViews, RowColumnAndBlockAssignment)
{
    matrix m(3, 3, 0.0);
    matrix& viewed = (m.row(2) = matrix(1, 3, array{1, 2, 3}));
    EXPECT_EQ(&viewed, &m);
    m.col(3) = matrix(3, 1, array{7, 8, 9});
    ExpectElements(m, 3, 3, {0, 0, 7, 1, 2, 8, 0, 0, 9});
    m.subarray(2, 1) = matrix(2, 2, array{-1, -2, -3, -4});
    ExpectElements(m, 3, 3, {0, 0, 7, -1, -2, 8, -3, -4, 9});

    matrix other(4, 3, 0.0);
    other.row(4) = matrix(1, 3, array{5, 6, 7});
    matrix target(2, 3, 0.0);
    target.row(1) = other.row(4);
    target.row(2) = target.row(1);
    ExpectElements(target, 2, 3, {5, 6, 7, 5, 6, 7});
    matrix cols(2, 2, array{1, 2, 3, 4});
    cols.col(1) = cols.col(2);
    ExpectElements(cols, 2, 2, {2, 2, 4, 4});

    ExpectElements(matrix(m.row(3)), 1, 3, {-3, -4, 9});
    ExpectElements(matrix(m.col(1)), 3, 1, {0, -1, -3});
    ExpectElements(m.subarray(2, 2, 2, 2), 2, 2, {-2, 8, -4, 9});
}

TEST_F(MatrixChecked, EveryCheckReportsItsMessageAndNumbers)
{
    matrix m(2, 2, 0.0), wide(2, 3, 0.0), tall(3, 2, 0.0), big(3, 3, 0.0);
    ExpectMatrixError([] { matrix(0, 3, 0.0); }, "matrix constructor", 0, 3, 1, 1);
    ExpectMatrixError([] { matrix(2, 2, array{1, 2, 3}); }, "getarray", 2, 2, 3, 0);
    ExpectMatrixError([&] { m = array{1, 2, 3, 4, 5, 6}; }, "getarray", 2, 2, 6, 0);
    ExpectMatrixError([&] { m.getarray(1.0, 2.0, 3.0, 4.0, 5.0); }, "getarray", 2, 2, 5, 0);
    ExpectMatrixError([&] { m(0, 1); }, "zero index", 0, 1, 1, 1);
    ExpectMatrixError([&] { m(1, 3); }, "Matrix index \"()\"", 2, 2, 1, 3);
    ExpectMatrixError([&] { m = matrix(4, 1, 0.0); }, "Matrix assignment \"=\"", 2, 2, 4, 1);
    ExpectMatrixError([&] { m + wide; }, "Matrix addition \"+\"", 2, 2, 2, 3);
    ExpectMatrixError([&] { wide - m; }, "Matrix subtraction \"-\"", 2, 3, 2, 2);
    ExpectMatrixError([&] { product(m, wide); }, "Matrix product", 2, 2, 2, 3);
    ExpectMatrixError([&] { big * matrix(2, 1, 1.0); }, "Matrix multiply \"*\"", 3, 3, 2, 1);
    ExpectMatrixError([&] { m.row(3); }, "row constructor", 2, 2, 3, 0);
    ExpectMatrixError([&] { m.col(3); }, "row constructor", 2, 2, 0, 3);
    ExpectMatrixError([&] { m.row(1) = matrix(2, 2, 0.0); }, "row assignment", 2, 2, 2, 2);
    ExpectMatrixError([&] { m.row(1) = wide.row(1); }, "=row assignment", 2, 2, 2, 3);
    ExpectMatrixError([&] { m.col(1) = matrix(3, 1, 0.0); }, "=col assignment", 2, 2, 3, 1);
    ExpectMatrixError([&] { m.col(1) = tall.col(1); }, "=row assignment", 2, 2, 3, 2);
    ExpectMatrixError([&] { m.subarray(3, 1); }, "subarray constructor", 2, 2, 3, 1);
    ExpectMatrixError([&] { big.subarray(2, 2) = wide; }, "subarray assignment", 3, 3, 2, 3);
    ExpectMatrixError([&] { big.subarray(2, 2, 2, 3); }, "subarray", 3, 3, 3, 4);
    // A failed compound assignment leaves its target alone.
    ExpectMatrixError([&] { m += wide; }, "Matrix addition \"+\"", 2, 2, 2, 3);
    ExpectElements(m, 2, 2, {0, 0, 0, 0});
    ExpectElements(wide * tall, 2, 2, {0, 0, 0, 0});
}

TEST(MatrixUnchecked, NeverReachesOutsideTheStorage)
{
    ASSERT_FALSE(matrix::check);
    matrix m(2, 2, array{1, 2, 3, 4});
    ExpectMatrixError([] { matrix(0, 1, 0.0); }, "matrix constructor", 0, 1, 1, 1);
    ExpectMatrixError([&] { m(3, 1); }, "Matrix index \"()\"", 2, 2, 3, 1);
    ExpectMatrixError([&] { m.getarray(1.0, 2.0); }, "getarray", 2, 2, 2, 0);
    ExpectMatrixError([&] { m = matrix(1, 3, 0.0); }, "Matrix assignment \"=\"", 2, 2, 1, 3);
    ExpectMatrixError([&] { m + matrix(3, 1, 0.0); }, "Matrix addition \"+\"", 2, 2, 3, 1);
    ExpectMatrixError([&] { m * matrix(1, 2, 0.0); }, "Matrix multiply \"*\"", 2, 2, 1, 2);
    ExpectMatrixError([&] { m.row(1) = matrix(1, 1, 0.0); }, "row assignment", 2, 2, 1, 1);
    ExpectMatrixError([&] { m.col(0) = matrix(2, 1, 0.0); }, "zero index", 1, 0, 1, 1);
    ExpectMatrixError([&] { m.subarray(2, 2) = matrix(2, 1, 0.0); }, "subarray assignment", 2, 2, 2, 1);
    ExpectMatrixError([&] { m.subarray(1, 1, SIZE_MAX, 1); }, "subarray", 2, 2, SIZE_MAX, 1);
    ExpectElements(m, 2, 2, {1, 2, 3, 4});

    // Out-of-contract calls that stay inside the storage are carried out.
    m = matrix(4, 1, array{5, 6, 7, 8});
    ExpectElements(m, 2, 2, {5, 6, 7, 8});
    m = array{9, 10, 11, 12, 13};
    ExpectElements(m, 2, 2, {9, 10, 11, 12});

    EXPECT_NO_THROW(Assert_M1eqM2("eq", 3, 2, 3, 2));
    ExpectMatrixError([] { Assert_M1eqM2("eq", 3, 2, 2, 3); }, "eq", 3, 2, 2, 3);
    EXPECT_NO_THROW(Assert_M1geM2("ge", 3, 3, 3, 1));
    ExpectMatrixError([] { Assert_M1geM2("ge", 3, 1, 3, 2); }, "ge", 3, 1, 3, 2);
}

TEST(VectorHelpers, CrossMagnitudeAndUnitVector)
{
    const matrix ex(3, 1, array{1, 0, 0}), ey(3, 1, array{0, 1, 0});
    ExpectElements(CrossProduct(ex, ey), 3, 1, {0, 0, 1});
    ExpectElements(CrossProduct(ey, ex), 3, 1, {0, 0, -1});
    // (2, 3, 4) x (5, 6, 7) = (-3, 6, -3); further rows and columns are ignored.
    ExpectElements(CrossProduct(matrix(4, 2, array{2, 0, 3, 0, 4, 0, 9, 9}), matrix(3, 1, array{5, 6, 7})),
                   3, 1, {-3, 6, -3});

    EXPECT_EQ(Magnitude(matrix(3, 1, array{3, 4, 0})), 5.0);
    EXPECT_EQ(Magnitude(array{3, 4, 0}), 5.0);
    EXPECT_EQ(Magnitude(array{1, 2, 2, 4}), 5.0);
    ExpectElements(UnitVector(matrix(3, 1, array{0, 0, 2})), 3, 1, {0, 0, 1});
    EXPECT_FALSE(std::isfinite(UnitVector(matrix(3, 1, 0.0))(1, 1)));
}

TEST(VectorHelpersDeathTest, RowVectorsFailTheColumnAssertion)
{
    EXPECT_DEATH(Magnitude(matrix(1, 3, 1.0)),
                 "mathlib_proc_Magnitude.cpp:23: double Magnitude\\(const matrix&\\): "
                 "Assertion `m1.colsize\\(\\) == 1' failed");
    EXPECT_DEATH(UnitVector(matrix(3, 2, 1.0)),
                 "mathlib_proc_UnitVector.cpp:16: matrix UnitVector\\(const matrix&\\): "
                 "Assertion `v.colsize\\(\\) == 1' failed");
}
