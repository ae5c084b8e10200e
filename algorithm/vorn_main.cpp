// trokproc: navigation telemetry packets to ephemeris and attitude products.
#include "vn_class_configurationlist.h"
#include "vn_proc_ListConfiguration.h"
#include "vn_proc_OutOfMemory.h"
#include "vn_proc_ProductRun.h"
#include "vn_proc_ReadCmdLine.h"
#include "vn_proc_ReadConfigFile.h"
#include "vn_proc_XferCmdlineValues.h"

int main(int argc, char** argv)
{
    // Start-up: command line, configuration file, command-line overrides,
    // optional listing. From here on settings come from configList only.
    InstallOutOfMemoryHandler();
    cmd_line cmndLine;
    ReadCmdLine(cmndLine, argc, argv);
    ReadingNow("configuration", cmndLine.getvalue("-configfile"));
    cfg_list configList;
    ReadConfigFile(configList, cmndLine);
    XferCmdlineValues(cmndLine, configList);
    ListConfiguration(cmndLine, configList);

    ProductRun(configList);
    return 0;
}
