// The product reader of the tools on arbitrary files: kind detection, the
// headers, records and orbit metadata, the pair check, the flag names and
// the OEM and AEM exports (the file read as both products of a pair).
#include "fuzz_common.h"
#include "toolkit/products/aem.h"
#include "toolkit/products/oem.h"
#include "toolkit/products/qlrproduct.h"

using namespace toolkit;

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
    AemOptions m;
    m.creationDate = "2024-01-01T00:00:00";
    m.comments = ProvenanceComments(p, "fuzz");
    m.orbitalFrame = p.kind == ProductKind::Attitude;   // both frames, by the kind read
    if (p.kind == ProductKind::Ephemeris && UnusableRecord(p.records, 6, "ephemeris").empty())
        WriteOem(os, p, m);
    std::vector<Quat> quaternions;
    if (AemQuaternions(p, p, m.orbitalFrame, quaternions).empty())
        WriteAem(os, p, quaternions, m);
    return 0;
}
