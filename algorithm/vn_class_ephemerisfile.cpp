#include "vn_class_ephemerisfile.h"

ephemerisfile::ephemerisfile(const std::string& path, const commonQLRheader& comHeader,
                             const ephemerissubheader& ephHeader)
    : streambuffer(), outputstream(),
      basefile(path, "ephemeris"),
      _comHeader(comHeader),
      _ephHeader(ephHeader)
{
    rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
    Open(path);
    _comHeader.lock();
    _ephHeader.lock();
    WriteStore(*this, _comHeader);
    WriteStore(*this, _ephHeader);
}

ephemerisfile::~ephemerisfile()
{
    close();
    if (File().IsOpen()) Commit();   // not committed by the caller
    _comHeader.unlock();
    _ephHeader.unlock();
}

ephemerisfile& ephemerisfile::write(const ephemerisrecord& ephRcd)
{
    WriteStore(*this, ephRcd);
    return *this;
}

ephemerisfile& ephemerisfile::write(const ephemerismetadata& metaRcd)
{
    WriteStore(*this, metaRcd);
    return *this;
}

void ephemerisfile::close()
{
    seekp(0);
    WriteStore(*this, _comHeader);
    WriteStore(*this, _ephHeader);
}
