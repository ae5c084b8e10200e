#ifndef PLATFORM_PRIVATE_FOLDER_H
#define PLATFORM_PRIVATE_FOLDER_H

// The rule for a folder a program keeps its state in (a campaign, its
// catalog and lock), as strict as ssh's StrictModes: nobody but the user
// and root can add, remove, rename or replace anything in it or anywhere on
// the way to it, so that a name under it, checked once, names the same file
// for good.
//
// The path is resolved one name at a time from the root ("/" for a path
// given relative, the working folder's own link-free path first), each
// folder held open while the next is looked at, so that what is checked is
// what is reached:
// - every folder on the way, the root included, belongs to the user or to
//   root and is not writable by others, unless it is a sticky folder owned
//   by root (as /tmp: others may add names there but not take or rename
//   ours);
// - a symbolic link on the way (or as the last name) belongs to the user or
//   to root; it is followed, and the folders it leads through are held to
//   the same rule ("..", after a link too, goes to the folder's real
//   parent); up to 40 links;
// - the folder itself belongs to the user and is writable by nobody else;
//   a sticky bit does not excuse it.
// Writable by its group counts as writable by others unless the group is
// the user's alone (a user private group as Debian makes them: no user but
// this one has it as primary group or is listed as a member) and no access
// list lets anyone else write. A group-writable folder of a shared group
// (root:staff 2775) is refused, on the way and as the folder itself.
//
// Refusals name the offending folder by its resolved path: "/srv/shared is
// writable by others", "/srv/shared is writable by its group (staff)",
// "/tmp/c belongs to another user (nobody)", "/tmp/c is a link of another
// user (nobody)", "/tmp/c is not a folder", "/tmp/c: No such file or
// directory", "/tmp/c: too many levels of links".

#include <sys/stat.h>

#include <string>

namespace platform {

struct FolderVerdict {
    bool ok = false;
    std::string path;     // the folder's absolute, link-free path (as far as the walk got, when refused)
    std::string reason;   // why not, naming the folder
};

// Says whether `path` may hold a program's state.
FolderVerdict CheckPrivateFolder(const std::string& path);

// The same walk, leaving the folder open: its descriptor (read-only,
// close-on-exec), or -1 with the verdict's reason. With `create`, missing
// folders along the path are made on the way (and checked as they are
// made): the last with `mode`, the others with 0777, each less the umask
// and never writable by group or others.
int OpenPrivateFolder(const std::string& path, bool create, unsigned mode, FolderVerdict& verdict);

// The parts of the rule for one folder, on its status (folder.h applies
// them to the folders below one already held): "" when it passes, else the
// fault ("is writable by others"). An ancestor may also be root's; the
// folder itself must be the user's. `fd` (may be -1) is the folder, open,
// for a look at its access list.
std::string AncestorFault(const struct stat& st, int fd);
std::string PrivateFault(const struct stat& st, int fd);

// A user's or group's name, or its number when it has none.
std::string UserName(uid_t uid);
std::string GroupName(gid_t gid);

} // namespace platform

#endif
