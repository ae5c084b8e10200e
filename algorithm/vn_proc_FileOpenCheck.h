#ifndef VN_PROC_FILEOPENCHECK_H
#define VN_PROC_FILEOPENCHECK_H

#include <cstdlib>
#include <iostream>
#include <string>

// The name text of the open-failure message: " no file name given" for a
// name of blanks and tabs only, else one blank and the name.
std::string FileOpenName(const std::string& fileName);

// Returns only when the file (a standard stream and a basefile) opened and
// has a name; otherwise writes "\nFile Open failed for <type> file: <name
// text>" to standard error and ends the process with status 255. A name of
// blanks and tabs only is refused even where such a file exists.
template <class FILE_T>
void FileOpenCheck(FILE_T& file)
{
    if (!file.fail() && file.GetFileName().find_first_not_of(" \t") != std::string::npos) return;
    std::cerr << "\nFile Open failed for " << file.GetFileType() << " file: "
              << FileOpenName(file.GetFileName()) << std::endl;
    std::exit(-1);
}

#endif
