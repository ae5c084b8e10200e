#ifndef VN_CLASS_ATTITUDEFILE_H
#define VN_CLASS_ATTITUDEFILE_H

#include <string>

#include "vn_class_attituderecord.h"
#include "vn_class_attitudesubheader.h"
#include "vn_class_basefile.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_outputfile.h"
#include "vn_class_streambuffer.h"

// Writer of the attitude file (type word "attitude"): the common header and
// the attitude subheader (512 bytes), then the data records. The file is
// created through outputfile and the headers written on opening; close()
// and the destructor write the headers again, as they are then, over the
// start of the file. The file takes its name when it is committed: by the
// caller (Commit, CommitTogether), or else by the destructor when nothing
// failed. The headers are locked for the writer's life and must outlive it.
// Open and write failures show only in the stream's state, which the writer
// never clears.
class attitudefile : private streambuffer, public outputstream, public basefile
{
public:
    attitudefile(const std::string& path, const commonQLRheader& comHeader,
                 const attitudesubheader& attHeader);
    ~attitudefile() override;

    attitudefile& write(const attituderecord& attRcd);

    // Rewrites both headers at offset 0 and leaves the stream open there;
    // nothing may be written afterwards.
    void close();

private:
    const commonQLRheader& _comHeader;
    const attitudesubheader& _attHeader;
};

#endif
