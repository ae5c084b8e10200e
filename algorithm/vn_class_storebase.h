#ifndef VN_CLASS_STOREBASE_H
#define VN_CLASS_STOREBASE_H

#include <cstddef>

// A fixed-size, zero-filled byte buffer with a use count. Destroying a store
// whose use count is not 0 prints "Program error: storebase use count = N"
// and ends the process with status 255.
class storebase
{
public:
    explicit storebase(size_t _size);
    storebase(const storebase& base);          // deep copy, use count 0
    storebase& operator=(const storebase& base); // takes the source's size; keeps the count
    virtual ~storebase();

    char* DataPtr() const;
    size_t DataSize() const;
    void Clear(int v);

    void lock() const;
    void unlock() const;
    int getlock() const;

private:
    char* dataPtr;
    size_t size;
    mutable int usecnt;
};

#endif
