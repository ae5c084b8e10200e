#ifndef TOOLKIT_TEXT_H
#define TOOLKIT_TEXT_H

#include <string>

namespace toolkit {

// Numbers and strings as the tools write them.

// `v` in fixed notation with `decimals` digits after the point (0 to 30),
// the same text as printf's "%.*f" gives, every digit of it however large
// the number: "nan", "-nan", "inf" and "-inf" for the values that are not
// finite.
std::string FixedText(double v, int decimals);

// The same, appended to `out` without building a string of its own: for
// writers of many numbers.
void AppendFixed(std::string& out, double v, int decimals);

// Writes the decimal digits of `v`, at least `minDigits` of them (zeros in
// front), so that they end just before `end`; returns where they start.
// Room for 20 digits, or minDigits if more, must precede `end`.
char* DigitsBefore(char* end, unsigned long long v, int minDigits);

// `text` as a JSON string, quotes included, its UTF-8 kept as it is: " and
// \ escaped, a line end as \n, other control characters and DEL as
// \u00XX. A byte that is not part of well-formed UTF-8 (names are bytes,
// not text) becomes the lone surrogate \udcXX, XX the byte (80 to ff), as
// Python's "surrogateescape" error handler reads it: decoding the string
// and encoding it back with that handler gives the original bytes.
std::string JsonString(const std::string& text);

// `v` as a JSON number with every digit it needs ("%.17g"), appended to
// `out`; JSON has no numbers that are not finite, so those are written as
// the strings "nan", "inf" and "-inf".
void AppendJsonNumber(std::string& out, double v);

// `text` for HTML, in element content and in quoted attributes alike: &, <,
// >, " and ' as entities, other control characters as spaces.
std::string HtmlText(const std::string& text);

// `text` for a terminal: every control character but the line break (the
// C0 codes, DEL, and the C1 codes U+0080 to U+009F as UTF-8 writes them)
// as \xXX, and a backslash as \\, so that no name can move the cursor,
// recolour or retitle the terminal, or forge a line of its own.
std::string TerminalText(const std::string& text);

// `bytes` in base64 (RFC 4648, with padding): pictures inlined in HTML.
std::string Base64(const std::string& bytes);

} // namespace toolkit

#endif
