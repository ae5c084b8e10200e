#ifndef ORBITLIB_CLASS_NORADELEMENTS_H
#define ORBITLIB_CLASS_NORADELEMENTS_H

#include <ostream>
#include <string>
#include <vector>

// One NORAD two-line element set held as thirteen doubles in working units:
//  0 mean motion (rad/min)          1 eccentricity
//  2 inclination (rad)              3 right ascension of the node (rad)
//  4 argument of perigee (rad)      5 mean anomaly (rad)
//  6 drag term B* (1/earth radii)   7 first derivative of mean motion / 2 (rad/min^2)
//  8 second derivative / 6 (rad/min^3)
//  9 catalogue number              10 two-digit epoch year
// 11 epoch day of year (1.0 = 1 January 00:00)   12 revolution number at epoch
class noradelements
{
public:
    noradelements();
    noradelements(const std::string& line1, const std::string& line2);
    noradelements(const noradelements& other);
    noradelements(const std::vector<double>& values);
    noradelements& operator=(const noradelements& other) = default;

    noradelements& Set(const noradelements& other);
    // Takes the values unchanged (any length); the set counts as valid.
    noradelements& Set(const std::vector<double>& values);
    // Parses the two text lines. Fields a short or malformed line does not
    // supply keep their previous values; a missing or wrong check digit on
    // either line clears the valid flag.
    noradelements& Set(const std::string& line1, const std::string& line2);

    std::vector<double> Get() const;
    // Formats the set as two 80-character lines with fresh check digits.
    void Get(std::string& line1, std::string& line2) const;

    // Writes both formatted lines, each ending in a line break; flushes.
    void Print(std::ostream& os) const;

    // True when both check digits matched (or the set was not parsed from text).
    bool operator!() const;

private:
    bool checksumValid;
    std::vector<double> V;
};

// Check digit of an element line: digits count their value, '-' counts 1,
// everything else 0, over the first 68 characters (fewer if the text ends
// sooner); the result is '0' + sum mod 10.
char CheckSum(const char* line);

#endif
