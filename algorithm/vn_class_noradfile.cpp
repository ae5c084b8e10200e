#include "vn_class_noradfile.h"

#include <cctype>
#include <iostream>

namespace {

bool IsBlank(const std::string& line)
{
    for (unsigned char c : line)
        if (!std::isspace(c)) return false;
    return true;
}

}  // namespace

noradfile::noradfile(const std::string& name, const std::string& satelliteName)
    : std::ifstream(name.c_str()), basefile(name, "norad"), satName(satelliteName)
{
    if (satName.empty() || std::isspace(static_cast<unsigned char>(satName[0])))
        satName = "$$$$";
}

noradfile::~noradfile() = default;

std::string noradfile::NextNonBlankLine()
{
    std::string line;
    while (std::getline(*this, line))
        if (!IsBlank(line)) return line;
    return std::string();
}

noradfile& noradfile::read(noradelements& elements)
{
    line1.clear();
    line2.clear();
    while (good()) {
        line1 = NextNonBlankLine();
        const std::string::size_type at = line1.find(satName);
        if (at == std::string::npos) continue;
        // The name must end the line or be followed by a blank or carriage
        // return. The character is taken at the name's length from the start
        // of the line, wherever the name was found.
        const std::string::size_type len = satName.size();
        const bool match = line1.size() == len || line1[len] == ' ' || line1[len] == '\r';
        if (!match) continue;

        std::cout << line1 << " MATCHED " << satName << " " << at << "\n";
        line1 = NextNonBlankLine();
        line2 = NextNonBlankLine();
        std::cout << line1 << line2 << "\n";
        elements.Set(line1, line2);
        break;
    }
    return *this;
}

void noradfile::print(std::ostream& os) const
{
    os << "\nline1 = " << line1 << "\nline2 = " << line2 << std::endl;
}
