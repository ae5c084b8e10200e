#ifndef PLATFORM_EXIT_CLEANUP_H
#define PLATFORM_EXIT_CLEANUP_H

namespace platform {

// The clean-up policy of a program that writes atomic files: the
// temporaries still registered (temp_registry.h) are removed at exit()
// (through atexit) and on SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGXFSZ and
// SIGABRT, after which the signal is raised again with its default action,
// so that the process ends as it would have. A signal ignored when the
// policy is installed stays ignored (nohup and the like). Nothing can
// remove a temporary after SIGKILL: one whose pid no longer runs is stale.
//
// Each program's main installs it, once, before it opens an output;
// opening a file installs nothing. A program that ends its work itself on
// some of these signals puts its own handlers over the policy's for a
// while (StopSignals, stop_signals.h). Calling it again does nothing.
void InstallExitCleanup();

} // namespace platform

#endif
