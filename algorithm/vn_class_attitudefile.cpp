#include "vn_class_attitudefile.h"

attitudefile::attitudefile(const std::string& path, const commonQLRheader& comHeader,
                           const attitudesubheader& attHeader)
    : streambuffer(), outputstream(),
      basefile(path, "attitude"),
      _comHeader(comHeader),
      _attHeader(attHeader)
{
    rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
    Open(path);
    _comHeader.lock();
    _attHeader.lock();
    std::ostream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ostream::write(_attHeader.DataPtr(), _attHeader.DataSize());
}

attitudefile::~attitudefile()
{
    close();
    if (File().IsOpen()) Commit();   // not committed by the caller
    _comHeader.unlock();
    _attHeader.unlock();
}

attitudefile& attitudefile::write(const attituderecord& attRcd)
{
    std::ostream::write(attRcd.DataPtr(), attRcd.DataSize());
    return *this;
}

void attitudefile::close()
{
    seekp(0);
    std::ostream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ostream::write(_attHeader.DataPtr(), _attHeader.DataSize());
}
