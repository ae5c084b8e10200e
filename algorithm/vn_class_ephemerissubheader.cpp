#include "vn_class_ephemerissubheader.h"

#include <cassert>

namespace {

const double NoEpoch = -999.999999;

}

ephemerissubheader& ephemerissubheader::Orbits(unsigned begOrbit, unsigned endOrbit, unsigned orbitCnt)
{
    PutU32(L::OrbitCount, orbitCnt);
    PutU32(L::FirstOrbit, begOrbit);
    PutU32(L::LastOrbit, endOrbit);
    return *this;
}

std::vector<unsigned> ephemerissubheader::Orbits() const
{
    return {GetU32(L::FirstOrbit), GetU32(L::LastOrbit), GetU32(L::OrbitCount)};
}

ephemerissubheader& ephemerissubheader::RefFrame(const std::string& rframe)
{
    PutText(L::RefFrame, rframe);
    return *this;
}

std::string ephemerissubheader::RefFrame() const { return GetText(L::RefFrame); }

ephemerissubheader& ephemerissubheader::KeplerElements(carray kepler)
{
    assert(kepler.size() == 6);
    PutF64s(L::KeplerElements, kepler);
    return *this;
}

std::vector<double> ephemerissubheader::KeplerElements() const { return GetF64s(L::KeplerElements); }

ephemerissubheader& ephemerissubheader::EpochTimeTAI(double time)
{
    PutF64(L::EpochTimeTAI, time < 0.0 ? NoEpoch : time);
    return *this;
}

double ephemerissubheader::EpochTimeTAI() const { return GetF64(L::EpochTimeTAI); }
