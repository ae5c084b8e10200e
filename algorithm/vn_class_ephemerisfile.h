#ifndef VN_CLASS_EPHEMERISFILE_H
#define VN_CLASS_EPHEMERISFILE_H

#include <string>

#include "vn_class_basefile.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_ephemerismetadata.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_class_ephemerissubheader.h"
#include "vn_class_outputfile.h"
#include "vn_class_streambuffer.h"

// Writer of the ephemeris file (type word "ephemeris"): the common header
// and the ephemeris subheader (512 bytes), the data records, then the
// metadata records. The file is created through outputfile and the headers
// written on opening; close() and the destructor write the headers again,
// as they are then, over the start of the file. The file takes its name
// when it is committed: by the caller (Commit, CommitTogether), or else by
// the destructor when nothing failed. The headers are locked for the
// writer's life and must outlive it. Open and write failures show only in
// the stream's state, which the writer never clears.
class ephemerisfile : private streambuffer, public outputstream, public basefile
{
public:
    ephemerisfile(const std::string& path, const commonQLRheader& comHeader,
                  const ephemerissubheader& ephHeader);
    ~ephemerisfile() override;

    ephemerisfile& write(const ephemerisrecord& ephRcd);
    ephemerisfile& write(const ephemerismetadata& metaRcd);

    // Rewrites both headers at offset 0 and leaves the stream open there;
    // nothing may be written afterwards.
    void close();

private:
    const commonQLRheader& _comHeader;
    const ephemerissubheader& _ephHeader;
};

#endif
