#ifndef TOOLKIT_MIL1750_H
#define TOOLKIT_MIL1750_H

namespace toolkit {

// MIL-STD-1750A floating-point encoders, the inverse of the decoders
// MiL1750_EPFP and MiL1750_FP. Each writes the nearest representable value
// with a normalised mantissa. Zero (either sign) and NaN give all-zero
// bytes; magnitudes above the largest representable value are clamped to
// it; magnitudes below the smallest normalised value (exponent -128) are
// rounded to the nearest denormalised mantissa, which may be zero.

// 48-bit extended precision: writes 6 bytes at out.
void Mil1750EncodeEP(double value, char* out);

// 32-bit single precision: writes 4 bytes at out.
void Mil1750EncodeFP(double value, char* out);

} // namespace toolkit

#endif
