#ifndef PLATFORM_RANDOM_BYTES_H
#define PLATFORM_RANDOM_BYTES_H

#include <cstddef>
#include <string>

namespace platform {

// Bytes from the kernel's random source (getrandom, else /dev/urandom):
// names nobody can guess, tokens nobody can forge. False when neither
// answers.
bool RandomBytes(unsigned char* out, size_t n);

// `bytes` random bytes as lower-case hexadecimal (twice as many digits),
// or "" when the random source does not answer.
std::string RandomHex(size_t bytes);

} // namespace platform

#endif
