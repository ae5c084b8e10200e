#ifndef VN_CLASS_EPHEMERISFILE_H
#define VN_CLASS_EPHEMERISFILE_H

#include "vn_class_ephemerismetadata.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_class_ephemerissubheader.h"
#include "vn_class_productfile.h"

// Writer of the ephemeris file: the common header and the ephemeris
// subheader, the data records, then the orbit metadata records
// (productfile says how).
class ephemerisfile : public productfile<ephemerisfile, ephemerissubheader, ephemerisrecord>
{
public:
    static constexpr const char* typeWord = "ephemeris";

    using productfile::productfile;
    using productfile::write;

    ephemerisfile& write(const ephemerismetadata& metaRcd)
    {
        WriteStore(*this, metaRcd);
        return *this;
    }
};

#endif
