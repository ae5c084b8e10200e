#include "pipeline/product_names.h"

#include <map>

#include "platform/file_reading.h"

namespace pipeline {

std::string ProductName(const std::string& packetFile)
{
    const std::string base = packetFile.substr(packetFile.rfind('/') + 1);
    return base.substr(0, base.rfind('.'));
}

bool PlainProductName(const std::string& name) { return name.find('/') == std::string::npos && name[0] != '.'; }

bool CheckList(const std::string& list, std::vector<std::string>& messages)
{
    std::string text, error;
    if (!platform::ReadWholeFile(list, text, error)) {
        messages.push_back(list + ": cannot read the list of packet files");
        return false;
    }
    std::map<std::string, std::pair<size_t, std::string>> first;   // name: line number, line
    size_t number = 0;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) b = text.size();
        const std::string line = text.substr(a, b - a);
        a = b + 1;
        ++number;
        if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
        const std::string name = ProductName(line);
        const std::string at = std::to_string(number);
        if (name.empty()) {
            messages.push_back(list + ": line " + at + " (" + line + "): no product name can be made from this name");
            continue;
        }
        const auto it = first.find(name);
        if (it == first.end()) {
            first[name] = {number, line};
            continue;
        }
        messages.push_back(list + ": lines " + std::to_string(it->second.first) + " and " + at + " (" +
                           it->second.second + ", " + line + ") both make the products " + name + ".eph and " +
                           name + ".att");
    }
    return messages.empty();
}

} // namespace pipeline
