#ifndef VN_PROC_READCMDLINE_H
#define VN_PROC_READCMDLINE_H

#include "vn_class_configurationlist.h"

// Stores the keyword/value pairs of the program arguments in `cmdLine`, in
// order. An odd number of arguments after the program name, or a keyword
// that `cmdLine` does not define, is reported on standard error and ends the
// process with status 255 (pairs before a bad keyword have been stored).
void ReadCmdLine(configuration_list& cmdLine, int argc, char** argv);

#endif
