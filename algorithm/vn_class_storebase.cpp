#include "vn_class_storebase.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

storebase::storebase(size_t _size) : dataPtr(new char[_size]()), size(_size), usecnt(0)
{
}

storebase::storebase(const storebase& base)
    : dataPtr(new char[base.DataSize()]), size(base.DataSize()), usecnt(0)
{
    std::memcpy(dataPtr, base.DataPtr(), size);
}

storebase& storebase::operator=(const storebase& base)
{
    if (dataPtr == base.DataPtr()) return *this;
    char* fresh = new char[base.DataSize()];
    std::memcpy(fresh, base.DataPtr(), base.DataSize());
    delete[] dataPtr;
    dataPtr = fresh;
    size = base.DataSize();
    return *this;
}

storebase::~storebase()
{
    delete[] dataPtr;
    if (usecnt != 0) {
        std::cerr << "Program error: storebase use count = " << usecnt << std::endl;
        std::exit(-1);
    }
}

void storebase::Clear(int v) { std::memset(dataPtr, v, size); }
void storebase::lock() const { ++usecnt; }
void storebase::unlock() const { --usecnt; }
int storebase::getlock() const { return usecnt; }
