#include "toolkit/cli/json_writer.h"

#include <charconv>
#include <cmath>

#include "toolkit/cli/text.h"

namespace toolkit {

size_t JsonWriter::Blocks() const
{
    size_t n = 0;
    for (const Level& l : levels) n += l.block;
    return n;
}

void JsonWriter::Before()
{
    if (keyed) {
        keyed = false;
        return;
    }
    if (levels.empty()) return;
    Level& l = levels.back();
    if (l.items++ > 0) text += l.block ? "," : ", ";
    if (l.block) text += "\n" + Indent(Blocks());
}

JsonWriter& JsonWriter::Open(char open, char close, bool block)
{
    Before();
    text += open;
    levels.push_back({block, close, 0});
    return *this;
}

JsonWriter& JsonWriter::Object(bool block) { return Open('{', '}', block); }

JsonWriter& JsonWriter::Array(bool block) { return Open('[', ']', block); }

JsonWriter& JsonWriter::End()
{
    if (levels.empty()) return *this;
    const Level l = levels.back();
    levels.pop_back();
    if (l.block && l.items > 0) text += "\n" + Indent(Blocks());
    text += l.close;
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name)
{
    Before();
    text += JsonString(name) + ": ";
    keyed = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& value)
{
    Before();
    text += JsonString(value);
    return *this;
}

JsonWriter& JsonWriter::Int(long long value)
{
    Before();
    text += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Number(double value)
{
    if (!std::isfinite(value)) return Null();
    Before();
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    text.append(buf, r.ptr);
    return *this;
}

JsonWriter& JsonWriter::Fixed(double value, int decimals)
{
    if (!std::isfinite(value)) return Null();
    Before();
    AppendFixed(text, value, decimals);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    Before();
    text += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    Before();
    text += "null";
    return *this;
}

JsonWriter& JsonWriter::Raw(const std::string& json)
{
    Before();
    text += json;
    return *this;
}

} // namespace toolkit
