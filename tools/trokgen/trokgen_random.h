#ifndef TROKGEN_RANDOM_H
#define TROKGEN_RANDOM_H

#include <cstdint>

namespace trokgen {

// splitmix64: small, fast and the same on every platform.
class Random
{
public:
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Whole number in [lo, hi].
    long Between(long lo, long hi)
    {
        return lo + static_cast<long>(Next() % static_cast<uint64_t>(hi - lo + 1));
    }
    // Real number in [lo, hi).
    double Within(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

private:
    uint64_t state;
};

} // namespace trokgen

#endif
