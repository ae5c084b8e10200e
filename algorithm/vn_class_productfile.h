#ifndef VN_CLASS_PRODUCTFILE_H
#define VN_CLASS_PRODUCTFILE_H

#include <string>

#include "vn_class_basefile.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_outputfile.h"
#include "vn_class_storebase.h"
#include "vn_class_streambuffer.h"

// What the two product writers (ephemerisfile, attitudefile) share: the
// common header and the file's subheader (512 bytes) written on opening,
// records appended after them, and the headers written again, as they are
// then, over the start of the file by close() and by the destructor. The
// file is created through outputfile and takes its name when it is
// committed: by the caller (Commit, CommitTogether), or else by the
// destructor when nothing failed. The headers are locked for the writer's
// life and must outlive it. Open and write failures show only in the
// stream's state, which the writer never clears.
//
// `Writer` is the writer itself (its `typeWord` names the file kind in
// messages), `SubHeader` its subheader and `Record` its data record.
template <class Writer, class SubHeader, class Record>
class productfile : private streambuffer, public outputstream, public basefile
{
public:
    productfile(const std::string& path, const commonQLRheader& comHeader, const SubHeader& subHeader)
        : streambuffer(), outputstream(),
          basefile(path, Writer::typeWord),
          _comHeader(comHeader),
          _subHeader(subHeader)
    {
        rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
        Open(path);
        _comHeader.lock();
        _subHeader.lock();
        WriteStore(*this, _comHeader);
        WriteStore(*this, _subHeader);
    }

    ~productfile() override
    {
        close();
        if (File().IsOpen()) Commit();   // not committed by the caller
        _comHeader.unlock();
        _subHeader.unlock();
    }

    // One record's bytes, straight into the stream's buffer.
    Writer& write(const Record& record)
    {
        WriteStore(*this, record);
        return static_cast<Writer&>(*this);
    }

    // Rewrites both headers at offset 0 and leaves the stream open there;
    // nothing may be written afterwards.
    void close()
    {
        seekp(0);
        WriteStore(*this, _comHeader);
        WriteStore(*this, _subHeader);
    }

private:
    const commonQLRheader& _comHeader;
    const SubHeader& _subHeader;
};

#endif
