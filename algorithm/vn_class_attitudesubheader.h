#ifndef VN_CLASS_ATTITUDESUBHEADER_H
#define VN_CLASS_ATTITUDESUBHEADER_H

#include <vector>

#include "vn_class_subheader.h"

// The 372-byte subheader of the attitude file: the rotation order of the
// three attitude angles at 0, quality parameters (16 floats) at 12 and
// statistics (4 floats) at 76, which stay zero; the rest is spare.
class attitudesubheader : public subheader<productlayout::AttitudeSub>
{
public:
    attitudesubheader& AngleOrder(unsigned r1, unsigned r2, unsigned r3);
    std::vector<unsigned> AngleOrder() const;   // (r1, r2, r3)
};

#endif
