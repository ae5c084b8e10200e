// The product reader of the tools on arbitrary files: kind detection, the
// headers, records and orbit metadata, the pair check, the flag names and
// the OEM export.
#include "fuzz_common.h"
#include "toolkit_qlrproduct.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    // The first byte picks the kind asked for: detect, ephemeris, attitude.
    static const ProductKind kinds[3] = {ProductKind::Unknown, ProductKind::Ephemeris,
                                         ProductKind::Attitude};
    const ProductKind asked = kinds[data[0] % 3];
    const std::string& path = WriteScratch("qlr", data + 1, size - 1);

    Product p;
    std::string error;
    if (!ReadProduct(path, asked, p, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (p.fileSize != size - 1 || p.commonBytes.size() != 140) __builtin_trap();
    std::ostream& os = NullStream();
    os << KindName(p.kind) << PrintableField(p.header.spacecraftId) << PrintableField(p.header.source)
       << PrintableField(p.header.version) << PrintableField(p.header.timeRange)
       << PrintableField(p.eph.refFrame);
    for (const ProductRecord& r : p.records) os << FlagNames(r.flags);
    CheckProductPair(p, p);
    if (p.kind == ProductKind::Ephemeris) WriteOem(os, p, "SAT", "2024-001A", "2024-01-01T00:00:00");
    return 0;
}
