#ifndef VN_PRODUCT_LAYOUT_H
#define VN_PRODUCT_LAYOUT_H

#include <cstddef>

// The layout of the two product files, in one place: the size of every
// block and the offset and size of every field in it. The header, record and
// metadata classes encode and decode their fields at these offsets, and the
// tools that read the files take them from here too. Every multi-byte number
// is big-endian: u32, f32 and f64 (IEEE-754); times are f64 TAI93 seconds.
//
// An ephemeris file is the common header, the ephemeris subheader, the data
// records, then one orbit record per orbit; an attitude file is the common
// header, the attitude subheader and the data records.
namespace productlayout {

// `size` bytes from `offset` of the block.
struct Field {
    std::size_t offset;
    std::size_t size;
    constexpr std::size_t End() const { return offset + size; }
};

constexpr std::size_t U32Size = 4, F32Size = 4, F64Size = 8;

// commonQLRheader: the same 140 bytes at the start of both files.
struct Common {
    static constexpr std::size_t Size = 140;
    // text
    static constexpr Field SpacecraftID{0, 24}, TimeRange{24, 48}, Source{72, 32}, Version{104, 8};
    static constexpr Field StartTime{112, 8}, StopTime{120, 8};   // f64
    static constexpr Field Interval{128, 4};                      // f32
    static constexpr Field NoURefs{132, 4}, NoRecords{136, 4};    // u32
    // Inside TimeRange: the start text with its zero byte, then, one byte
    // on, the end text with its zero byte; the field's last byte is never
    // written.
    static constexpr Field StartText{24, 25}, EndText{49, 22};
};

// ephemerissubheader: 372 bytes after the common header of an ephemeris
// file; what follows its last field is spare.
struct EphemerisSub {
    static constexpr std::size_t Size = 372;
    // u32: the orbit count comes first, although the accessors take it last
    static constexpr Field OrbitCount{0, 4}, FirstOrbit{4, 4}, LastOrbit{8, 4};
    static constexpr Field RefFrame{12, 8};   // text
    // f64: 6 elements, and their epoch in TAI93 seconds as given
    static constexpr Field KeplerElements{20, 48}, EpochTimeTAI{68, 8};
    // f32: 16 and 4 values, always zero
    static constexpr Field QaParameters{76, 64}, QaStatistics{140, 16};
};

// attitudesubheader: 372 bytes after the common header of an attitude file;
// what follows its last field is spare.
struct AttitudeSub {
    static constexpr std::size_t Size = 372;
    static constexpr Field AngleOrder{0, 12};   // 3 x u32: axis numbers
    // f32: 16 and 4 values, always zero
    static constexpr Field QaParameters{12, 64}, QaStatistics{76, 16};
};

// attituderecord and ephemerisrecord: 64 bytes of one shape, a time, two
// runs of three f64 (attitude angles and rates; position and velocity), the
// quality flags (u32) and 4 spare bytes, zero.
struct Record {
    static constexpr std::size_t Size = 64;
    static constexpr Field Time{0, 8};
    static constexpr Field FirstTriple{8, 24}, SecondTriple{32, 24};
    static constexpr Field QaFlag{56, 4}, Spares{60, 4};
};

// ephemerismetadata: 32 bytes per orbit at the end of an ephemeris file:
// the orbit number (u32) and 4 spare bytes, then the node times and the
// descending node's longitude, radians east (f64).
struct OrbitMeta {
    static constexpr std::size_t Size = 32;
    static constexpr Field OrbitNo{0, 4}, Spare{4, 4};
    static constexpr Field AscendingTime{8, 8}, DescendingTime{16, 8}, DescendingLongitude{24, 8};
};

// Where the blocks stand in a file.
struct File {
    static constexpr std::size_t SubheaderOffset = Common::Size;
    static constexpr std::size_t HeaderSize = Common::Size + EphemerisSub::Size;   // 512
    static constexpr std::size_t RecordsOffset = HeaderSize;
};

static_assert(EphemerisSub::Size == AttitudeSub::Size, "both subheaders fill the same space");
static_assert(Common::NoRecords.End() == Common::Size, "the common header ends with NoRecords");
static_assert(Record::Spares.End() == Record::Size, "a data record ends with its spare bytes");
static_assert(OrbitMeta::DescendingLongitude.End() == OrbitMeta::Size,
              "an orbit record ends with the descending node's longitude");

} // namespace productlayout

#endif
