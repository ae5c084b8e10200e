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
    WriteStore(*this, _comHeader);
    WriteStore(*this, _attHeader);
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
    WriteStore(*this, attRcd);
    return *this;
}

void attitudefile::close()
{
    seekp(0);
    WriteStore(*this, _comHeader);
    WriteStore(*this, _attHeader);
}
