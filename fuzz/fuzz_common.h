#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "vn_class_trokpacket.h"

// The classes under test open files by name: each input is written to one
// scratch file per process, replaced on every run.
inline const std::string& ScratchPath(const char* tag)
{
    static const std::string path =
        "/tmp/trokfuzz-" + std::string(tag) + "-" + std::to_string(getpid());
    return path;
}

inline const std::string& WriteScratch(const char* tag, const uint8_t* data, size_t size)
{
    const std::string& path = ScratchPath(tag);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

// The packet layout a fuzz input's first byte picks (its lowest bit: the
// sibling satellite's), set before any packet object exists, as in the
// program.
inline void PickPacketLayout(uint8_t first)
{
    const bool sibling = first & 1;
    trokpacket::pktsize = sibling ? 214 : 126;
    trokpacket::apid = sibling ? 967 : 957;
}

// A stream that swallows everything: printed forms are exercised for their
// memory accesses, not their text.
class NullBuffer : public std::streambuf
{
protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline std::ostream& NullStream()
{
    static NullBuffer buffer;
    static std::ostream os(&buffer);
    return os;
}

#endif
