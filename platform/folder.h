#ifndef PLATFORM_FOLDER_H
#define PLATFORM_FOLDER_H

// A folder held open by its descriptor, and everything below it reached
// relative to that descriptor (openat, mkdirat, renameat, unlinkat,
// fstatat), never by a path looked up again: a folder renamed or an
// ancestor replaced meanwhile sends nothing elsewhere.
//
// A folder is held either as a private folder (OpenPrivate: the rule of
// private_folder.h passed, for a program's state) or as a folder to read
// from that need not be the user's (OpenToRead: an inbox another user
// fills). Below it:
// - a subfolder must be a folder of the user's own that nobody else may
//   write to (PrivateFault); a symbolic link of the user's or root's to a
//   folder is followed only when what it leads to passes the whole
//   private-folder rule, and a link of anyone else is refused;
// - a file is read only when it is a regular file of the folder's owner or
//   root, and never through a link: links, FIFOs, devices and folders are
//   refused without being opened for reading (OpenInputAt, input_file.h);
// - outputs are made with AtomicFile::OpenAt(folder.Fd(), name): a link
//   under the name is replaced, never followed.
// Names given are entries of the folder: no "/", not "." or "..", not
// empty (OpenSub alone takes several joined by "/").
//
// Programs that open a file by name (SQLite, children given a path) take
// PathOf(name): the folder's link-free path, which the private-folder rule
// keeps from being swapped by anyone but the user and root. SQLite resolves
// every link in the names it is given, /proc/self/fd/N (FdPath) included,
// to that same path when it opens the database, and names its journal
// after it; so FdPath protects nothing beyond what the rule already does
// for it, and serves programs that use the name as it is.
//
// Errors name the entry by PathOf(name) and say why:
// "/c/days/x: a FIFO, not a regular file".

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace platform {

class Folder
{
public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // The private-folder rule passed, the folder held (OpenPrivateFolder,
    // with `create` and `mode` as there). False with the reason in `error`.
    bool OpenPrivate(const std::string& path, std::string& error, bool create = false, unsigned mode = 0777);
    // A folder to read from, as named (links followed): no rule but that it
    // be a folder.
    bool OpenToRead(const std::string& path, std::string& error);

    bool IsOpen() const { return fd >= 0; }
    int Fd() const { return fd; }
    // Absolute: the resolved path for a private folder, else as given.
    const std::string& Path() const { return path; }
    uid_t Owner() const { return owner; }
    void Close();

    // The subfolder `name` (names joined by "/"), made when missing with
    // `create` (`mode` less the umask, never writable by group or others).
    bool OpenSub(const std::string& name, Folder& sub, std::string& error, bool create = false,
                 unsigned mode = 0777) const;

    // A file to read (see above): its descriptor, without O_NONBLOCK, or -1.
    // With `st`, its status.
    int OpenFile(const std::string& name, std::string& error, struct stat* st = nullptr) const;
    bool ReadWhole(const std::string& name, std::string& text, std::string& error) const;
    bool ReadInSteps(const std::string& name, size_t step, const std::function<void(const char*, size_t)>& take,
                     std::string& error) const;

    // A file the user keeps under its name (a database, a lock): a regular
    // file of the user's own with no other name and no link in its place,
    // made empty when missing with `create`, and given `mode` (0600: the
    // owner's alone) on its descriptor. Its descriptor, opened for reading
    // and writing without blocking, or -1.
    int OpenOwnFile(const std::string& name, unsigned mode, bool create, std::string& error) const;

    // The entries but "." and "..", sorted.
    bool List(std::vector<std::string>& names, std::string& error) const;
    // The entry's own status (a link is not followed); false with errno
    // (ENOENT: there is none).
    bool Stat(const std::string& name, struct stat& st) const;
    bool Exists(const std::string& name) const;

    // Renames within the folder, or into another held folder (same file
    // system). With `replace` false, an entry under the new name is kept
    // and the rename fails (EEXIST).
    bool Rename(const std::string& from, const std::string& to, std::string& error, bool replace = true) const;
    bool RenameTo(const std::string& from, const Folder& into, const std::string& to, std::string& error,
                  bool replace = true) const;
    // Swaps two entries in one step (renameat2 RENAME_EXCHANGE): `from`
    // here takes the place of `to` in `into` and the other way round, so
    // that nobody ever sees neither (a folder replaced whole). Both must
    // exist; a file system that cannot swap fails with EINVAL.
    bool Exchange(const std::string& from, const Folder& into, const std::string& to, std::string& error) const;
    // Removes a file, a link (not what it leads to) or an empty folder; an
    // entry already gone is no error.
    bool Remove(const std::string& name, std::string& error) const;
    // Removes a folder and all it holds, following no link.
    bool RemoveTree(const std::string& name, std::string& error) const;

    // Path() + "/" + name; and /proc/self/fd/N/name for this descriptor.
    std::string PathOf(const std::string& name) const;
    std::string FdPath(const std::string& name) const;

private:
    bool Named(const std::string& name, std::string& error) const;
    bool Fail(const std::string& name, int err, std::string& error) const;

    int fd = -1;
    std::string path;
    uid_t owner = 0;
};

} // namespace platform

#endif
