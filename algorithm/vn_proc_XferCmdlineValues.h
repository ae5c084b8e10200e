#ifndef VN_PROC_XFERCMDLINEVALUES_H
#define VN_PROC_XFERCMDLINEVALUES_H

#include "vn_class_configurationlist.h"

// Copies the non-empty command-line values of -listconfig, -packetfile,
// -noradfile, -ephemerisfile and -attitudefile over `cfgList`'s; an empty
// value counts as not given.
void XferCmdlineValues(cmd_line& cmndLine, cfg_list& cfgList);

#endif
