#ifndef VN_PROC_COPYFILES_H
#define VN_PROC_COPYFILES_H

#include "vn_class_attitudefile.h"
#include "vn_class_configurationlist.h"
#include "vn_class_ephemerisfile.h"
#include "vn_class_trokpktprocessor.h"

// Drains the packet processor: every repaired point becomes one ephemeris
// record and one attitude record carrying the point's quality flags. When
// the input ends other than at the end of the packet file, writes
// "\nPacket File read error" and the last packet read to standard error and
// ends the process with status 255. configList is not consulted.
void CopyFiles(trokpktprocessor& processPkt, ephemerisfile& efile, attitudefile& afile,
               const cfg_list& configList);

#endif
