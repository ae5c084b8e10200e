#ifndef TOOLKIT_QLRPRODUCT_H
#define TOOLKIT_QLRPRODUCT_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace toolkit {

// Read side of the two product files, for tools: every field is decoded
// from the file's bytes with bounds checks, so a damaged file is reported,
// never over-read.

enum class ProductKind { Unknown, Ephemeris, Attitude };

const char* KindName(ProductKind kind);

struct CommonHeader {
    std::string spacecraftId, timeRange, source, version;   // whole fields
    double startTai93 = 0, stopTai93 = 0;   // TAI93 seconds
    float interval = 0;
    uint32_t noURefs = 0, noRecords = 0;
};

struct EphemerisSubheader {
    uint32_t orbitCount = 0, firstOrbit = 0, lastOrbit = 0;
    std::string refFrame;   // the whole 8-byte field
    double kepler[6] = {};
    double epochTai93 = 0;
};

struct AttitudeSubheader {
    uint32_t angleOrder[3] = {};
};

// One data record: the time and six values (position and velocity, or three
// angles and three rates).
struct ProductRecord {
    double tai93 = 0;
    double v[6] = {};
    uint32_t flags = 0;
};

struct OrbitRecord {
    uint32_t orbitNo = 0;
    double ascendingTai93 = 0, descendingTai93 = 0, descendingLongitude = 0;
};

struct Product {
    std::string path;
    ProductKind kind = ProductKind::Unknown;
    uint64_t fileSize = 0;
    std::string commonBytes;   // the 140 header bytes as they stand
    CommonHeader header;
    EphemerisSubheader eph;
    AttitudeSubheader att;
    std::vector<ProductRecord> records;   // as many as the file really holds
    std::vector<OrbitRecord> orbits;      // ephemeris files only
    // Layout faults: sizes that disagree with NoRecords, a metadata part that
    // is not whole records. Empty for a sound file.
    std::vector<std::string> problems;
};

// The kind of a file from its first 512 bytes: an ephemeris subheader names
// its reference frame in text (RefFrame); an attitude subheader starts
// with three axis numbers 1 to 3.
ProductKind DetectKind(const std::string& bytes);

// Reads a product. `kind` Unknown: detect it. Returns false, with a reason in
// `error`, when the file cannot be read, is shorter than the 512 header
// bytes or its kind cannot be told; layout faults go to `problems`.
bool ReadProduct(const std::string& path, ProductKind kind, Product& out, std::string& error);

// Quality flags spelled out, "rep|lgb|sgb|sgf|lgf" order of bits 5 to 9;
// other bits as "bitN"; empty for none.
std::string FlagNames(uint32_t flags);

// What the quality flags of a product's records add up to.
struct RecordCounts {
    size_t records = 0;
    size_t repaired = 0;       // points interpolated in small gaps
    size_t smallGaps = 0;      // small gaps, repaired (records flagged small gap before)
    size_t largeGaps = 0;      // large gaps, left open (records flagged large gap before)
    double largeSeconds = 0;   // seconds without data across the large gaps
};
RecordCounts CountRecords(const std::vector<ProductRecord>& records);

// "<path>" is an <its kind> file, not an <wanted> file: a product given
// where one of the other kind is needed.
std::string WrongKind(const Product& p, ProductKind wanted);

// Every reason why `eph` and `att` are not a consistent pair of products;
// empty when they are.
std::vector<std::string> CheckProductPair(const Product& eph, const Product& att);

// Printable form of a text field: up to its last non-zero byte, zero bytes
// inside shown as \0 and other unprintable bytes as \xNN.
std::string PrintableField(const std::string& field);

} // namespace toolkit

#endif
