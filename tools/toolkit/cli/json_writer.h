#ifndef TOOLKIT_JSON_WRITER_H
#define TOOLKIT_JSON_WRITER_H

#include <string>
#include <vector>

namespace toolkit {

// JSON text built value by value (reading it back is ParseJson's, json.h):
//
//     JsonWriter w;
//     w.Object(true).Key("day").String(day).Key("commands").Array(true);
//     for (const std::string& c : commands) w.String(c);
//     w.End().End();
//
// An object or array opened as a block puts each of its items on a line of
// its own, indented two spaces for every block it stands in, itself
// included, and its closing bracket on a line of its own; otherwise its
// items follow on one line, separated by ", ". An empty one is {} or [].
class JsonWriter
{
public:
    JsonWriter& Object(bool block = false);
    JsonWriter& Array(bool block = false);
    // Closes the innermost object or array.
    JsonWriter& End();
    // The name of the next member of an object.
    JsonWriter& Key(const std::string& name);

    // A string as JsonString writes it (UTF-8 kept, other bytes as \udcXX).
    JsonWriter& String(const std::string& text);
    JsonWriter& Int(long long value);
    // The shortest text that reads back as the same number; null for one
    // that is not finite (JSON has no such numbers).
    JsonWriter& Number(double value);
    // In fixed notation with `decimals` digits after the point; null for a
    // value that is not finite.
    JsonWriter& Fixed(double value, int decimals);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // A value that is JSON text already (one whole value, from a writer).
    JsonWriter& Raw(const std::string& json);

    const std::string& Text() const { return text; }

private:
    struct Level {
        bool block;
        char close;
        size_t items;
    };
    JsonWriter& Open(char open, char close, bool block);
    // What goes before a value: the separator and indentation of its
    // container, unless it follows its key.
    void Before();
    std::string Indent(size_t blocks) const { return std::string(2 * blocks, ' '); }
    size_t Blocks() const;

    std::vector<Level> levels;
    std::string text;
    bool keyed = false;
};

} // namespace toolkit

#endif
