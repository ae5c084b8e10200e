#ifndef VN_PROC_PRODUCTRUN_H
#define VN_PROC_PRODUCTRUN_H

#include <string>

#include "vn_class_configurationlist.h"

// The run after start-up: reads the packet file and the element file named
// in configList and writes the ephemeris and attitude products. Returns
// only after a complete run (both products written and their headers
// completed); every input or write failure ends the process with a message
// on standard error and status 255. `configFileName`, the configuration
// file read at start-up, is one of the names a product must not clash with.
void ProductRun(const cfg_list& configList, const std::string& configFileName);

#endif
