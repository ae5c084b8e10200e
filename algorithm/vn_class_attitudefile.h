#ifndef VN_CLASS_ATTITUDEFILE_H
#define VN_CLASS_ATTITUDEFILE_H

#include "vn_class_attituderecord.h"
#include "vn_class_attitudesubheader.h"
#include "vn_class_productfile.h"

// Writer of the attitude file: the common header and the attitude
// subheader, then the data records (productfile says how).
class attitudefile : public productfile<attitudefile, attitudesubheader, attituderecord>
{
public:
    static constexpr const char* typeWord = "attitude";

    using productfile::productfile;
};

#endif
