#include "mathlib_class_matrix.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

bool matrix::check = false;

// Raw storage for the free operators, which have checked the dimensions.
struct _matrix_access
{
    static double* data(const matrix& m) { return m._arrayPtr; }
    static size_t size(const matrix& m) { return m._rows * m._cols; }
};

namespace {

double* Data(const matrix& m) { return _matrix_access::data(m); }
size_t Size(const matrix& m) { return _matrix_access::size(m); }

// Throws unless a and b have equal dimensions (while checking) and b has at
// least as many elements as a (always: the operators walk a's storage).
void CheckSameShape(const char* msg, const matrix& a, const matrix& b)
{
    const bool sameShape = a.rowsize() == b.rowsize() && a.colsize() == b.colsize();
    if ((matrix::check && !sameShape) || Size(b) < Size(a))
        throw MatrixError(msg, a.rowsize(), a.colsize(), b.rowsize(), b.colsize());
}

template <typename Op>
matrix Elementwise(const char* msg, const matrix& a, const matrix& b, Op op)
{
    CheckSameShape(msg, a, b);
    matrix result(a);
    double* r = Data(result);
    const double* q = Data(b);
    for (size_t k = 0, n = Size(result); k < n; ++k) r[k] = op(r[k], q[k]);
    return result;
}

template <typename Op>
matrix Map(const matrix& m, Op op)
{
    matrix result(m);
    double* r = Data(result);
    for (size_t k = 0, n = Size(result); k < n; ++k) r[k] = op(r[k]);
    return result;
}

} // namespace

void matrix::_allocate()
{
    if (_rows == 0 || _cols == 0) throw MatrixError("matrix constructor", _rows, _cols, 1, 1);
    if (_cols > std::numeric_limits<size_t>::max() / sizeof(double) / _rows)
        throw std::bad_array_new_length();
    const size_t n = _rows * _cols;
    _arrayPtr = n <= _localSize ? _local : new double[n];
}

matrix::matrix(size_t rows, size_t cols, double value) : _rows(rows), _cols(cols), _arrayPtr(nullptr)
{
    _allocate();
    *this = value;
}

matrix::matrix(size_t rows, size_t cols, double* values) : _rows(rows), _cols(cols), _arrayPtr(nullptr)
{
    _allocate();
    if (values)
        std::copy(values, values + Size(*this), _arrayPtr);
    else
        *this = 0.0;
}

matrix::matrix(size_t rows, size_t cols, const array& values) : _rows(rows), _cols(cols), _arrayPtr(nullptr)
{
    _allocate();
    getarray(values);
}

matrix::matrix(const matrix& m) : _rows(m._rows), _cols(m._cols), _arrayPtr(nullptr)
{
    _allocate();
    std::copy(m._arrayPtr, m._arrayPtr + Size(m), _arrayPtr);
}

matrix::matrix(const _row_matrix& v) : _rows(1), _cols(v._mtx.colsize()), _arrayPtr(nullptr)
{
    _allocate();
    for (size_t j = 1; j <= _cols; ++j) (*this)(1, j) = v._mtx(v._row, j);
}

matrix::matrix(const _col_matrix& v) : _rows(v._mtx.rowsize()), _cols(1), _arrayPtr(nullptr)
{
    _allocate();
    for (size_t i = 1; i <= _rows; ++i) (*this)(i, 1) = v._mtx(i, v._col);
}

matrix::~matrix()
{
    if (_arrayPtr != _local) delete[] _arrayPtr;
}

double& matrix::operator()(size_t r, size_t c) const
{
    if (r == 0 || c == 0) throw MatrixError("zero index", r, c, 1, 1);
    if (r > _rows || c > _cols) throw MatrixError("Matrix index \"()\"", _rows, _cols, r, c);
    return _arrayPtr[(r - 1) * _cols + (c - 1)];
}

matrix& matrix::operator=(double v)
{
    std::fill(_arrayPtr, _arrayPtr + Size(*this), v);
    return *this;
}

matrix& matrix::operator=(const double* p)
{
    return getarray(p);
}

matrix& matrix::operator=(const array& v)
{
    return getarray(v);
}

matrix& matrix::operator=(const matrix& m)
{
    CheckSameShape("Matrix assignment \"=\"", *this, m);
    if (this != &m) std::copy(m._arrayPtr, m._arrayPtr + Size(*this), _arrayPtr);
    return *this;
}

matrix& matrix::getarray(const double* arrayPtr)
{
    if (arrayPtr) std::copy(arrayPtr, arrayPtr + Size(*this), _arrayPtr);
    return *this;
}

matrix& matrix::getarray(const array& vec)
{
    return _getlist(vec.data(), vec.size());
}

