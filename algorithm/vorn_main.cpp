// trokproc: navigation telemetry packets to ephemeris and attitude products.
#include "platform/exit_cleanup.h"
#include "vn_class_configurationlist.h"
#include "vn_proc_ListConfiguration.h"
#include "vn_proc_OutOfMemory.h"
#include "vn_proc_ProductRun.h"
#include "vn_proc_ReadCmdLine.h"
#include "vn_proc_ReadConfigFile.h"
#include "vn_proc_XferCmdlineValues.h"
#include "vn_version.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

const char* const kHelp =
    "usage: trokproc [keyword value] ...\n"
    "Reads a CCSDS telemetry packet file and writes an ephemeris and an attitude\n"
    "product. Every argument pair is a keyword and its value:\n"
    "  -configfile FILE     configuration file (default ./configfile)\n"
    "  -packetfile FILE     packet file\n"
    "  -noradfile FILE      two-line element file, or noTLE\n"
    "  -ephemerisfile FILE  ephemeris product to write\n"
    "  -attitudefile FILE   attitude product to write\n"
    "  -listconfig yes|no   list the configuration and print the termination line\n"
    "A non-empty value on the command line overrides the configuration file's.\n"
    "Status 0 after a complete run, 255 after any failure. See trokproc(1).\n";

// --help and --version are recognised only as the one argument: they print
// on standard output and end the process (status 0, or 255 when the text
// cannot be written). Any other command line is left to ReadCmdLine.
void HelpOrVersion(int argc, char** argv)
{
    if (argc != 2) return;
    const bool help = std::strcmp(argv[1], "--help") == 0;
    if (!help && std::strcmp(argv[1], "--version") != 0) return;
    std::cout << (help ? kHelp : "trokproc " TROK_VERSION "\n");
    std::cout.flush();
    std::exit(std::cout ? 0 : 255);
}

} // namespace

int main(int argc, char** argv)
{
    HelpOrVersion(argc, argv);
    // Start-up: command line, configuration file, command-line overrides,
    // optional listing. From here on settings come from configList only.
    InstallOutOfMemoryHandler();
    // Temporaries of unfinished products go at exit and on a stopping signal.
    platform::InstallExitCleanup();
    cmd_line cmndLine;
    ReadCmdLine(cmndLine, argc, argv);
    ReadingNow("configuration", cmndLine.getvalue("-configfile"));
    cfg_list configList;
    ReadConfigFile(configList, cmndLine);
    XferCmdlineValues(cmndLine, configList);
    ListConfiguration(cmndLine, configList);

    ProductRun(configList, cmndLine.getvalue("-configfile"));
    return 0;
}
