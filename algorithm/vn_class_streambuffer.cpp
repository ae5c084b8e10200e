#include "vn_class_streambuffer.h"

streambuffer::streambuffer(size_t size) : buffer(new char[size]), bufferSize(size) {}

char* streambuffer::BufferPtr() { return buffer.get(); }

size_t streambuffer::BufferSize() const { return bufferSize; }
