#include "vn_proc_OutOfMemory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

#include "vn_proc_FileOpenCheck.h"

namespace {

// The text after "Out of memory reading ", kept in a fixed buffer: the
// handler runs when nothing more can be allocated.
char reading[1024] = "the command line";

void OutOfMemory()
{
    // Should anything run at exit fail to allocate as well, the process
    // ends at once rather than calling exit() a second time.
    static bool ending = false;
    if (ending) std::_Exit(255);
    ending = true;
    std::cerr << "\nOut of memory reading " << reading << std::endl;
    std::exit(-1);
}

} // namespace

void InstallOutOfMemoryHandler()
{
    std::set_new_handler(OutOfMemory);
}

void ReadingNow(const std::string& fileType, const std::string& fileName)
{
    const std::string text = fileType + " file:" + FileOpenName(fileName);
    std::snprintf(reading, sizeof reading, "%s", text.c_str());
}