matrix& matrix::_getlist(const double* values, size_t count)
{
    const size_t n = Size(*this);
    if ((check && count != n) || count < n) throw MatrixError("getarray", _rows, _cols, count, 0);
    std::copy(values, values + n, _arrayPtr);
    return *this;
}

void matrix::putarray(double* p) const
{
    if (p) std::copy(_arrayPtr, _arrayPtr + Size(*this), p);
}

void matrix::putarray(array& v) const
{
    v.assign(_arrayPtr, _arrayPtr + Size(*this));
}

array matrix::putarray() const
{
    return array(_arrayPtr, _arrayPtr + Size(*this));
}

matrix& matrix::identity()
{
    *this = 0.0;
    for (size_t k = 1; k <= std::min(_rows, _cols); ++k) (*this)(k, k) = 1.0;
    return *this;
}

double matrix::sum() const
{
    double s = 0.0;
    for (size_t k = 0, n = Size(*this); k < n; ++k) s += _arrayPtr[k];
    return s;
}

// Storage index of the largest element of sign * element: the first among
// equals, infinities included, NaN skipped.
size_t matrix::_extreme(double sign) const
{
    size_t best = 0;
    bool found = false;
    double value = -HUGE_VAL;
    for (size_t k = 0, n = Size(*this); k < n; ++k) {
        const double v = sign * _arrayPtr[k];
        if (v > value || (!found && v == value)) {
            value = v;
            best = k;
            found = true;
        }
    }
    return best;
}

double matrix::max(size_t* rowPtr, size_t* colPtr) const
{
    const size_t best = _extreme(1.0);
    if (rowPtr) *rowPtr = best / _cols + 1;
    if (colPtr) *colPtr = best % _cols + 1;
    return _arrayPtr[best];
}

double matrix::min(size_t* rowPtr, size_t* colPtr) const
{
    const size_t best = _extreme(-1.0);
    if (rowPtr) *rowPtr = best / _cols + 1;
    if (colPtr) *colPtr = best % _cols + 1;
    return _arrayPtr[best];
}

_row_matrix matrix::row(size_t r)
{
    if (r > _rows) throw MatrixError("row constructor", _rows, _cols, r, 0);
    return _row_matrix(*this, r);
}

_col_matrix matrix::col(size_t c)
{
    if (c > _cols) throw MatrixError("row constructor", _rows, _cols, 0, c);
    return _col_matrix(*this, c);
}

_sub_matrix matrix::subarray(size_t r, size_t c)
{
    if (r > _rows || c > _cols) throw MatrixError("subarray constructor", _rows, _cols, r, c);
    return _sub_matrix(*this, r, c);
}

matrix matrix::subarray(size_t row, size_t col, size_t noRows, size_t noCols) const
{
    const size_t lastRow = row + noRows - 1, lastCol = col + noCols - 1;
    if (lastRow > _rows || lastCol > _cols || noRows > _rows || noCols > _cols)
        throw MatrixError("subarray", _rows, _cols, lastRow, lastCol);
    matrix result(noRows, noCols, 0.0);
    for (size_t i = 1; i <= noRows; ++i)
        for (size_t j = 1; j <= noCols; ++j) result(i, j) = (*this)(row + i - 1, col + j - 1);
    return result;
}

matrix matrix::operator++(int) const
{
    return transpose(*this);
}

// Views: the element access verifies every index, so a zero row or column
// is reported as "zero index" when the assignment reaches it.

matrix& _row_matrix::operator=(const matrix& m)
{
    const size_t cols = _mtx.colsize();
    if ((matrix::check && (m.rowsize() != 1 || m.colsize() != cols)) || m.colsize() < cols)
        throw MatrixError("row assignment", _mtx.rowsize(), cols, m.rowsize(), m.colsize());
    for (size_t j = 1; j <= cols; ++j) _mtx(_row, j) = m(1, j);
    return _mtx;
}

matrix& _row_matrix::operator=(const _row_matrix& other)
{
    const size_t cols = _mtx.colsize();
    const matrix& m = other._mtx;
    if ((matrix::check && m.colsize() != cols) || m.colsize() < cols)
        throw MatrixError("=row assignment", _mtx.rowsize(), cols, m.rowsize(), m.colsize());
    for (size_t j = 1; j <= cols; ++j) _mtx(_row, j) = m(other._row, j);
    return _mtx;
}

matrix& _col_matrix::operator=(const matrix& m)
{
    const size_t rows = _mtx.rowsize();
    if ((matrix::check && (m.colsize() != 1 || m.rowsize() != rows)) || m.rowsize() < rows)
        throw MatrixError("=col assignment", rows, _mtx.colsize(), m.rowsize(), m.colsize());
    for (size_t i = 1; i <= rows; ++i) _mtx(i, _col) = m(i, 1);
    return _mtx;
}

