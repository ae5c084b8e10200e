#ifndef MATHLIB_CLASS_MATRIXERROR_H
#define MATHLIB_CLASS_MATRIXERROR_H

#include <cstddef>
#include <exception>
#include <string>

// Thrown by value by the matrix library when an operation's dimensions or
// indices do not fit: the failed operation's message and the dimensions (or
// indices) of the two operands involved.
class MatrixError : public std::exception
{
public:
    MatrixError(const std::string& message, size_t mtx1_row, size_t mtx1_col,
                size_t mtx2_row, size_t mtx2_col);

    const std::string& message() const { return _message; }
    size_t mtx1_row() const { return _mtx1_row; }
    size_t mtx1_col() const { return _mtx1_col; }
    size_t mtx2_row() const { return _mtx2_row; }
    size_t mtx2_col() const { return _mtx2_col; }

    // The message followed by the four numbers.
    const char* what() const noexcept override;

private:
    std::string _message;
    size_t _mtx1_row;
    size_t _mtx1_col;
    size_t _mtx2_row;
    size_t _mtx2_col;
    std::string _what;
};

#endif
