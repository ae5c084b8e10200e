// trokgen: writes a telemetry packet file of a simulated spacecraft, with a
// matching two-line element file and a configuration file for trokproc; or
// an archive of such packet files, one a day, of one continuous orbit, with
// a history of element sets for it; with --dumps also the span as the
// recorder dumps a ground station receives.

#include "platform/exit_cleanup.h"
#include "trokgen_files.h"
#include "trokgen_options.h"

int main(int argc, char** argv)
{
    // Temporaries of unfinished outputs go at exit and on a stopping signal.
    platform::InstallExitCleanup();
    const trokgen::Options o = trokgen::ParseOptions(argc, argv);
    return o.archive.empty() ? trokgen::WriteSingle(o) : trokgen::WriteArchive(o);
}
