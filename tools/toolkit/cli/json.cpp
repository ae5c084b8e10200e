#include "toolkit/cli/json.h"

#include <cstdlib>
#include <cstring>

namespace toolkit {

const Json* Json::Find(const std::string& key) const
{
    for (const auto& m : members)
        if (m.first == key) return &m.second;
    return nullptr;
}

namespace {

class JsonReader
{
public:
    explicit JsonReader(const std::string& t) : s(t) {}

    bool Document(Json& out, std::string& error)
    {
        const bool ok = Value(out, 0) && (Blanks(), at == s.size());
        if (!ok) error = "not JSON at byte " + std::to_string(at);
        return ok;
    }

private:
    void Blanks()
    {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
    }
    bool At(char c) const { return at < s.size() && s[at] == c; }
    bool Literal(const char* word)
    {
        const size_t n = std::strlen(word);
        if (s.compare(at, n, word) != 0) return false;
        at += n;
        return true;
    }
    // \uXXXX of the basic plane, as UTF-8 (enough for messages).
    bool Unicode(std::string& out)
    {
        if (at + 4 > s.size()) return false;
        const unsigned v = static_cast<unsigned>(std::strtoul(s.substr(at, 4).c_str(), nullptr, 16));
        at += 4;
        if (v < 0x80) {
            out += static_cast<char>(v);
        } else if (v < 0x800) {
            out += static_cast<char>(0xC0 | (v >> 6));
            out += static_cast<char>(0x80 | (v & 63));
        } else {
            out += static_cast<char>(0xE0 | (v >> 12));
            out += static_cast<char>(0x80 | ((v >> 6) & 63));
            out += static_cast<char>(0x80 | (v & 63));
        }
        return true;
    }
    bool Text(std::string& out)
    {
        if (!At('"')) return false;
        ++at;
        static const char kEscaped[] = "ntrbf", kMeant[] = "\n\t\r\b\f";
        while (at < s.size() && s[at] != '"') {
            const char c = s[at++];
            if (c != '\\') {
                out += c;
            } else if (at >= s.size()) {
                return false;
            } else if (s[at] == 'u') {
                ++at;
                if (!Unicode(out)) return false;
            } else {
                const char* e = s[at] ? std::strchr(kEscaped, s[at]) : nullptr;
                out += e ? kMeant[e - kEscaped] : s[at];
                ++at;
            }
        }
        if (at >= s.size()) return false;
        ++at;
        return true;
    }
    // Items up to `close`, each read by `item`, separated by commas.
    template <class Item>
    bool List(char close, Item item)
    {
        ++at;
        Blanks();
        if (At(close)) return ++at, true;
        for (;;) {
            if (!item()) return false;
            Blanks();
            if (!At(',')) break;
            ++at;
        }
        if (!At(close)) return false;
        ++at;
        return true;
    }
    bool Value(Json& v, int depth)
    {
        if (depth > 64) return false;
        Blanks();
        if (at >= s.size()) return false;
        if (At('{')) {
            v.type = Json::Object;
            return List('}', [&] {
                Blanks();
                std::string key;
                if (!Text(key)) return false;
                Blanks();
                if (!At(':')) return false;
                ++at;
                v.members.emplace_back(key, Json());
                return Value(v.members.back().second, depth + 1);
            });
        }
        if (At('[')) {
            v.type = Json::Array;
            return List(']', [&] {
                v.items.emplace_back();
                return Value(v.items.back(), depth + 1);
            });
        }
        if (At('"')) {
            v.type = Json::String;
            return Text(v.text);
        }
        if (Literal("true")) {
            v.type = Json::Bool;
            v.boolean = true;
            return true;
        }
        if (Literal("false")) {
            v.type = Json::Bool;
            return true;
        }
        if (Literal("null")) return true;
        const char* begin = s.c_str() + at;
        char* end = nullptr;
        v.number = std::strtod(begin, &end);
        if (end == begin) return false;
        v.type = Json::Number;
        at += static_cast<size_t>(end - begin);
        return true;
    }

    const std::string& s;
    size_t at = 0;
};

} // namespace

bool ParseJson(const std::string& text, Json& out, std::string& error)
{
    out = Json();
    return JsonReader(text).Document(out, error);
}

} // namespace toolkit
