#ifndef TOOLKIT_TAB_FIELDS_H
#define TOOLKIT_TAB_FIELDS_H

#include <string>
#include <vector>

namespace toolkit {

// A value in a line of tab-separated fields (run logs, plans, results): a
// backslash, tab, line feed or carriage return written as \\, \t, \n or
// \r, so that a line keeps its fields and a value reads back exactly.
std::string TabField(const std::string& value);
// The value of such a text (a backslash before any other character stands
// for that character).
std::string TabFieldValue(const std::string& text);

// A line's fields, split at its tabs, each read back.
std::vector<std::string> TabFields(const std::string& line);

} // namespace toolkit

#endif
