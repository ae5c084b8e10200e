#include "campaign_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "timelib_proc_TAI93.h"
#include "timelib_proc_TAItoUTC.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/isotime.h"
#include "platform/make_dirs.h"
#include "vn_class_outputfile.h"

namespace campaign {

namespace {

// Days since 1970-01-01 of a Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

const double kUnixEpochJulianDay = 2440587.5;

} // namespace

bool ValidDay(const std::string& day)
{
    if (day.size() != 10 || day[4] != '-' || day[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (day[i] < '0' || day[i] > '9') return false;
    const int y = std::atoi(day.substr(0, 4).c_str());
    const int m = std::atoi(day.substr(5, 2).c_str());
    const int d = std::atoi(day.substr(8, 2).c_str());
    if (y < 1958 || y > 2099 || m < 1 || m > 12 || d < 1) return false;
    static const int length[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= length[m - 1] + (m == 2 && leap ? 1 : 0);
}

long DayNumber(const std::string& day)
{
    return DaysFromCivil(std::atol(day.substr(0, 4).c_str()),
                         static_cast<unsigned>(std::atoi(day.substr(5, 2).c_str())),
                         static_cast<unsigned>(std::atoi(day.substr(8, 2).c_str())));
}

std::string DayText(long z)
{
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long y = static_cast<long>(yoe) + era * 400 + (m <= 2);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04ld-%02u-%02u", y, m, d);
    return buf;
}

double DayStartTai93(const std::string& day)
{
    const double utcJd = kUnixEpochJulianDay + static_cast<double>(DayNumber(day));
    return JulianDayToTAI93(utcJd + UTC_TAI_delta(utcJd));
}

long long UnixFromTai93(double tai93)
{
    const double utcJd = TAItoUTC(TAI93ToJulianDay(tai93));
    return static_cast<long long>(std::floor((utcJd - kUnixEpochJulianDay) * 86400.0 + 1e-6));
}

std::string UtcText(double tai93)
{
    if (!std::isfinite(tai93)) return "";
    const toolkit::LeapSeconds& table = toolkit::SystemLeapSeconds();
    int offset = 0;
    if (toolkit::TaiMinusUtcAtTai93(table, tai93, offset))
        return toolkit::IsoCivilUtcFromTai93(table, tai93, 3);
    return toolkit::IsoUtcFromTai93(tai93, 3);
}

std::string NowUtcText()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

bool FileSignature(const std::string& path, std::string& signature, uint64_t* size)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%llu:%llu:%llu:%lld.%09ld:%lld.%09ld",
                  static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec, static_cast<long long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec);
    signature = buf;
    if (size) *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadText(const std::string& path, std::string& text, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        close(fd);
        return false;
    }
    text.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool WriteOutput(const std::string& path, const std::string& bytes, std::string& error)
{
    outputstream out;
    if (!out.Open(path)) {
        error = out.Error();
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.Commit()) {
        error = out.Error();
        return false;
    }
    return true;
}

bool MakeDirs(const std::string& path, std::string& error)
{
    const platform::MadeDirs r = platform::MakeDirs(path);
    if (!r.ok) error = r.Reason();
    return r.ok;
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/') return path;
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return path;
    std::string p = path;
    while (p.compare(0, 2, "./") == 0) p.erase(0, 2);
    return p.empty() || p == "." ? std::string(buf) : std::string(buf) + "/" + p;
}

std::string DirName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string ShellQuote(const std::string& word)
{
    if (word.empty()) return "''";
    bool plain = true;
    for (char c : word)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("@%+=:,./_-", c))) plain = false;
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
        while (at < s.size() && std::strchr(" \t\r\n", s[at]) && s[at]) ++at;
    }
    bool Literal(const char* word)
    {
        const size_t n = std::strlen(word);
        if (s.compare(at, n, word) != 0) return false;
        at += n;
        return true;
    }
    bool Text(std::string& out)
    {
        if (at >= s.size() || s[at] != '"') return false;
        ++at;
        while (at < s.size() && s[at] != '"') {
            char c = s[at++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= s.size()) return false;
            c = s[at++];
            switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (at + 4 > s.size()) return false;
                const unsigned v = static_cast<unsigned>(std::strtoul(s.substr(at, 4).c_str(), nullptr, 16));
                at += 4;
                // Enough for messages: UTF-8 of the basic plane.
                if (v < 0x80) out += static_cast<char>(v);
                else if (v < 0x800) {
                    out += static_cast<char>(0xC0 | (v >> 6));
                    out += static_cast<char>(0x80 | (v & 63));
                } else {
                    out += static_cast<char>(0xE0 | (v >> 12));
                    out += static_cast<char>(0x80 | ((v >> 6) & 63));
                    out += static_cast<char>(0x80 | (v & 63));
                }
                break;
            }
            default: out += c;
            }
        }
        if (at >= s.size()) return false;
        ++at;
        return true;
    }
    bool Value(Json& v, int depth)
    {
        if (depth > 64) return false;
        Blanks();
        if (at >= s.size()) return false;
        const char c = s[at];
        if (c == '{') {
            v.type = Json::Object;
            ++at;
            Blanks();
            if (at < s.size() && s[at] == '}') return ++at, true;
            for (;;) {
                Blanks();
                std::string key;
                if (!Text(key)) return false;
                Blanks();
                if (at >= s.size() || s[at] != ':') return false;
                ++at;
                v.members.emplace_back(key, Json());
                if (!Value(v.members.back().second, depth + 1)) return false;
                Blanks();
                if (at < s.size() && s[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < s.size() && s[at] == '}') return ++at, true;
                return false;
            }
        }
        if (c == '[') {
            v.type = Json::Array;
            ++at;
            Blanks();
            if (at < s.size() && s[at] == ']') return ++at, true;
            for (;;) {
                v.items.emplace_back();
                if (!Value(v.items.back(), depth + 1)) return false;
                Blanks();
                if (at < s.size() && s[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < s.size() && s[at] == ']') return ++at, true;
                return false;
            }
        }
        if (c == '"') {
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

std::string FieldText(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string FieldValue(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::map<std::string, std::string> KeyValues(const std::string& text, char separator)
{
    std::map<std::string, std::string> values;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find(separator, a);
        if (b == std::string::npos) b = text.size();
        const std::string item = text.substr(a, b - a);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) values[item.substr(0, eq)] = item.substr(eq + 1);
        a = b + 1;
    }
    return values;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t a = 0; a < text.size();) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) b = text.size();
        lines.push_back(text.substr(a, b - a));
        a = b + 1;
    }
    return lines;
}

std::string FirstLine(const std::string& text)
{
    size_t a = 0;
    while (a < text.size()) {
        size_t b = text.find('\n', a);
        if (b == std::string::npos) b = text.size();
        std::string line = text.substr(a, b - a);
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
        size_t lead = 0;
        while (lead < line.size() && std::isspace(static_cast<unsigned char>(line[lead]))) ++lead;
        if (lead < line.size()) return line.substr(lead);
        a = b + 1;
    }
    return "";
}

void Fail(const std::string& message) { throw Failure{message}; }

} // namespace campaign
