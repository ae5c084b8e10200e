#ifndef CAMPAIGN_UTIL_H
#define CAMPAIGN_UTIL_H

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Small helpers of trokcampaign: calendar days, files written whole,
// quoting for the shell, a JSON reader, the driver's failures.
namespace campaign {

// "YYYY-MM-DD" of the proleptic Gregorian calendar, years 1958 to 2099.
bool ValidDay(const std::string& day);
// Days since 1970-01-01 of a valid day, and back.
long DayNumber(const std::string& day);
std::string DayText(long dayNumber);

// TAI93 seconds of a day's midnight (UTC of the products' own model).
double DayStartTai93(const std::string& day);
// Seconds since 1970 (UTC of the products' own model) of a TAI93 instant,
// rounded down.
long long UnixFromTai93(double tai93);
// Civil UTC of a TAI93 instant, "YYYY-MM-DDThh:mm:ss.sss"; the products'
// own model stands in where the system's leap-second table does not reach.
std::string UtcText(double tai93);
// The current time as "YYYY-MM-DDThh:mm:ssZ".
std::string NowUtcText();

// A file's identity and state: device, inode, size, modification and change
// times (nanoseconds). Any write, rename over it or replacement changes it.
// False when the path is not a regular file (or does not exist).
bool FileSignature(const std::string& path, std::string& signature, uint64_t* size = nullptr);

bool ReadText(const std::string& path, std::string& text, std::string& error);
// Writes `bytes` to `path` whole or not at all, through the programs' one
// way of creating an output file (outputfile). False with the reason in
// `error`.
bool WriteOutput(const std::string& path, const std::string& bytes, std::string& error);
// mkdir -p; false with the reason.
bool MakeDirs(const std::string& path, std::string& error);
std::string AbsolutePath(const std::string& path);
std::string DirName(const std::string& path);

// One word for the shell, quoted when it needs to be: the one way every
// name reaches a command line that people copy.
std::string ShellQuote(const std::string& word);
std::string ShellCommand(const std::vector<std::string>& argv);

// A JSON value as read by ParseJson.
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
bool ParseJson(const std::string& text, Json& out, std::string& error);

// A value in a line of tab-separated fields: backslash, tab and line break
// written as \\, \t and \n; and back.
std::string FieldText(const std::string& value);
std::string FieldValue(const std::string& text);

// "key=value" items separated by `separator`, as a map; items without "="
// are left out.
std::map<std::string, std::string> KeyValues(const std::string& text, char separator);

// The first line of `text` that is not blank, without surrounding blanks.
std::string FirstLine(const std::string& text);
// The lines of `text`, without their line breaks; a last line without one
// counts too.
std::vector<std::string> Lines(const std::string& text);

// A failure that ends `trokcampaign run` with its message and status 255:
// thrown where it is found, so that the driver's callers decide how it ends
// (the run fails; status and report warn and show the catalog as it is).
struct Failure {
    std::string message;
};
[[noreturn]] void Fail(const std::string& message);

} // namespace campaign

#endif
