#ifndef VN_PROC_ATOMICPRODUCTS_H
#define VN_PROC_ATOMICPRODUCTS_H

#include <string>

// Products appear under their final names whole or not at all.
//
// Each product is written to ".<final basename>.<pid>.trokproc-tmp" in the
// folder of its target and renamed over the final name only after it was
// closed, checked and synced to disk. Until then the process keeps a list of
// its temporary files: any exit before the commit (every status-255 path
// goes through exit()) removes them, and so do SIGTERM, SIGINT, SIGHUP and
// SIGABRT, after which the signal is raised again with its default action.
// An existing product of the final name is never touched by a failed run.
//
// Targets that exist and are not regular files (/dev/null, a FIFO, anything
// under /dev/ or /proc/) are written directly, as is a symbolic link whose
// target does not exist. A symbolic link to a regular file is replaced at its
// target, so the link stays.

// Where a product for `finalName` is to be written: the temporary name, now
// registered for removal, or `finalName` itself for a direct target.
std::string ProductWritePath(const std::string& finalName);

// Syncs the data of the file written at `writePath` to disk (nothing to do
// for a target that is not a regular file). Returns false with the failing
// call and its error text in `reason`.
bool SyncProduct(const std::string& writePath, std::string& reason);

// Renames the synced temporary file `writePath` over its final name (for a
// link, over the link's target) and syncs the folder; a direct target needs
// nothing. An earlier product's permissions carry over. Returns false with
// a reason; the temporary file then stays registered and goes at exit.
bool CommitProduct(const std::string& writePath, std::string& reason);

// The final file a registered temporary name becomes; "" for a direct target.
std::string ProductTarget(const std::string& writePath);

// Removes every temporary file still registered. Called at exit and from the
// signal handler; safe to call more than once.
void RemoveProductTemporaries();

// The two named files are the same file: identical after resolving links,
// "." and "..", or the same existing file by device and inode. Names of
// character devices (/dev/null) never clash: writing to them twice loses
// nothing.
bool SameFile(const std::string& a, const std::string& b);

#endif
