#include "vn_class_attitudesubheader.h"

attitudesubheader& attitudesubheader::AngleOrder(unsigned r1, unsigned r2, unsigned r3)
{
    PutU32(L::AngleOrder, r1, 0);
    PutU32(L::AngleOrder, r2, 1);
    PutU32(L::AngleOrder, r3, 2);
    return *this;
}

std::vector<unsigned> attitudesubheader::AngleOrder() const
{
    return {GetU32(L::AngleOrder, 0), GetU32(L::AngleOrder, 1), GetU32(L::AngleOrder, 2)};
}
