#ifndef VN_CLASS_STOREBASE_H
#define VN_CLASS_STOREBASE_H

#include <cstddef>
#include <ostream>

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

    char* DataPtr() const { return dataPtr; }
    size_t DataSize() const { return size; }
    void Clear(int v);

    void lock() const;
    void unlock() const;
    int getlock() const;

private:
    char* dataPtr;
    size_t size;
    mutable int usecnt;
};

// Writes the store's bytes to `os` as one stream write would (DataSize()
// bytes from DataPtr()), straight to the stream's buffer object: nothing on
// a stream that has failed already, badbit when the buffer takes fewer
// bytes. The file writers write every header and record through it.
inline void WriteStore(std::ostream& os, const storebase& store)
{
    if (!os.good()) {
        if (os.bad()) os.setstate(std::ios::failbit);
        return;
    }
    const std::streamsize n = static_cast<std::streamsize>(store.DataSize());
    if (os.rdbuf()->sputn(store.DataPtr(), n) != n) os.setstate(std::ios::badbit);
}

#endif
