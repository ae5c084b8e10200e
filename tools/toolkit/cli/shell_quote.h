#ifndef TOOLKIT_SHELL_QUOTE_H
#define TOOLKIT_SHELL_QUOTE_H

#include <string>
#include <vector>

namespace toolkit {

// One word for the shell, quoted when it needs to be: the one way every
// name reaches a command line that people copy or a shell runs. Words of
// letters, digits and @%+=:,./_- stay as they are; any other is put in
// single quotes, each ' in it written '\''. The empty word is ''.
std::string ShellQuote(const std::string& word);

// The words as one command line, each quoted so and separated by blanks.
std::string ShellCommand(const std::vector<std::string>& argv);

} // namespace toolkit

#endif
