#ifndef TOOLKIT_SHA256_H
#define TOOLKIT_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace toolkit {

// SHA-256 (FIPS 180-4), fed in pieces of any size. On x86 processors with
// the SHA extensions the blocks go through them (about eight times faster);
// `useExtensions` false keeps to the portable code.
class Sha256
{
public:
    explicit Sha256(bool useExtensions = true);
    void Update(const void* data, size_t size);
    void Update(const std::string& text) { Update(text.data(), text.size()); }
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Blocks(const unsigned char* data, size_t count);

    bool extensions;
    uint32_t state[8];
    unsigned char buffer[64];
    size_t buffered = 0;
    uint64_t totalBytes = 0;
};

// Whether this processor has the SHA extensions that Sha256 uses.
bool Sha256HasExtensions();

// The hex digest of a text.
std::string Sha256Hex(const std::string& text);

// The hex digest of a regular file's bytes, read in large pieces; a FIFO,
// device or folder is refused unopened (platform/input_file.h). False with
// `error` set (the reason) when it cannot be opened or read; `size` is the
// number of bytes hashed.
bool Sha256File(const std::string& path, std::string& hex, uint64_t& size, std::string& error);
// The same for what is left to read on an open descriptor.
bool Sha256Descriptor(int fd, std::string& hex, uint64_t& size, std::string& error);

} // namespace toolkit

#endif
