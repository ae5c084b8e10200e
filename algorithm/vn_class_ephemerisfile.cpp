#include "vn_class_ephemerisfile.h"

ephemerisfile::ephemerisfile(const std::string& path, const commonQLRheader& comHeader,
                             const ephemerissubheader& ephHeader,
                             const std::string& openPath)
    : streambuffer(), std::ofstream(),
      basefile(path, "ephemeris"),
      _comHeader(comHeader),
      _ephHeader(ephHeader)
{
    rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
    open(openPath.empty() ? path : openPath, std::ios::out | std::ios::trunc | std::ios::binary);
    _comHeader.lock();
    _ephHeader.lock();
    std::ofstream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ofstream::write(_ephHeader.DataPtr(), _ephHeader.DataSize());
}

ephemerisfile::~ephemerisfile()
{
    close();
    _comHeader.unlock();
    _ephHeader.unlock();
}

ephemerisfile& ephemerisfile::write(const ephemerisrecord& ephRcd)
{
    std::ofstream::write(ephRcd.DataPtr(), ephRcd.DataSize());
    return *this;
}

ephemerisfile& ephemerisfile::write(const ephemerismetadata& metaRcd)
{
    std::ofstream::write(metaRcd.DataPtr(), metaRcd.DataSize());
    return *this;
}

void ephemerisfile::close()
{
    seekp(0);
    std::ofstream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ofstream::write(_ephHeader.DataPtr(), _ephHeader.DataSize());
}
