#include "campaign_fields.h"

#include <cctype>

namespace campaign {

std::map<std::string, std::string> KeyValues(const std::string& text, char separator)
{
    std::map<std::string, std::string> values;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find(separator, a);
        if (b == std::string::npos) b = text.size();
        const std::string item = text.substr(a, b - a);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) values[item.substr(0, eq)] = item.substr(eq + 1);
        a = b + 1;
    }
    return values;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) b = text.size();
        lines.push_back(text.substr(a, b - a));
        a = b + 1;
    }
    return lines;
}

std::string FirstLine(const std::string& text)
{
    size_t a = 0;
    while (a < text.size()) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) b = text.size();
        std::string line = text.substr(a, b - a);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        size_t lead = 0;
        while (lead < line.size() && std::isspace(static_cast<unsigned char>(line[lead]))) ++lead;
        if (lead < line.size()) return line.substr(lead);
        a = b + 1;
    }
    return "";
}

} // namespace campaign
