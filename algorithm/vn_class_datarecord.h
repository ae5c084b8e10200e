#ifndef VN_CLASS_DATARECORD_H
#define VN_CLASS_DATARECORD_H

#include "vn_class_productblock.h"

// What the two 64-byte data records (attituderecord, ephemerisrecord) have
// in common: their layout (a time, two runs of three values, the quality
// flags and 4 spare bytes) and the accessors that carry the same names in
// both. `Record` is the record class itself, so that the setters return it
// and calls chain.
template <class Record>
class datarecord : public productblock
{
public:
    Record& QaFlag(unsigned flags)
    {
        PutU32(L::QaFlag, flags);
        return static_cast<Record&>(*this);
    }
    unsigned QaFlag() const { return GetU32(L::QaFlag); }

    char* Spares() { return At(L::Spares); }
    const char* Spares() const { return At(L::Spares); }

protected:
    using L = productlayout::Record;

    datarecord() : productblock(L::Size) {}
};

#endif
