#ifndef TOOLKIT_JSON_H
#define TOOLKIT_JSON_H

#include <string>
#include <utility>
#include <vector>

namespace toolkit {

// A JSON value as read by ParseJson: what the tools read back of the JSON
// their programs write (qlrdump --check --json), not a general JSON
// library. Writing JSON text is JsonString's (text.h).
struct Json {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;                             // Array
    std::vector<std::pair<std::string, Json>> members;   // Object, in order
    // The member `key` of an object, or nullptr.
    const Json* Find(const std::string& key) const;
};

// Reads one JSON document: surrounding white space allowed, nesting up to
// 64 deep, \u escapes of the basic plane as UTF-8, numbers as strtod reads
// them. False with "not JSON at byte N" in `error` otherwise.
bool ParseJson(const std::string& text, Json& out, std::string& error);

} // namespace toolkit

#endif
