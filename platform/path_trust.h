#ifndef PLATFORM_PATH_TRUST_H
#define PLATFORM_PATH_TRUST_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace platform {

// Which names a program may follow and write on a machine that others
// share: another user can plant links, files and FIFOs in any folder they
// can write, swap folders they own, and choose every name we are given.

// The owners whose links, devices and FIFOs the user may follow and write:
// the user, and root, whom no one else can impersonate.
bool TrustedOwner(uid_t owner);

// The mode of an output file made new: 0666 less the umask; and whether an
// earlier file under the name lends its own instead: a regular file of the
// user's with no other name.
unsigned DefaultFileMode();
bool KeepsItsMode(const struct stat& st);

// A name made only of blanks and tabs, or empty: refused as a file name.
bool BlankName(const std::string& name);

// The clash test: the two named files are the same file, identical after
// resolving links, "." and "..", or the same existing file by device and
// inode. Character devices (/dev/null) never clash, since writing to them
// twice loses nothing, and blank names clash with nothing (they are refused
// on their own). A program compares every output with every input and with
// every other output before it opens any.
bool SameFile(const std::string& a, const std::string& b);

// Where an output file named N goes, N followed as the atomic file
// follows it:
// - a new name, or an existing regular file (to be replaced, never written
//   to): `mode` is that of an earlier file N of the user's with no other
//   name, else 0666 less the umask (a file of another user lends neither
//   its mode nor its owner);
// - a symbolic link, or a chain of them (up to 40), each belonging to a
//   trusted owner: the file it leads to, in its own folder. A link of
//   another user is refused, and so is a link to a regular file of another
//   user;
// - a device, FIFO or the like of a trusted owner: `special`, written in
//   place. Others' are refused;
// - a descriptor of the process's own (/dev/stdout, /dev/fd/N, links on
//   /proc): `special` and `throughLink`, written in place through the
//   link, whatever it leads to.
// Each link is checked before it is followed and each folder reached is
// held open, so that nothing is looked up by path again afterwards.
struct OutputTarget {
    int dirfd = -1;             // the folder of the file, open; the caller closes it
    std::string base;           // the file's name in that folder
    bool special = false;       // written in place, without a temporary
    bool throughLink = false;   // opened through the link (a descriptor of ours)
    unsigned mode = 0;          // the mode of a file made new
};
// False with `error` set, and `refused` when a rule above refused the name
// rather than the system ("a link of another user"); dirfd is then closed.
// Blank names are the caller's to refuse.
bool FindOutputTarget(const std::string& name, OutputTarget& target, std::string& error, bool& refused);

// The rule for a folder a program keeps several files in (its state, a
// page and its pictures): a folder of the user's own, reached through no
// link of another user, that others may not write to unless its sticky bit
// keeps them from each other's files. `madeNow`: the program has just made
// it, so its mode is the one the umask gives. Members of the folder's
// group count as trusted: a group folder may be group-writable.
enum class FolderTrust {
    Own,            // may be used
    NotAFolder,     // exists and is not a folder
    OthersLink,     // a link of another user
    OthersFolder,   // a folder of another user
    OpenToOthers,   // others may write to it and its sticky bit is not set
    Unreadable,     // cannot be looked at: `err` says why
};
FolderTrust CheckOwnFolder(const std::string& dir, bool madeNow, int& err);

} // namespace platform

#endif
