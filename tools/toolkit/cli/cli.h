#ifndef TOOLKIT_CLI_H
#define TOOLKIT_CLI_H

#include <initializer_list>
#include <string>

namespace toolkit {

// What every tool does the same way: its exit statuses, its messages on
// standard error, its writes to standard output and its command line.

// Exit statuses of the tools.
constexpr int kStatusOk = 0;
// The input is readable but fails a content verdict (a check failed, a
// record cannot be exported, trokproc would refuse the file).
constexpr int kStatusVerdict = 1;
// Unusable input or arguments, or output that cannot be written whole.
constexpr int kStatusUnusable = 255;

// The name messages begin with; CommandLine sets it.
void SetProgramName(const std::string& name);
const std::string& ProgramName();

// Messages go to standard error as they are, or, on a terminal, with their
// control characters shown as text (TerminalText, text.h).

// "<program>: <message>" on standard error, then exit with status 255.
[[noreturn]] void Fail(const std::string& message);

// "<program>: warning: <message>" on standard error; the run goes on.
void Warn(const std::string& message);

// "<program>: <message>" on standard error: a finding or a note that is
// not in itself a failure of the program.
void Say(const std::string& message);

// Writes `text` to standard output. Output that cannot be written is a
// failure: "cannot write to standard output", status 255.
void PrintOut(const std::string& text);

// Flushes standard output; fails as PrintOut does when anything written
// to it was lost, also when the file system reports it only on a close.
void FinishOutput();

// A number as the command line takes it: decimal digits with an optional
// sign, point and exponent ("-1.5", "2e3"), finite; no hexadecimal, no
// blanks, no "inf" or "nan". False for any other text.
bool DecimalNumber(const std::string& text, double& value);

// The command line, walked one argument at a time:
//
//     CommandLine cl(argc, argv, "qlrdump", kUsage);
//     while (cl.Next()) {
//         if (cl.Operand()) files.push_back(cl.Arg());
//         else if (cl.Is("--out")) out = cl.Value();
//         else if (cl.Is("--degree")) degree = cl.Whole(1, 30);
//         else cl.Unknown();
//     }
//
// An argument that starts with "-" is an option, except "-" alone; "--"
// ends the options, so that every argument after it is an operand (a file
// may be called "-x"). --help and -h print the usage, --version prints
// "<program> <version>", both on standard output with status 0 (255 and
// a message when it cannot be written). Every mistake ends the program with one line on
// standard error and status 255.
class CommandLine
{
public:
    CommandLine(int argc, char** argv, const char* program, const char* usage);

    // Steps to the next argument; false after the last one. Answers
    // --help, -h and --version itself.
    bool Next();

    const std::string& Arg() const { return arg_; }
    // The current argument is an operand, not an option.
    bool Operand() const;
    // The current argument is the option `name`.
    bool Is(const char* name) const;

    // The option's value, the next argument: "option X needs <what>" when
    // there is none.
    std::string Value(const char* what = "a value");
    // The value as a decimal number from lo to hi (DecimalNumber; a whole
    // number of decimal digits for Whole); otherwise "X takes <what>, not "<value>"". `what` defaults to
    // "a number from lo to hi".
    double Number(double lo, double hi, const std::string& what = "");
    long Whole(long lo, long hi, const std::string& what = "");
    // The value, which must be one of `choices`: "X takes a or b, not ...".
    std::string OneOf(std::initializer_list<const char*> choices);

    // "X takes <what>, not "<value>"".
    [[noreturn]] void BadValue(const std::string& value, const std::string& what) const;
    // "unknown option X (see <program> --help)".
    [[noreturn]] void Unknown() const;
    // "<message> (see <program> --help)": operands missing or too many,
    // options that do not go together.
    [[noreturn]] void Usage(const std::string& message) const;

private:
    int argc_;
    char** argv_;
    int next_ = 1;
    bool optionsEnded_ = false;
    bool operand_ = false;
    std::string arg_;
    std::string program_;
    const char* usage_;
};

} // namespace toolkit

#endif
