#ifndef PLATFORM_ATOMIC_FILE_H
#define PLATFORM_ATOMIC_FILE_H

// The one way the programs create an output file, safe in folders that
// other users may write to.
//
// An output named N is written to a new temporary file in N's folder,
//     .<N's base name>.<pid>.<6 random letters or digits>.trokproc-tmp
// created exclusively (O_CREAT|O_EXCL|O_NOFOLLOW), so that no file, link or
// FIFO that someone planted under a likely name is ever opened, followed or
// truncated. When N's base name leaves no room for that within the folder's
// name limit, it is cut short in the temporary name. The temporary gets its
// mode on the open descriptor (FindOutputTarget, path_trust.h, says which).
// On commit the data is synced, the temporary renamed over N and the folder
// synced: readers of N see the earlier file or the whole new one. The
// folder is held open from the start, so long paths work and a folder
// renamed meanwhile does not send the file elsewhere.
//
// What N may be is FindOutputTarget's rule: a new name or a regular file
// (replaced, never written to); a link of a trusted owner (the file it
// leads to is created or replaced in its own folder and the link stays); a
// device or FIFO of a trusted owner, or a descriptor of the process's own
// (/dev/stdout, /dev/fd/N), written in place without a temporary (a
// regular file behind such a descriptor is truncated first; a FIFO blocks
// until it has a reader, as it would for any writer). Blank and empty
// names are refused. Folders along N's path are taken as they are.
//
// Until it is committed a temporary is registered (temp_registry.h), so
// that the clean-up policy a program's main installs (exit_cleanup.h)
// removes it at exit or on a stopping signal. Opening a file installs no
// signal handler.

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// One output file from Open to Commit or Discard. Single-threaded use.
class AtomicFile
{
public:
    AtomicFile() = default;
    ~AtomicFile();   // an uncommitted file is discarded
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Prepares `name` for writing (see above). False with Error() set when
    // the file cannot be opened; Refused() then tells whether a rule above
    // refused it rather than the system.
    bool Open(const std::string& name);

    // The same in a folder held open (folder.h): `name` is one entry of the
    // folder `dirfd` (no "/", not "." or ".."), written to a temporary
    // beside it and renamed over it, whatever it was: a link, FIFO or
    // device under the name is replaced, never followed or written to (a
    // folder there fails the commit). Nothing is looked up by path. `mode`:
    // the new file's mode, set on its descriptor; -1: that of an earlier
    // regular file of the user's under the name with no other name, else
    // 0666 less the umask. The folder's descriptor is duplicated: the
    // caller's stays its own. Name() is `name`.
    bool OpenAt(int dirfd, const std::string& name, int mode = -1);

    // Open and not yet finished; the descriptor to write to (-1 before Open
    // and once finished or discarded).
    bool IsOpen() const { return fd >= 0; }
    int Fd() const { return fd; }
    // Written in place (a device or FIFO), without a temporary.
    bool Direct() const { return direct; }
    const std::string& Name() const { return name; }
    // The temporary's name in the target's folder ("" for a direct target).
    const std::string& TempName() const { return temp; }

    // Why the last failed call failed: the refusal, or the failing call and
    // its error text ("fsync: No space left on device").
    const std::string& Error() const { return error; }
    bool Refused() const { return refused; }

    // Syncs and closes the file, renames the temporary over the name and
    // syncs the folder. False with Error() set; the temporary then stays
    // until Discard(), the destructor or exit removes it.
    bool Commit();

    // Closes the file and removes the temporary; the name is left as it was.
    void Discard();

    // The two halves of Commit, for CommitFilesTogether: Finish syncs and
    // closes the data, Publish renames and syncs the folder.
    bool Finish();
    bool Publish();

private:
    bool Fail(const std::string& what, int err);
    bool Refuse(const std::string& why);
    bool CreateTemporary(const std::string& base, unsigned mode);
    bool OpenInPlace(const std::string& base, bool throughLink);

    std::string name;
    std::string error;
    bool refused = false;
    bool direct = false;
    int fd = -1;      // the data
    int dirfd = -1;   // the target's folder
    int slot = -1;    // registration of the temporary
    std::string target;   // base name of the final file in dirfd
    std::string temp;     // base name of the temporary in dirfd
};

// Commits several files as one step: every file is synced first (a failure
// there commits none), then all are renamed with every blockable signal
// held back until the last rename is done, so that a stopping signal leaves
// all new files or all earlier ones. False with the index of the failing
// file in `failed` (its Error() says why); only a failed rename after an
// earlier one succeeded leaves some files new.
bool CommitFilesTogether(const std::vector<AtomicFile*>& files, size_t& failed);

// "what: error text", or the error text alone when `what` is empty.
std::string ErrorText(const std::string& what, int err);

} // namespace platform

#endif
