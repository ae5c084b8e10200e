#include "toolkit_qlrproduct.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "toolkit_isotime.h"
#include "toolkit_text.h"
#include "vn_class_quality_flags.h"
#include "vn_proc_FormatConvert.h"
#include "vn_version.h"

namespace toolkit {

namespace {

const size_t kCommonSize = 140;
const size_t kHeaderSize = 512;
const size_t kRecordSize = 64;
const size_t kOrbitSize = 32;

// A product file's bytes: mapped when it is a regular file (no copy, and
// only the pages read are touched), else read whole into `copy`.
struct Bytes {
    const char* data = nullptr;
    size_t size = 0;
    void* map = nullptr;
    std::string copy;

    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes()
    {
        if (map) munmap(map, size);
    }
};

std::string Field(const Bytes& b, size_t offset, size_t n) { return std::string(b.data + offset, n); }

double F64(const Bytes& b, size_t offset) { return FormatConvert_float8(b.data + offset); }
uint32_t U32(const Bytes& b, size_t offset) { return FormatConvert_ulong4(b.data + offset); }

// Reads the rest of `fd` into `bytes`, which holds `have` bytes already.
bool ReadRest(int fd, std::string& bytes)
{
    size_t have = bytes.size();
    for (;;) {
        if (have == bytes.size()) bytes.resize(2 * bytes.size() + 65536);
        const ssize_t r = read(fd, &bytes[have], bytes.size() - have);
        if (r > 0) have += static_cast<size_t>(r);
        else if (r == 0) break;
        else if (errno != EINTR) return false;
    }
    bytes.resize(have);
    return true;
}

// The whole file: a regular file is mapped, anything else (a FIFO, a
// device, standard input by name) read to its end.
bool ReadWhole(const std::string& path, Bytes& b)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = true;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        void* map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            b.map = map;
            b.data = static_cast<const char*>(map);
            b.size = static_cast<size_t>(st.st_size);
            madvise(map, b.size, MADV_SEQUENTIAL);
            close(fd);
            return true;
        }
    }
    ok = ReadRest(fd, b.copy);
    const int error = errno;
    close(fd);
    errno = error;
    b.data = b.copy.data();
    b.size = b.copy.size();
    return ok;
}

} // namespace

const char* KindName(ProductKind kind)
{
    switch (kind) {
    case ProductKind::Ephemeris: return "ephemeris";
    case ProductKind::Attitude: return "attitude";
    default: return "unknown";
    }
}

namespace {

ProductKind KindOf(const Bytes& b)
{
    if (b.size < kHeaderSize) return ProductKind::Unknown;
    // Reference frame: printable text from its first byte, then zero padding.
    const std::string frame = Field(b, kCommonSize + 12, 8);
    bool text = frame[0] > ' ' && frame[0] < 127;
    bool ended = false;
    for (char c : frame) {
        if (c == '\0') ended = true;
        else if (ended || c < ' ' || c > '~') text = false;
    }
    if (text) return ProductKind::Ephemeris;
    bool axes = true;
    for (size_t i = 0; i < 3; ++i) {
        const uint32_t a = U32(b, kCommonSize + 4 * i);
        axes = axes && a >= 1 && a <= 3;
    }
    return axes ? ProductKind::Attitude : ProductKind::Unknown;
}

} // namespace

ProductKind DetectKind(const std::string& bytes)
{
    Bytes b;
    b.data = bytes.data();
    b.size = bytes.size();
    return KindOf(b);
}

