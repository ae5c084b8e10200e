#include "vn_class_ephemerissubheader.h"

#include <cassert>
#include <cstring>

#include "vn_proc_FormatConvert.h"

namespace {

const size_t OrbitCountOffset = 0, FirstOrbitOffset = 4, LastOrbitOffset = 8;
const size_t RefFrameOffset = 12, RefFrameSize = 8;
const size_t KeplerOffset = 20, KeplerCount = 6;
const size_t EpochOffset = 68;
const size_t QaParametersOffset = 76, QaParametersCount = 16;
const size_t QaStatisticsOffset = 140, QaStatisticsCount = 4;

const double NoEpoch = -999.999999;

}

ephemerissubheader::ephemerissubheader() : storebase(372) {}

ephemerissubheader& ephemerissubheader::Orbits(unsigned begOrbit, unsigned endOrbit, unsigned orbitCnt)
{
    FormatConvert_long4(orbitCnt, DataPtr() + OrbitCountOffset);
    FormatConvert_long4(begOrbit, DataPtr() + FirstOrbitOffset);
    FormatConvert_long4(endOrbit, DataPtr() + LastOrbitOffset);
    return *this;
}

std::vector<unsigned> ephemerissubheader::Orbits() const
{
    return {FormatConvert_ulong4(DataPtr() + FirstOrbitOffset),
            FormatConvert_ulong4(DataPtr() + LastOrbitOffset),
            FormatConvert_ulong4(DataPtr() + OrbitCountOffset)};
}

ephemerissubheader& ephemerissubheader::RefFrame(const std::string& rframe)
{
    std::memcpy(DataPtr() + RefFrameOffset, rframe.data(),
                rframe.size() < RefFrameSize ? rframe.size() : RefFrameSize);
    return *this;
}

std::string ephemerissubheader::RefFrame() const
{
    return std::string(DataPtr() + RefFrameOffset, RefFrameSize);
}

ephemerissubheader& ephemerissubheader::KeplerElements(carray kepler)
{
    assert(kepler.size() == 6);
    FormatConvert_float8(kepler, DataPtr() + KeplerOffset);
    return *this;
}

std::vector<double> ephemerissubheader::KeplerElements() const
{
    return FormatConvert_float8(DataPtr() + KeplerOffset, KeplerCount);
}

ephemerissubheader& ephemerissubheader::EpochTimeTAI(double time)
{
    FormatConvert_float8(time < 0.0 ? NoEpoch : time, DataPtr() + EpochOffset);
    return *this;
}

double ephemerissubheader::EpochTimeTAI() const
{
    return FormatConvert_float8(DataPtr() + EpochOffset);
}

std::vector<float> ephemerissubheader::qaParameters() const
{
    return FormatConvert_float4(DataPtr() + QaParametersOffset, QaParametersCount);
}

std::vector<float> ephemerissubheader::qaStatistics() const
{
    return FormatConvert_float4(DataPtr() + QaStatisticsOffset, QaStatisticsCount);
}
