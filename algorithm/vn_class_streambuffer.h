#ifndef VN_CLASS_STREAMBUFFER_H
#define VN_CLASS_STREAMBUFFER_H

#include <cstddef>
#include <memory>

// Storage for a file stream's buffer, larger than the library's default so
// that a file is read or written in few large system calls. A file class
// names it as its first base, before the stream: the storage is then made
// before the stream and released only after the stream's own destructor has
// written out whatever was still pending. The file class hands it to the
// stream with rdbuf()->pubsetbuf(BufferPtr(), BufferSize()) before opening.
class streambuffer
{
public:
    static const size_t defaultSize = 64 * 1024;

    explicit streambuffer(size_t size = defaultSize);
    streambuffer(const streambuffer&) = delete;
    streambuffer& operator=(const streambuffer&) = delete;

    char* BufferPtr();
    size_t BufferSize() const;

private:
    std::unique_ptr<char[]> buffer;
    size_t bufferSize;
};

#endif