bool ReadProduct(const std::string& path, ProductKind kind, Product& p, std::string& error)
{
    p = Product();
    p.path = path;
    Bytes b;
    if (!ReadWhole(path, b)) {
        error = "cannot read \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    p.fileSize = b.size;
    if (b.size < kHeaderSize) {
        error = "\"" + path + "\" holds " + std::to_string(b.size) +
                " bytes, fewer than the 512 bytes of the headers: not a product file";
        return false;
    }
    p.kind = kind == ProductKind::Unknown ? KindOf(b) : kind;
    if (p.kind == ProductKind::Unknown) {
        error = "\"" + path + "\" is neither an ephemeris file (no reference frame name) nor an "
                "attitude file (no angle order): give --kind if it is one";
        return false;
    }

    p.commonBytes = Field(b, 0, kCommonSize);
    CommonHeader& h = p.header;
    h.spacecraftId = Field(b, 0, 24);
    h.timeRange = Field(b, 24, 48);
    h.source = Field(b, 72, 32);
    h.version = Field(b, 104, 8);
    h.startTai93 = F64(b, 112);
    h.stopTai93 = F64(b, 120);
    h.interval = FormatConvert_float4(b.data + 128);
    h.noURefs = U32(b, 132);
    h.noRecords = U32(b, 136);

    if (p.kind == ProductKind::Ephemeris) {
        p.eph.orbitCount = U32(b, 140);
        p.eph.firstOrbit = U32(b, 144);
        p.eph.lastOrbit = U32(b, 148);
        p.eph.refFrame = Field(b, 152, 8);
        for (size_t i = 0; i < 6; ++i) p.eph.kepler[i] = F64(b, 160 + 8 * i);
        p.eph.epochTai93 = F64(b, 208);
    } else {
        for (size_t i = 0; i < 3; ++i) p.att.angleOrder[i] = U32(b, 140 + 4 * i);
    }

    const uint64_t n = h.noRecords;
    const uint64_t body = b.size - kHeaderSize;
    const uint64_t needed = n * kRecordSize;
    uint64_t present = n;
    if (body < needed) {
        present = body / kRecordSize;
        p.problems.push_back("NoRecords is " + std::to_string(n) + " but the file holds " +
                             std::to_string(b.size) + " bytes, room for " +
                             std::to_string(present) + " records (truncated file?)");
    }
    p.records.reserve(present);
    for (uint64_t i = 0; i < present; ++i) {
        const size_t o = kHeaderSize + static_cast<size_t>(i) * kRecordSize;
        ProductRecord r;
        r.tai93 = F64(b, o);
        for (size_t j = 0; j < 6; ++j) r.v[j] = F64(b, o + 8 + 8 * j);
        r.flags = U32(b, o + 56);
        p.records.push_back(r);
    }
    if (body <= needed) return true;

    const uint64_t rest = body - needed;
    if (p.kind == ProductKind::Attitude) {
        p.problems.push_back(std::to_string(rest) + " bytes follow the " + std::to_string(n) +
                             " records of NoRecords: an attitude file ends with its last record");
        return true;
    }
    if (rest % kOrbitSize != 0)
        p.problems.push_back("the " + std::to_string(rest) + " bytes after the " +
                             std::to_string(n) + " records of NoRecords are not whole 32-byte "
                             "orbit records");
    const uint64_t m = rest / kOrbitSize;
    p.orbits.resize(m);
    for (uint64_t k = 0; k < m; ++k) {
        const size_t o = kHeaderSize + static_cast<size_t>(needed + k * kOrbitSize);
        OrbitRecord& r = p.orbits[k];
        r.orbitNo = U32(b, o);
        r.ascendingTai93 = F64(b, o + 8);
        r.descendingTai93 = F64(b, o + 16);
        r.descendingLongitude = F64(b, o + 24);
    }
    return true;
}

std::string FlagNames(uint32_t flags)
{
    std::string s;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (!(flags & (1u << bit))) continue;
        if (!s.empty()) s += '|';
        switch (bit) {
        case quality_flags::repBit: s += "rep"; break;
        case quality_flags::lgbBit: s += "lgb"; break;
        case quality_flags::sgbBit: s += "sgb"; break;
        case quality_flags::sgfBit: s += "sgf"; break;
        case quality_flags::lgfBit: s += "lgf"; break;
        default: s += "bit" + std::to_string(bit);
        }
    }
    return s;
}

RecordCounts CountRecords(const std::vector<ProductRecord>& r)
{
    RecordCounts c;
    c.records = r.size();
    for (size_t i = 0; i < r.size(); ++i) {
        c.repaired += (r[i].flags & quality_flags::rep) != 0;
        c.smallGaps += (r[i].flags & quality_flags::sgb) != 0;
        if (r[i].flags & quality_flags::lgb) {
            ++c.largeGaps;
            if (i > 0) c.largeSeconds += r[i].tai93 - r[i - 1].tai93;
        }
    }
    return c;
}

std::string WrongKind(const Product& p, ProductKind wanted)
{
    return "\"" + p.path + "\" is an " + KindName(p.kind) + " file, not an " + KindName(wanted) +
           " file";
}

