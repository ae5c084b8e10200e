#include "vn_proc_FormatConvert.h"


array FormatConvert_float8(const char* ptr, size_t count)
{
    array values(count);
    for (size_t k = 0; k < count; ++k) values[k] = FormatConvert_float8(ptr + 8 * k);
    return values;
}

std::vector<float> FormatConvert_float4(const char* ptr, size_t count)
{
    std::vector<float> values(count);
    for (size_t k = 0; k < count; ++k) values[k] = FormatConvert_float4(ptr + 4 * k);
    return values;
}
