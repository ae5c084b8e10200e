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
    std::ostream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ostream::write(_ephHeader.DataPtr(), _ephHeader.DataSize());
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
    std::ostream::write(ephRcd.DataPtr(), ephRcd.DataSize());
    return *this;
}

ephemerisfile& ephemerisfile::write(const ephemerismetadata& metaRcd)
{
    std::ostream::write(metaRcd.DataPtr(), metaRcd.DataSize());
    return *this;
}

void ephemerisfile::close()
{
    seekp(0);
    std::ostream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ostream::write(_ephHeader.DataPtr(), _ephHeader.DataSize());
}
