#ifndef VN_PROC_READCONFIGFILE_H
#define VN_PROC_READCONFIGFILE_H

#include "vn_class_configurationlist.h"

// Reads the file named by `cmdline`'s "-configfile" into `cfgList`, line by
// line, later lines winning. Returns only when the whole file was read;
// otherwise (file cannot be opened, a keyword `cfgList` does not define, a
// read error) reports on standard error and ends the process with status 255.
void ReadConfigFile(configuration_list& cfgList, cmd_line& cmdline);

#endif
