#include "toolkit/cli/shell_quote.h"

#include <cctype>
#include <cstring>

namespace toolkit {

std::string ShellQuote(const std::string& word)
{
    if (word.empty()) return "''";
    bool plain = true;
    for (char c : word)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || (c && std::strchr("@%+=:,./_-", c)))) plain = false;
    if (plain) return word;
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ShellCommand(const std::vector<std::string>& argv)
{
    std::string s;
    for (const std::string& a : argv) s += (s.empty() ? "" : " ") + ShellQuote(a);
    return s;
}

} // namespace toolkit