std::vector<std::string> CheckProductPair(const Product& eph, const Product& att)
{
    std::vector<std::string> why;
    const size_t limit = 20;   // enough to tell what is wrong, not a flood
    auto add = [&](const std::string& s) {
        if (why.size() < limit) why.push_back(s);
    };
    if (eph.kind != ProductKind::Ephemeris) add(WrongKind(eph, ProductKind::Ephemeris));
    if (att.kind != ProductKind::Attitude) add(WrongKind(att, ProductKind::Attitude));
    for (const std::string& s : eph.problems) add("ephemeris file: " + s);
    for (const std::string& s : att.problems) add("attitude file: " + s);

    if (eph.commonBytes != att.commonBytes) {
        static const size_t offsets[10] = {0, 24, 72, 104, 112, 120, 128, 132, 136, 140};
        static const char* const names[9] = {"SpacecraftID", "TimeRange", "Source",
                                              "Version",      "StartTime", "StopTime",
                                              "Interval",     "NoURefs",   "NoRecords"};
        std::string differ;
        for (size_t f = 0; f < 9; ++f) {
            const size_t a = offsets[f], len = offsets[f + 1] - offsets[f];
            if (eph.commonBytes.compare(a, len, att.commonBytes, a, len) != 0)
                differ += std::string(differ.empty() ? "" : ", ") + names[f];
        }
        add("the common headers of the two files differ (" + differ + ")");
    }

    for (const Product* p : {&eph, &att}) {
        const char* what = p == &eph ? "ephemeris" : "attitude";
        const auto& r = p->records;
        for (size_t i = 1; i < r.size(); ++i)
            if (!(r[i].tai93 > r[i - 1].tai93)) {
                add(std::string(what) + " record " + std::to_string(i) + " has time " +
                    FixedText(r[i].tai93, 6) + " s, not after the " + FixedText(r[i - 1].tai93, 6) +
                    " s of the record before it");
                break;
            }
        for (size_t i = 0; i < r.size(); ++i)
            if (r[i].flags & ~quality_flags::known) {
                add(std::string(what) + " record " + std::to_string(i) + " has unknown flag bits (" +
                    FlagNames(r[i].flags & ~quality_flags::known) + ")");
                break;
            }
        if (!r.empty() && p->records.size() == p->header.noRecords) {
            if (r.front().tai93 != p->header.startTai93)
                add(std::string(what) + " file: StartTime " + FixedText(p->header.startTai93, 6) +
                    " s is not the first record's time " + FixedText(r.front().tai93, 6) + " s");
            if (r.back().tai93 != p->header.stopTai93)
                add(std::string(what) + " file: StopTime " + FixedText(p->header.stopTai93, 6) +
                    " s is not the last record's time " + FixedText(r.back().tai93, 6) + " s");
        }
    }

    const size_t n = std::min(eph.records.size(), att.records.size());
    if (eph.records.size() != att.records.size())
        add("the ephemeris file holds " + std::to_string(eph.records.size()) +
            " records, the attitude file " + std::to_string(att.records.size()));
    for (size_t i = 0; i < n; ++i) {
        const ProductRecord& e = eph.records[i];
        const ProductRecord& a = att.records[i];
        if (e.tai93 != a.tai93 && !(std::isnan(e.tai93) && std::isnan(a.tai93))) {
            add("record " + std::to_string(i) + " has time " + FixedText(e.tai93, 6) +
                " s in the ephemeris file but " + FixedText(a.tai93, 6) + " s in the attitude file");
            break;
        }
    }
    for (size_t i = 0; i < n; ++i)
        if (eph.records[i].flags != att.records[i].flags) {
            add("record " + std::to_string(i) + " has flags " +
                std::to_string(eph.records[i].flags) + " in the ephemeris file but " +
                std::to_string(att.records[i].flags) + " in the attitude file");
            break;
        }
    if (eph.kind == ProductKind::Ephemeris && !eph.records.empty() && eph.orbits.empty() &&
        eph.problems.empty())
        add("the ephemeris file has records but no orbit metadata");
    return why;
}

std::string PrintableField(const std::string& field)
{
    size_t end = field.size();
    while (end > 0 && field[end - 1] == '\0') --end;
    std::string s;
    char buf[8];
    for (size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c == 0) s += "\\0";
        else if (c == '\\') s += "\\\\";
        else if (c < ' ' || c > '~') {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            s += buf;
        } else s += static_cast<char>(c);
    }
    return s;
}

} // namespace toolkit
