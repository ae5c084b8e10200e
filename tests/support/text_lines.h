#ifndef TESTS_TEXT_LINES_H
#define TESTS_TEXT_LINES_H

#include <sstream>
#include <string>
#include <vector>

// The lines of a program's text output that are not empty.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// The fields of a line separated by tabs.
inline std::vector<std::string> TabFields(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
    return out;
}

#endif
