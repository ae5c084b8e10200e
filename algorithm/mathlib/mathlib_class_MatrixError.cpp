#include "mathlib_class_MatrixError.h"

MatrixError::MatrixError(const std::string& message, size_t mtx1_row, size_t mtx1_col,
                         size_t mtx2_row, size_t mtx2_col)
    : _message(message), _mtx1_row(mtx1_row), _mtx1_col(mtx1_col),
      _mtx2_row(mtx2_row), _mtx2_col(mtx2_col),
      _what(message + " (" + std::to_string(mtx1_row) + ", " + std::to_string(mtx1_col) +
            ", " + std::to_string(mtx2_row) + ", " + std::to_string(mtx2_col) + ")")
{
}

const char* MatrixError::what() const noexcept
{
    return _what.c_str();
}
