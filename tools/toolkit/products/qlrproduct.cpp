#include "toolkit/products/qlrproduct.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "toolkit/time/isotime.h"
#include "toolkit/cli/text.h"
#include "vn_class_quality_flags.h"
#include "vn_proc_FormatConvert.h"
#include "vn_product_layout.h"
#include "vn_version.h"

namespace toolkit {

namespace {

// The product layout of the writers (vn_product_layout.h).
namespace layout = productlayout;
using CommonL = layout::Common;
using EphemerisL = layout::EphemerisSub;
using AttitudeL = layout::AttitudeSub;
using RecordL = layout::Record;
using OrbitL = layout::OrbitMeta;
const size_t kHeaderSize = layout::File::HeaderSize;
const size_t kSubheader = layout::File::SubheaderOffset;

// Fields of a block that starts at `base` of the bytes.
std::string Text(const std::string& b, const layout::Field& f, size_t base = 0)
{
    return b.substr(base + f.offset, f.size);
}
double F64(const char* b, const layout::Field& f, size_t base = 0, size_t k = 0)
{
    return FormatConvert_float8(b + base + f.offset + layout::F64Size * k);
}
uint32_t U32(const char* b, const layout::Field& f, size_t base = 0, size_t k = 0)
{
    return FormatConvert_ulong4(b + base + f.offset + layout::U32Size * k);
}

// A file read from start to end through a buffer of 1 MiB, so that a
// product of any size costs no more memory than its decoded records.
class FileReader
{
public:
    explicit FileReader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileReader()
    {
        if (fd_ >= 0) close(fd_);
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool Opened() const { return fd_ >= 0; }
    // The size a regular file says it has (0 for anything else): a hint.
    size_t SizeHint() const
    {
        struct stat st;
        return fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size)
                                                                       : 0;
    }
    // Up to `n` more bytes, fewer only at the end of the file; null and
    // errno set on a read error. The bytes stay valid until the next call.
    const char* Next(size_t n, size_t& got)
    {
        if (buffer_.size() < n) buffer_.resize(n);
        got = 0;
        while (got < n) {
            const ssize_t r = read(fd_, &buffer_[got], n - got);
            if (r > 0) got += static_cast<size_t>(r);
            else if (r == 0) break;
            else if (errno != EINTR) return nullptr;
        }
        total_ += got;
        return buffer_.data();
    }
    // Every byte read so far.
    size_t Total() const { return total_; }

private:
    int fd_;
    std::vector<char> buffer_;
    size_t total_ = 0;
};

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

ProductKind KindOf(const std::string& b)
{
    if (b.size() < kHeaderSize) return ProductKind::Unknown;
    // Reference frame: printable text from its first byte, then zero padding.
    const std::string frame = Text(b, EphemerisL::RefFrame, kSubheader);
    bool text = frame[0] > ' ' && frame[0] < 127;
    bool ended = false;
    for (char c : frame) {
        if (c == '\0') ended = true;
        else if (ended || c < ' ' || c > '~') text = false;
    }
    if (text) return ProductKind::Ephemeris;
    bool axes = true;
    for (size_t i = 0; i < 3; ++i) {
        const uint32_t a = U32(b.data(), AttitudeL::AngleOrder, kSubheader, i);
        axes = axes && a >= 1 && a <= 3;
    }
    return axes ? ProductKind::Attitude : ProductKind::Unknown;
}

// The common header and the subheader of the product's kind, from the
// file's first 512 bytes.
void DecodeHeaders(const std::string& b, Product& p)
{
    const char* d = b.data();
    p.commonBytes = b.substr(0, CommonL::Size);
    CommonHeader& h = p.header;
    h.spacecraftId = Text(b, CommonL::SpacecraftID);
    h.timeRange = Text(b, CommonL::TimeRange);
    h.source = Text(b, CommonL::Source);
    h.version = Text(b, CommonL::Version);
    h.startTai93 = F64(d, CommonL::StartTime);
    h.stopTai93 = F64(d, CommonL::StopTime);
    h.interval = FormatConvert_float4(d + CommonL::Interval.offset);
    h.noURefs = U32(d, CommonL::NoURefs);
    h.noRecords = U32(d, CommonL::NoRecords);

    if (p.kind == ProductKind::Ephemeris) {
        p.eph.orbitCount = U32(d, EphemerisL::OrbitCount, kSubheader);
        p.eph.firstOrbit = U32(d, EphemerisL::FirstOrbit, kSubheader);
        p.eph.lastOrbit = U32(d, EphemerisL::LastOrbit, kSubheader);
        p.eph.refFrame = Text(b, EphemerisL::RefFrame, kSubheader);
        for (size_t i = 0; i < 6; ++i) p.eph.kepler[i] = F64(d, EphemerisL::KeplerElements, kSubheader, i);
        p.eph.epochTai93 = F64(d, EphemerisL::EpochTimeTAI, kSubheader);
    } else {
        for (size_t i = 0; i < 3; ++i) p.att.angleOrder[i] = U32(d, AttitudeL::AngleOrder, kSubheader, i);
    }
}

ProductRecord DecodeRecord(const char* chunk, size_t at)
{
    ProductRecord r;
    r.tai93 = F64(chunk, RecordL::Time, at);
    for (size_t j = 0; j < 3; ++j) {
        r.v[j] = F64(chunk, RecordL::FirstTriple, at, j);
        r.v[3 + j] = F64(chunk, RecordL::SecondTriple, at, j);
    }
    r.flags = U32(chunk, RecordL::QaFlag, at);
    return r;
}

// Reads a product file with the errors and layout faults of ReadProduct.
class ProductReader
{
public:
    ProductReader(const std::string& path, Product& p, std::string& error)
        : path_(path), in_(path), p_(p), error_(error)
    {
    }

