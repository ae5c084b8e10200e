#ifndef VN_CLASS_PRODUCTBLOCK_H
#define VN_CLASS_PRODUCTBLOCK_H

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "mathlib_array.h"
#include "timelib_proc_TAI93.h"
#include "vn_class_storebase.h"
#include "vn_proc_FormatConvert.h"
#include "vn_product_layout.h"

// A block of a product file (a header, a subheader, a record): a byte store
// whose fields are encoded and decoded at the offsets of the product layout
// (vn_product_layout.h). The blocks' accessors are written with these; they
// are inline, since the data records use them for every sample.
class productblock : public storebase
{
protected:
    using Field = productlayout::Field;

    explicit productblock(size_t bytes) : storebase(bytes) {}

    char* At(const Field& f) const { return DataPtr() + f.offset; }

    // u32; `k` picks one of a run of them.
    unsigned GetU32(const Field& f, size_t k = 0) const
    {
        return FormatConvert_ulong4(At(f) + productlayout::U32Size * k);
    }
    void PutU32(const Field& f, unsigned v, size_t k = 0)
    {
        FormatConvert_long4(v, At(f) + productlayout::U32Size * k);
    }

    float GetF32(const Field& f) const { return FormatConvert_float4(At(f)); }
    void PutF32(const Field& f, float v) { FormatConvert_float4(v, At(f)); }
    std::vector<float> GetF32s(const Field& f) const
    {
        return FormatConvert_float4(At(f), f.size / productlayout::F32Size);
    }

    double GetF64(const Field& f) const { return FormatConvert_float8(At(f)); }
    void PutF64(const Field& f, double v) { FormatConvert_float8(v, At(f)); }
    // A run of f64: as many as the field holds, or as `values` gives (the
    // callers make sure they fit).
    array GetF64s(const Field& f) const { return FormatConvert_float8(At(f), f.size / productlayout::F64Size); }
    void PutF64s(const Field& f, carray& values) { FormatConvert_float8(values, At(f)); }

    // A time: a TAI Julian day in memory, TAI93 seconds in the field.
    double GetTime(const Field& f) const { return TAI93ToJulianDay(GetF64(f)); }
    void PutTime(const Field& f, double julianDay) { PutF64(f, JulianDayToTAI93(julianDay)); }

    // Text: the whole field, zero bytes included; a value is cut to the
    // field's width and needs no terminator.
    std::string GetText(const Field& f) const { return std::string(At(f), f.size); }
    void PutText(const Field& f, const std::string& value)
    {
        std::memcpy(At(f), value.data(), value.size() < f.size ? value.size() : f.size);
    }
};

#endif
