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

std::string NoradSearchName(const std::string& satelliteName)
{
    if (satelliteName.empty() || std::isspace(static_cast<unsigned char>(satelliteName[0])))
        return "$$$$";
    return satelliteName;
}

bool NoradLineNames(const std::string& line, const std::string& searchName, std::string::size_type& at)
{
    at = line.find(searchName);
    if (at == std::string::npos) return false;
    // The character is taken at the name's length from the start of the
    // line, wherever the name was found.
    const std::string::size_type len = searchName.size();
    return line.size() == len || line[len] == ' ' || line[len] == '\r';
}

noradfile::noradfile(const std::string& name, const std::string& satelliteName)
    : std::ifstream(name.c_str()), basefile(name, "norad"), satName(NoradSearchName(satelliteName))
{
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
        std::string::size_type at = 0;
        if (!NoradLineNames(line1, satName, at)) continue;

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
