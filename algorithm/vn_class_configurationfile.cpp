#include "vn_class_configurationfile.h"

#include <string>

configurationfile::configurationfile(const cstring& path)
    : std::ifstream(path), basefile(path, "configuration")
{
}

configurationfile::~configurationfile() = default;

configurationfile& configurationfile::readline(cstring& keyword, cstring& value)
{
    *this >> keyword;
    std::getline(*this, value);
    const std::string::size_type first = value.find_first_not_of(" \t");
    if (first == std::string::npos) {
        value.clear();
    } else {
        const std::string::size_type last = value.find_last_not_of(" \t");
        value = value.substr(first, last - first + 1);
    }
    return *this;
}
