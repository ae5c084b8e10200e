#ifndef VN_CLASS_COMMONQLRHEADER_H
#define VN_CLASS_COMMONQLRHEADER_H

#include <cstddef>
#include <string>

#include "vn_class_productblock.h"

// The 140-byte header that begins both product files. Fields live only as
// big-endian bytes at fixed offsets; times are stored as TAI93 seconds and
// taken and returned as TAI Julian days. Text setters copy at most the
// field's width, without a terminator; text getters return the whole field.
class commonQLRheader : public productblock
{
public:
    commonQLRheader();

    // Sizes of the text fields; longer values are cut to them.
    static const size_t spacecraftIDSize = productlayout::Common::SpacecraftID.size;
    static const size_t sourceSize = productlayout::Common::Source.size;
    static const size_t versionSize = productlayout::Common::Version.size;

    commonQLRheader& SpacecraftID(const std::string& value);   // 24 bytes at 0
    std::string SpacecraftID() const;

    // Stores both times at 112 and 120 and writes the UTC range as text at
    // 24: "YYYY-MM-DDThh:mm:ssZ to " and a zero byte (at 48), then
    // "YYYY-MM-DDThh:mm:ssZ " and a zero byte (at 70). Seconds are truncated.
    // Text that does not fit its space is cut; a time without a calendar
    // date (not finite, or outside years 1..999999) is shown with all fields 0.
    commonQLRheader& TimeRange(double _startTime, double _endTime);
    std::string TimeRange() const;                               // 48 bytes at 24

    commonQLRheader& Source(const std::string& value);          // 32 bytes at 72
    std::string Source() const;
    commonQLRheader& Version(const std::string& value);         // 8 bytes at 104
    std::string Version() const;

    double StartTime() const;
    double StopTime() const;

    commonQLRheader& Interval(float interval);
    float Interval() const;

    unsigned NoURefs() const;
    commonQLRheader& NoRecords(unsigned rcds);
    unsigned NoRecords() const;
};

#endif
