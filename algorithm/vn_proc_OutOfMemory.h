#ifndef VN_PROC_OUTOFMEMORY_H
#define VN_PROC_OUTOFMEMORY_H

#include <string>

// Makes every failed allocation of the program end the run like any other
// input failure: "\nOut of memory reading <what>" on standard error and
// status 255, instead of an uncaught std::bad_alloc and an abort. Memory only
// runs out on inputs larger than the program was built for, so the message
// names the input being read at the time.
void InstallOutOfMemoryHandler();

// From now on the out-of-memory message names "<type> file:" and the file
// name (in the form of the open-failure message), until the next call.
void ReadingNow(const std::string& fileType, const std::string& fileName);

#endif
