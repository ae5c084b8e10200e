#ifndef MATHLIB_CLASS_MATRIX_H
#define MATHLIB_CLASS_MATRIX_H

#include <cstddef>
#include <ostream>
#include <string>
#include <type_traits>

#include "mathlib_array.h"
#include "mathlib_class_MatrixError.h"

class matrix;

// Views made by matrix::row, matrix::col and matrix::subarray(r, c). They own
// nothing and are meant to be assigned to at once; each assignment returns the
// viewed matrix.
struct _row_matrix
{
    matrix& _mtx;
    size_t _row;

    _row_matrix(matrix& mtx, size_t row) : _mtx(mtx), _row(row) {}
    _row_matrix(const _row_matrix&) = default;
    matrix& operator=(const matrix& m);            // row gets m(1, j)
    matrix& operator=(const _row_matrix& other);   // row gets other's row
};

struct _col_matrix
{
    matrix& _mtx;
    size_t _col;

    _col_matrix(matrix& mtx, size_t col) : _mtx(mtx), _col(col) {}
    _col_matrix(const _col_matrix&) = default;
    matrix& operator=(const matrix& m);            // column gets m(i, 1)
    matrix& operator=(const _col_matrix& other);   // column gets other's column
};

struct _sub_matrix
{
    matrix& _mtx;
    size_t _beginRow;
    size_t _beginCol;

    _sub_matrix(matrix& mtx, size_t beginRow, size_t beginCol)
        : _mtx(mtx), _beginRow(beginRow), _beginCol(beginCol) {}
    _sub_matrix(const _sub_matrix&) = default;
    matrix& operator=(const matrix& m);            // block at (row, col) gets m
};

// A dense matrix of doubles with value semantics, indexed from 1 as (row,
// column) and stored row after row ("storage order").
//
// While matrix::check is on, every operation verifies its dimensions and
// indices first and throws MatrixError on a mismatch. While it is off the
// caller guarantees the dimensions; a call that would still reach outside a
// matrix's storage (a zero dimension, an index out of range, a source too
// small) throws the same MatrixError regardless.
class matrix
{
public:
    static bool check;   // off at start

    // rows x cols, every element value.
    matrix(size_t rows, size_t cols, double value);
    // rows x cols from the first rows*cols values in storage order; a null
    // pointer gives zeros.
    matrix(size_t rows, size_t cols, double* values);
    // rows x cols from the vector in storage order.
    matrix(size_t rows, size_t cols, const array& values);
    matrix(const matrix& m);
    matrix(const _row_matrix& v);   // 1 x cols, the viewed row
    matrix(const _col_matrix& v);   // rows x 1, the viewed column
    virtual ~matrix();

    size_t rowsize() const { return _rows; }
    size_t colsize() const { return _cols; }

    // Element (r, c), 1-based; the index is always verified.
    double& operator()(size_t r, size_t c) const;

    matrix& operator=(double v);          // every element v
    matrix& operator=(const double* p);   // first rows*cols values of p (null: no change)
    matrix& operator=(const array& v);    // as getarray(v)
    // Copies rows*cols values of m in storage order; the dimensions stay.
    matrix& operator=(const matrix& m);

    matrix& getarray(const double* arrayPtr);   // null: no change
    matrix& getarray(const array& vec);
    // The elements in storage order from value and the further numbers.
    template <typename... Rest>
    matrix& getarray(double value, Rest... rest)
    {
        static_assert((std::is_arithmetic_v<Rest> && ...), "getarray takes numbers");
        const double values[] = {value, static_cast<double>(rest)...};
        return _getlist(values, 1 + sizeof...(Rest));
    }

    void putarray(double* p) const;   // all values in storage order (null: nothing)
    void putarray(array& v) const;    // v emptied, then all values appended
    array putarray() const;

    // Zeros with ones on the leading diagonal (up to the smaller dimension).
    matrix& identity();
    // Sum of all elements in storage order.
    double sum() const;
    // The largest / smallest element, the first in storage order on ties; its
    // 1-based position goes to each pointer that is not null. Not-a-number
    // elements are passed over.
    double max(size_t* rowPtr = nullptr, size_t* colPtr = nullptr) const;
    double min(size_t* rowPtr = nullptr, size_t* colPtr = nullptr) const;

    _row_matrix row(size_t r);
    _col_matrix col(size_t c);
    _sub_matrix subarray(size_t r, size_t c);
    // A copy of the noRows x noCols block whose top-left element is (row, col).
    matrix subarray(size_t row, size_t col, size_t noRows, size_t noCols) const;

    // The transpose; the matrix itself is unchanged.
    matrix operator++(int) const;

private:
    friend struct _matrix_access;

    matrix& _getlist(const double* values, size_t count);
    void _allocate();
    size_t _extreme(double sign) const;

    // Storage of small matrices (3 x 3 and smaller) lives inside the object.
    static constexpr size_t _localSize = 9;

    size_t _rows;
    size_t _cols;
    double* _arrayPtr;
    double _local[_localSize];
};

const matrix& operator+(const matrix& m);
matrix& operator+(matrix& m);
matrix operator-(const matrix& m);

// Element by element; the result has a's dimensions.
matrix operator+(const matrix& a, const matrix& b);
matrix operator-(const matrix& a, const matrix& b);
matrix product(const matrix& a, const matrix& b);

matrix operator+(const matrix& m, double v);
matrix operator+(double v, const matrix& m);
matrix operator-(const matrix& m, double v);
matrix operator-(double v, const matrix& m);
matrix operator*(const matrix& m, double v);
matrix operator*(double v, const matrix& m);
matrix operator/(const matrix& m, double v);   // m * (1 / v)

// a is replaced by the plain operator's result; a copy of it is returned.
matrix operator+=(matrix& a, const matrix& b);
matrix operator-=(matrix& a, const matrix& b);
matrix operator+=(matrix& a, double v);
matrix operator-=(matrix& a, double v);
matrix operator/=(matrix& a, double v);

// Matrix product, a.rows x b.cols.
matrix operator*(const matrix& a, const matrix& b);
matrix transpose(const matrix& m);

// Each row as a line break then each element and a blank; a final line break.
std::ostream& operator<<(std::ostream& os, const matrix& m);

// Throw MatrixError(msg, r1, c1, r2, c2) unless r1 == r2 and c1 == c2, or
// unless r1 >= r2 and c1 >= c2, respectively.
void Assert_M1eqM2(const std::string& msg, size_t r1, size_t c1, size_t r2, size_t c2);
void Assert_M1geM2(const std::string& msg, size_t r1, size_t c1, size_t r2, size_t c2);

#endif
