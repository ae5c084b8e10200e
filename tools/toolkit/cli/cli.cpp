#include "toolkit/cli/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <unistd.h>

#include "toolkit/cli/text.h"
#include "vn_version.h"

namespace toolkit {

namespace {

std::string& Name()
{
    static std::string name = "tool";
    return name;
}

// A bound for messages: "30", "0.5", "1e+06".
std::string Bound(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

void SetProgramName(const std::string& name) { Name() = name; }

const std::string& ProgramName() { return Name(); }

// A message as it reaches standard error: on a terminal, its control
// characters shown as text (a name may hold any).
std::string ForStandardError(const std::string& message)
{
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    return terminal ? TerminalText(message) : message;
}

void Fail(const std::string& message)
{
    std::cerr << Name() << ": " << ForStandardError(message) << std::endl;
    std::exit(kStatusUnusable);
}

void Warn(const std::string& message)
{
    std::cerr << Name() << ": warning: " << ForStandardError(message) << std::endl;
}

void Say(const std::string& message) { std::cerr << Name() << ": " << ForStandardError(message) << std::endl; }

namespace {

[[noreturn]] void OutputFailed(int error)
{
    Fail(std::string("cannot write to standard output") +
         (error ? std::string(": ") + std::strerror(error) : std::string()));
}

} // namespace

void PrintOut(const std::string& text)
{
    errno = 0;
    std::cout << text;
    if (!std::cout) OutputFailed(errno);
}

void FinishOutput()
{
    errno = 0;
    std::cout.flush();
    int error = errno;
    bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
    if (!failed) {
        // Closing a second descriptor of standard output reports what the
        // file system kept back until a close (a quota, an NFS write),
        // without closing standard output itself.
        const int copy = dup(STDOUT_FILENO);
        if (copy >= 0 && close(copy) != 0 && errno != EINTR) {
            failed = true;
            error = errno;
        }
    }
    if (failed) OutputFailed(error);
}

CommandLine::CommandLine(int argc, char** argv, const char* program, const char* usage)
    : argc_(argc), argv_(argv), program_(program), usage_(usage)
{
    SetProgramName(program);
}

bool CommandLine::Next()
{
    for (;;) {
        if (next_ >= argc_) return false;
        arg_ = argv_[next_++];
        if (optionsEnded_) {
            operand_ = true;
            return true;
        }
        if (arg_ == "--") {
            optionsEnded_ = true;
            continue;
        }
        operand_ = arg_.size() < 2 || arg_[0] != '-';
        if (arg_ == "--help" || arg_ == "-h" || arg_ == "--version") {
            PrintOut(arg_ == "--version" ? program_ + " " + TROK_VERSION + "\n" : std::string(usage_));
            FinishOutput();
            std::exit(kStatusOk);
        }
        return true;
    }
}

bool CommandLine::Operand() const { return operand_; }

bool CommandLine::Is(const char* name) const { return !operand_ && arg_ == name; }

std::string CommandLine::Value(const char* what)
{
    if (next_ >= argc_) Fail("option " + arg_ + " needs " + what);
    return argv_[next_++];
}

bool DecimalNumber(const std::string& text, double& value)
{
    size_t i = 0, digits = 0;
    auto run = [&]() {
        size_t n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++n;
        return n;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    digits += run();
    if (i < text.size() && text[i] == '.') ++i, digits += run();
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (run() == 0) return false;
    }
    if (i != text.size()) return false;
    errno = 0;
    value = std::strtod(text.c_str(), nullptr);
    return errno == 0 && std::isfinite(value);
}

double CommandLine::Number(double lo, double hi, const std::string& what)
{
    const std::string text = Value();
    double v = 0;
    if (!DecimalNumber(text, v) || v < lo || v > hi)
        BadValue(text, what.empty() ? "a number from " + Bound(lo) + " to " + Bound(hi) : what);
    return v;
}

long CommandLine::Whole(long lo, long hi, const std::string& what)
{
    const std::string text = Value();
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    const bool digits = !text.empty() && text.find_first_not_of("0123456789", text[0] == '-' ? 1 : 0) == std::string::npos;
    if (!digits || *end != '\0' || errno != 0 || v < lo || v > hi)
        BadValue(text, what.empty() ? "a whole number from " + std::to_string(lo) + " to " +
                                          std::to_string(hi)
                                    : what);
    return v;
}

std::string CommandLine::OneOf(std::initializer_list<const char*> choices)
{
    const std::string text = Value();
    std::string names;
    size_t k = 0;
    for (const char* c : choices) {
        if (text == c) return text;
        names += (k == 0 ? "" : k + 1 == choices.size() ? " or " : ", ") + std::string(c);
        ++k;
    }
    BadValue(text, names);
}

void CommandLine::BadValue(const std::string& value, const std::string& what) const
{
    Fail(arg_ + " takes " + what + ", not \"" + value + "\"");
}

void CommandLine::Unknown() const { Usage("unknown option " + arg_); }

void CommandLine::Usage(const std::string& message) const
{
    Fail(message + " (see " + program_ + " --help)");
}

} // namespace toolkit
