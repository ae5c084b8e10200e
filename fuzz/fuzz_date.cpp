// Date text parsing with fuzzed text and format, and formatting the result
// back with the same format.
#include "fuzz_common.h"
#include "timelib_class_date_time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Format, a NUL byte, then the text.
    const std::string all(reinterpret_cast<const char*>(data), size);
    const size_t split = all.find('\0');
    if (split == std::string::npos) return 0;
    const std::string format = all.substr(0, split);
    const std::string text = all.substr(split + 1);

    date_time d;
    d.ConvertStringToDate(text, format);
    unsigned int year, month, day, dayOffset;
    double dayFraction, second;
    d.GetGregorianYearMonthDay(year, month, dayFraction);
    d.GetGregorianYearDaySecond(year, dayOffset, second);
    d.GetNumericDayofWeek();
    const std::string printed = d.ConvertDateToString(format);
    date_time e(d.GetJulianDay());
    e.ConvertDateToString(text.size() < 64 ? text : text.substr(0, 64));
    (void)printed;
    (void)day;
    return 0;
}
