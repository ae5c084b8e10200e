#include "vn_class_attitudefile.h"

attitudefile::attitudefile(const std::string& path, const commonQLRheader& comHeader,
                           const attitudesubheader& attHeader,
                           const std::string& openPath)
    : streambuffer(), std::ofstream(),
      basefile(path, "attitude"),
      _comHeader(comHeader),
      _attHeader(attHeader)
{
    rdbuf()->pubsetbuf(BufferPtr(), static_cast<std::streamsize>(BufferSize()));
    open(openPath.empty() ? path : openPath, std::ios::out | std::ios::trunc | std::ios::binary);
    _comHeader.lock();
    _attHeader.lock();
    std::ofstream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ofstream::write(_attHeader.DataPtr(), _attHeader.DataSize());
}

attitudefile::~attitudefile()
{
    close();
    _comHeader.unlock();
    _attHeader.unlock();
}

attitudefile& attitudefile::write(const attituderecord& attRcd)
{
    std::ofstream::write(attRcd.DataPtr(), attRcd.DataSize());
    return *this;
}

void attitudefile::close()
{
    seekp(0);
    std::ofstream::write(_comHeader.DataPtr(), _comHeader.DataSize());
    std::ofstream::write(_attHeader.DataPtr(), _attHeader.DataSize());
}
