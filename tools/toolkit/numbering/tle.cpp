#include "toolkit/numbering/tle.h"

#include <cstdio>

#include "orbitlib_class_noradelements.h"

namespace toolkit {

bool ValidDesignator(const std::string& text)
{
    if (text.size() < 6 || text.size() > 8) return false;
    for (size_t k = 0; k < 5; ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    for (size_t k = 5; k < text.size(); ++k)
        if (text[k] < 'A' || text[k] > 'Z') return false;
    return true;
}

std::string CompleteLine1(const std::string& line1, const ElementSetIdentity& id)
{
    std::string line = line1;
    if (line.size() < 69) line.resize(69, ' ');
    line[7] = id.classification;
    // Columns 10-17, left aligned, blank filled.
    const std::string designator = (id.designator + "        ").substr(0, 8);
    line.replace(9, 8, designator);
    // Positive mantissas of the two derivatives and the drag term carry a
    // blank sign (columns 34, 45, 54), as element sets are published.
    for (size_t c : {33u, 44u, 53u})
        if (line[c] == '+') line[c] = ' ';
    line[62] = static_cast<char>('0' + id.ephemerisType % 10);
    char number[8];
    std::snprintf(number, sizeof number, "%4d", id.elementNumber % 10000);
    line.replace(64, 4, number);
    line[68] = CheckSum(line.c_str());
    return line;
}

} // namespace toolkit