    bool Read(ProductKind kind);

private:
    bool ReadFailed()
    {
        error_ = "cannot read \"" + path_ + "\": " + std::strerror(errno);
        return false;
    }
    bool ReadHeaders(ProductKind kind);
    bool ReadRecords(bool& whole);
    bool ReadOrbits();

    const std::string& path_;
    FileReader in_;
    Product& p_;
    std::string& error_;
};

bool ProductReader::Read(ProductKind kind)
{
    p_ = Product();
    p_.path = path_;
    if (!in_.Opened()) return ReadFailed();
    bool whole = true;
    if (!ReadHeaders(kind) || !ReadRecords(whole)) return false;
    return !whole || ReadOrbits();
}

bool ProductReader::ReadHeaders(ProductKind kind)
{
    size_t got = 0;
    const char* head = in_.Next(kHeaderSize, got);
    if (!head) return ReadFailed();
    const std::string b(head, got);
    p_.fileSize = in_.Total();
    if (b.size() < kHeaderSize) {
        error_ = "\"" + path_ + "\" holds " + std::to_string(b.size()) +
                 " bytes, fewer than the 512 bytes of the headers: not a product file";
        return false;
    }
    p_.kind = kind == ProductKind::Unknown ? KindOf(b) : kind;
    if (p_.kind == ProductKind::Unknown) {
        error_ = "\"" + path_ + "\" is neither an ephemeris file (no reference frame name) nor an "
                 "attitude file (no angle order): give --kind if it is one";
        return false;
    }
    DecodeHeaders(b, p_);
    return true;
}

// The records, decoded as they are read; room is made for as many as the
// file can hold, never for what a damaged NoRecords claims. `whole` false:
// the file ends inside them (a layout fault).
bool ProductReader::ReadRecords(bool& whole)
{
    const size_t kRecordSize = RecordL::Size;
    const uint64_t n = p_.header.noRecords;
    const size_t hint = in_.SizeHint();
    p_.records.reserve(static_cast<size_t>(
        std::min<uint64_t>(n, hint > kHeaderSize ? (hint - kHeaderSize) / kRecordSize : 0)));
    const uint64_t perRead = 16384;   // records: 1 MiB
    while (p_.records.size() < n) {
        const uint64_t want = std::min<uint64_t>(perRead, n - p_.records.size());
        size_t got = 0;
        const char* chunk = in_.Next(static_cast<size_t>(want * kRecordSize), got);
        if (!chunk) return ReadFailed();
        for (size_t o = 0; o + kRecordSize <= got; o += kRecordSize) p_.records.push_back(DecodeRecord(chunk, o));
        if (got < want * kRecordSize) {
            p_.fileSize = in_.Total();
            p_.problems.push_back("NoRecords is " + std::to_string(n) + " but the file holds " +
                                  std::to_string(p_.fileSize) + " bytes, room for " +
                                  std::to_string(p_.records.size()) + " records (truncated file?)");
            whole = false;
            return true;
        }
    }
    return true;
}

// What follows the records: the orbit records of an ephemeris file.
bool ProductReader::ReadOrbits()
{
    std::string after;
    for (;;) {
        const size_t block = 1 << 20;
        size_t got = 0;
        const char* chunk = in_.Next(block, got);
        if (!chunk) return ReadFailed();
        after.append(chunk, got);
        if (got < block) break;
    }
    p_.fileSize = in_.Total();
    if (after.empty()) return true;

    const uint64_t n = p_.header.noRecords;
    const uint64_t rest = after.size();
    if (p_.kind == ProductKind::Attitude) {
        p_.problems.push_back(std::to_string(rest) + " bytes follow the " + std::to_string(n) +
                              " records of NoRecords: an attitude file ends with its last record");
        return true;
    }
    if (rest % OrbitL::Size != 0)
        p_.problems.push_back("the " + std::to_string(rest) + " bytes after the " +
                              std::to_string(n) + " records of NoRecords are not whole 32-byte "
                              "orbit records");
    const uint64_t m = rest / OrbitL::Size;
    p_.orbits.resize(m);
    for (uint64_t k = 0; k < m; ++k) {
        const size_t o = static_cast<size_t>(k * OrbitL::Size);
        OrbitRecord& r = p_.orbits[k];
        r.orbitNo = U32(after.data(), OrbitL::OrbitNo, o);
        r.ascendingTai93 = F64(after.data(), OrbitL::AscendingTime, o);
        r.descendingTai93 = F64(after.data(), OrbitL::DescendingTime, o);
        r.descendingLongitude = F64(after.data(), OrbitL::DescendingLongitude, o);
    }
    return true;
}

} // namespace

ProductKind DetectKind(const std::string& bytes) { return KindOf(bytes); }

bool ReadProduct(const std::string& path, ProductKind kind, Product& p, std::string& error)
{
    return ProductReader(path, p, error).Read(kind);
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
        static const std::pair<layout::Field, const char*> fields[9] = {
            {CommonL::SpacecraftID, "SpacecraftID"}, {CommonL::TimeRange, "TimeRange"},
            {CommonL::Source, "Source"},             {CommonL::Version, "Version"},
            {CommonL::StartTime, "StartTime"},       {CommonL::StopTime, "StopTime"},
            {CommonL::Interval, "Interval"},         {CommonL::NoURefs, "NoURefs"},
            {CommonL::NoRecords, "NoRecords"}};
        std::string differ;
        for (const auto& [field, name] : fields) {
            if (eph.commonBytes.compare(field.offset, field.size, att.commonBytes, field.offset, field.size) != 0)
                differ += std::string(differ.empty() ? "" : ", ") + name;
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
