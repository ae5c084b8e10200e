#ifndef VN_PROC_FORMATCONVERT_H
#define VN_PROC_FORMATCONVERT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mathlib_array.h"

// Big-endian field decoding and encoding, and the MIL-STD-1750A decoders.
// `ptr` points at the field's first (most significant) byte; the buffer must
// hold the whole field. Each function touches exactly the field's width.

int FormatConvert_schar(const char* ptr);
unsigned short FormatConvert_ushort2(const char* ptr);
short FormatConvert_short2(const char* ptr);
short FormatConvert_short2(char a, char b);   // a high byte, b low byte
uint32_t FormatConvert_ulong4(const char* ptr);
int32_t FormatConvert_long4(const char* ptr);
float FormatConvert_float4(const char* ptr);
double FormatConvert_float8(const char* ptr);

void FormatConvert_short2(short int v, char* ptr);
void FormatConvert_long4(size_t v, char* ptr);  // low 32 bits, unsigned
void FormatConvert_float4(float v, char* ptr);
void FormatConvert_float8(double v, char* ptr);

// Runs of consecutive fields of one kind: each value in turn, 8 or 4 bytes
// apart.
void FormatConvert_float8(carray& values, char* ptr);
array FormatConvert_float8(const char* ptr, size_t count);
std::vector<float> FormatConvert_float4(const char* ptr, size_t count);

// MIL-STD-1750A 48-bit extended precision (6 bytes) and 32-bit single
// precision (4 bytes); every bit pattern decodes exactly.
double MiL1750_EPFP(const char* ptr);
double MiL1750_FP(const char* ptr);

#endif
