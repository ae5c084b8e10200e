#ifndef VN_CLASS_SUBHEADER_H
#define VN_CLASS_SUBHEADER_H

#include <vector>

#include "vn_class_productblock.h"

// What the two 372-byte subheaders (attitudesubheader, ephemerissubheader)
// share: their size and the quality parameters (16 floats) and statistics
// (4 floats), which nothing sets, so they stay zero; they stand at other
// offsets in each (`Layout`, of vn_product_layout.h).
template <class Layout>
class subheader : public productblock
{
public:
    std::vector<float> qaParameters() const { return GetF32s(Layout::QaParameters); }
    std::vector<float> qaStatistics() const { return GetF32s(Layout::QaStatistics); }

protected:
    using L = Layout;

    subheader() : productblock(Layout::Size) {}
};

#endif
