#ifndef TOOLKIT_TLE_H
#define TOOLKIT_TLE_H

#include <string>

namespace toolkit {

// The identification fields of line 1 of a two-line element set that
// trokproc neither writes nor reads: classification (column 8),
// international designator (columns 10-17), ephemeris type (column 63) and
// element set number (columns 65-68).
struct ElementSetIdentity {
    char classification = 'U';
    std::string designator;     // launch year (2 digits), launch number (3), piece (1-3 letters)
    int ephemerisType = 0;      // 0 to 9
    int elementNumber = 999;    // 0 to 9999
};

// True when `text` is an international designator as line 1 holds it:
// two digits of the launch year, three of the launch number and one to three
// capital letters for the piece, e.g. "98067A".
bool ValidDesignator(const std::string& text);

// Line 1 (at least 68 characters) with the identification fields set, right
// aligned where the format asks for it, a blank for a '+' sign of the
// mantissas in columns 34, 45 and 54, and a fresh check digit in column 69;
// the line keeps its length (69 at least). Every other column is kept.
std::string CompleteLine1(const std::string& line1, const ElementSetIdentity& id);

} // namespace toolkit

#endif
