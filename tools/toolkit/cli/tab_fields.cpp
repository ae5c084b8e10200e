#include "toolkit/cli/tab_fields.h"

namespace toolkit {

std::string TabField(const std::string& value)
{
    std::string out;
    for (char c : value) {
        const char* escaped = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (escaped) out += escaped;
        else out += c;
    }
    return out;
}

std::string TabFieldValue(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string> TabFields(const std::string& line)
{
    std::vector<std::string> fields;
    for (size_t a = 0;;) {
        const size_t b = line.find('\t', a);
        fields.push_back(TabFieldValue(line.substr(a, b == std::string::npos ? std::string::npos : b - a)));
        if (b == std::string::npos) return fields;
        a = b + 1;
    }
}

} // namespace toolkit