matrix& _col_matrix::operator=(const _col_matrix& other)
{
    const size_t rows = _mtx.rowsize();
    const matrix& m = other._mtx;
    if ((matrix::check && m.rowsize() != rows) || m.rowsize() < rows)
        throw MatrixError("=row assignment", rows, _mtx.colsize(), m.rowsize(), m.colsize());
    for (size_t i = 1; i <= rows; ++i) _mtx(i, _col) = m(i, other._col);
    return _mtx;
}

matrix& _sub_matrix::operator=(const matrix& m)
{
    const size_t rows = _mtx.rowsize(), cols = _mtx.colsize();
    if (_beginRow + m.rowsize() - 1 > rows || _beginCol + m.colsize() - 1 > cols)
        throw MatrixError("subarray assignment", rows, cols, m.rowsize(), m.colsize());
    if (&m == &_mtx && _beginRow == 1 && _beginCol == 1) return _mtx;   // the whole matrix onto itself
    for (size_t i = 1; i <= m.rowsize(); ++i)
        for (size_t j = 1; j <= m.colsize(); ++j) _mtx(_beginRow + i - 1, _beginCol + j - 1) = m(i, j);
    return _mtx;
}

const matrix& operator+(const matrix& m)
{
    return m;
}

matrix& operator+(matrix& m)
{
    return m;
}

matrix operator-(const matrix& m)
{
    return Map(m, [](double x) { return -x; });
}

matrix operator+(const matrix& a, const matrix& b)
{
    return Elementwise("Matrix addition \"+\"", a, b, [](double x, double y) { return x + y; });
}

matrix operator-(const matrix& a, const matrix& b)
{
    return Elementwise("Matrix subtraction \"-\"", a, b, [](double x, double y) { return x - y; });
}

matrix product(const matrix& a, const matrix& b)
{
    return Elementwise("Matrix product", a, b, [](double x, double y) { return x * y; });
}

matrix operator+(const matrix& m, double v)
{
    return Map(m, [v](double x) { return x + v; });
}

matrix operator+(double v, const matrix& m)
{
    return Map(m, [v](double x) { return v + x; });
}

matrix operator-(const matrix& m, double v)
{
    return Map(m, [v](double x) { return x - v; });
}

matrix operator-(double v, const matrix& m)
{
    return Map(m, [v](double x) { return v - x; });
}

matrix operator*(const matrix& m, double v)
{
    return Map(m, [v](double x) { return x * v; });
}

matrix operator*(double v, const matrix& m)
{
    return Map(m, [v](double x) { return v * x; });
}

matrix operator/(const matrix& m, double v)
{
    return m * (1.0 / v);
}

matrix operator+=(matrix& a, const matrix& b)
{
    a = a + b;
    return a;
}

matrix operator-=(matrix& a, const matrix& b)
{
    a = a - b;
    return a;
}

matrix operator+=(matrix& a, double v)
{
    a = a + v;
    return a;
}

matrix operator-=(matrix& a, double v)
{
    a = a - v;
    return a;
}

matrix operator/=(matrix& a, double v)
{
    a = a / v;
    return a;
}

matrix operator*(const matrix& a, const matrix& b)
{
    const size_t n = a.rowsize(), inner = a.colsize(), p = b.colsize();
    // b must have inner rows for every b(k, j) to exist.
    if ((matrix::check && inner != b.rowsize()) || inner > b.rowsize())
        throw MatrixError("Matrix multiply \"*\"", n, inner, b.rowsize(), p);
    matrix result(n, p, 0.0);
    const double* x = Data(a);
    const double* y = Data(b);
    double* r = Data(result);
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < p; ++j) {
            double s = 0.0;
            for (size_t k = 0; k < inner; ++k) s += x[i * inner + k] * y[k * p + j];
            r[i * p + j] = s;
        }
    return result;
}

matrix transpose(const matrix& m)
{
    const size_t rows = m.rowsize(), cols = m.colsize();
    matrix result(cols, rows, 0.0);
    const double* x = Data(m);
    double* r = Data(result);
    for (size_t i = 0; i < rows; ++i)
        for (size_t j = 0; j < cols; ++j) r[j * rows + i] = x[i * cols + j];
    return result;
}

std::ostream& operator<<(std::ostream& os, const matrix& m)
{
    for (size_t i = 1; i <= m.rowsize(); ++i) {
        os << '\n';
        for (size_t j = 1; j <= m.colsize(); ++j) os << m(i, j) << ' ';
    }
    return os << '\n';
}

void Assert_M1eqM2(const std::string& msg, size_t r1, size_t c1, size_t r2, size_t c2)
{
    if (r1 != r2 || c1 != c2) throw MatrixError(msg, r1, c1, r2, c2);
}

void Assert_M1geM2(const std::string& msg, size_t r1, size_t c1, size_t r2, size_t c2)
{
    if (r1 < r2 || c1 < c2) throw MatrixError(msg, r1, c1, r2, c2);
}
