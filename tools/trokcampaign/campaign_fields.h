#ifndef CAMPAIGN_FIELDS_H
#define CAMPAIGN_FIELDS_H

#include <map>
#include <string>
#include <vector>

// The campaign's text records: the "key=value" lists inside its plan and
// result files (whose fields toolkit/cli/tab_fields.h escapes), and lines
// of text.
namespace campaign {

// "key=value" items separated by `separator`, as a map; items without "="
// are left out.
std::map<std::string, std::string> KeyValues(const std::string& text, char separator);

// The first line of `text` that is not blank, without surrounding blanks.
std::string FirstLine(const std::string& text);
// The lines of `text`, without their line breaks; a last line without one
// counts too.
std::vector<std::string> Lines(const std::string& text);

} // namespace campaign

#endif
