#ifndef VN_CLASS_NORADFILE_H
#define VN_CLASS_NORADFILE_H

#include <fstream>
#include <ostream>
#include <string>

#include "orbitlib_class_noradelements.h"
#include "vn_class_basefile.h"

// The name searched for in an element file: the configured satellite name,
// or "$$$$" when it is empty or begins with white space.
std::string NoradSearchName(const std::string& satelliteName);

// Whether an element-file line names the satellite `searchName`: the name
// occurs in the line, and the line is exactly as long as the name or holds a
// blank or carriage return at the offset of the name's length (counted from
// the start of the line, wherever the name was found). `at` is where the
// name was found.
bool NoradLineNames(const std::string& line, const std::string& searchName, std::string::size_type& at);

// Input file of named two-line element sets (type word "norad").
class noradfile : public std::ifstream, public basefile
{
public:
    // Opens the file; an empty satellite name, or one beginning with white
    // space, is searched for as "$$$$".
    noradfile(const std::string& name, const std::string& satelliteName);
    virtual ~noradfile();

    // Finds the first line naming the satellite and parses the two non-blank
    // lines after it into `elements`; reports the match on standard output.
    // Without a match `elements` is left as it was and the stream ends up at
    // its end. The caller tests the stream state afterwards.
    noradfile& read(noradelements& elements);

    // Writes "\nline1 = ...\nline2 = ..." and an end of line.
    void print(std::ostream& os) const;

private:
    // Next line that is not all white space, or "" at the end of the file.
    std::string NextNonBlankLine();

    std::string satName;
    std::string line1;
    std::string line2;
};

#endif
