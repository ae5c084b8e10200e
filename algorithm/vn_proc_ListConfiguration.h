#ifndef VN_PROC_LISTCONFIGURATION_H
#define VN_PROC_LISTCONFIGURATION_H

#include "vn_class_configurationlist.h"

// When `configList`'s -listconfig is exactly "yes", writes to standard output
// a banner with -noradsatname and the current UTC time
// ("\nTROK <name> YYYY/MM/DD hh:mm:ss", the time text followed by its NUL
// terminator), then both lists, each under its own heading.
void ListConfiguration(const cmd_line& cmndLine, const cfg_list& configList);

#endif
