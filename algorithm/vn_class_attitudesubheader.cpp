#include "vn_class_attitudesubheader.h"

#include "vn_proc_FormatConvert.h"

namespace {

const size_t AngleOrderOffset = 0;
const size_t QaParametersOffset = 12, QaParametersCount = 16;
const size_t QaStatisticsOffset = 76, QaStatisticsCount = 4;

}

attitudesubheader::attitudesubheader() : storebase(372) {}

attitudesubheader& attitudesubheader::AngleOrder(unsigned r1, unsigned r2, unsigned r3)
{
    FormatConvert_long4(r1, DataPtr() + AngleOrderOffset);
    FormatConvert_long4(r2, DataPtr() + AngleOrderOffset + 4);
    FormatConvert_long4(r3, DataPtr() + AngleOrderOffset + 8);
    return *this;
}

std::vector<unsigned> attitudesubheader::AngleOrder() const
{
    return {FormatConvert_ulong4(DataPtr() + AngleOrderOffset),
            FormatConvert_ulong4(DataPtr() + AngleOrderOffset + 4),
            FormatConvert_ulong4(DataPtr() + AngleOrderOffset + 8)};
}

std::vector<float> attitudesubheader::qaParameters() const
{
    return FormatConvert_float4(DataPtr() + QaParametersOffset, QaParametersCount);
}

std::vector<float> attitudesubheader::qaStatistics() const
{
    return FormatConvert_float4(DataPtr() + QaStatisticsOffset, QaStatisticsCount);
}
