#ifndef VN_CLASS_OUTPUTFILE_H
#define VN_CLASS_OUTPUTFILE_H

// The one way the programs create an output file, safe in folders that
// other users may write to.
//
// An output named N is written to a new temporary file in N's folder,
//     .<N's base name>.<pid>.<6 random letters or digits>.trokproc-tmp
// created exclusively (O_CREAT|O_EXCL|O_NOFOLLOW), so that no file, link or
// FIFO that someone planted under a likely name is ever opened, followed or
// truncated. When N's base name leaves no room for that within the folder's
// name limit, it is cut short in the temporary name. The temporary gets its
// mode on the open descriptor: that of an earlier file N of the same owner
// with no other name, else 0666 less the umask (a file of another user
// lends neither its mode nor its owner). On commit the data is synced, the temporary renamed over
// N and the folder synced: readers of N see the earlier file or the whole
// new one. The folder is held open from the start, so long paths work and a
// folder renamed meanwhile does not send the file elsewhere.
//
// Until it is committed a temporary is registered: exit() (through atexit)
// and SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGXFSZ and SIGABRT remove it (the
// signal is then raised again with its default action, so the process ends
// as it would have; an ignored signal stays ignored). Nothing can remove it
// after SIGKILL: a temporary whose pid no longer runs is stale.
//
// What N may be:
// - a new name, or an existing regular file (replaced, never written to);
// - a symbolic link, or a chain of them, each belonging to the user or to
//   root: the file it leads to is created or replaced in its own folder and
//   the link stays. A link of another user is refused, and so is a link to
//   a regular file of another user;
// - a device, FIFO or the like that belongs to the user or to root
//   (/dev/null, a terminal, a FIFO of the user's): written in place,
//   without a temporary; commit only closes it. A FIFO blocks until it has
//   a reader, as it would for any writer. Others' FIFOs and devices are
//   refused;
// - a descriptor of the process's own (/dev/stdout, /dev/fd/N): written in
//   place, whatever it leads to; a regular file there is truncated first.
// Blank names (blanks and tabs only) and empty names are refused. Folders
// along N's path are taken as they are.

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "vn_class_writeback.h"

// One output file from Open to Commit or Discard. Single-threaded use.
class outputfile
{
public:
    outputfile() = default;
    ~outputfile();   // an uncommitted file is discarded
    outputfile(const outputfile&) = delete;
    outputfile& operator=(const outputfile&) = delete;

    // Prepares `name` for writing (see above). False with Error() set when
    // the file cannot be opened; Refused() then tells whether a rule above
    // refused it rather than the system.
    bool Open(const std::string& name);

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
    bool Resolve(std::string& base, bool& special, bool& throughLink, unsigned& mode);
    bool CreateTemporary(const std::string& base, unsigned mode);

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
bool CommitFilesTogether(const std::vector<outputfile*>& files, size_t& failed);

// Buffered output to an outputfile's descriptor, seekable where the file
// is. A failed write (a full disk) sets badbit on the stream and keeps its
// error number; bytes still buffered once the file is finished are dropped.
class outputbuf : public std::streambuf
{
public:
    explicit outputbuf(const outputfile& file);
    // errno of the first failed write or seek, 0 if none.
    int Errno() const { return err; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
    std::streambuf* setbuf(char* s, std::streamsize n) override;

private:
    bool Drain();
    bool WriteAll(const char* s, size_t n);

    const outputfile& file;
    std::vector<char> own;   // the buffer unless setbuf gave another
    int err = 0;
    writeback early;   // starts the disk writes of a file as it is written
};

// An output stream on an outputfile: text or bytes written through
// std::ostream, committed at the end. An open failure shows as failbit.
class outputstream : public std::ostream
{
public:
    outputstream();
    explicit outputstream(const std::string& name);
    ~outputstream() override;   // an uncommitted file is discarded

    bool Open(const std::string& name);

    // Flushes the stream and checks that every byte reached the file; false
    // with Error() set otherwise.
    bool Flushed();
    // Flushed(), then the file's Commit(). On failure the file is discarded.
    bool Commit();
    void Discard();

    outputfile& File() { return file; }
    const std::string& Name() const { return file.Name(); }
    // Why Open, Flushed or Commit failed.
    std::string Error() const;

private:
    outputfile file;
    outputbuf buf;
    std::string writeError;
};

// CommitFilesTogether for streams: each is Flushed() first.
bool CommitTogether(const std::vector<outputstream*>& streams, size_t& failed);

// Removes every temporary still registered. Called at exit and from the
// signal handler; safe to call more than once and from a signal handler.
void RemoveOutputTemporaries();

// The clash test: the two named files are the same file, identical after
// resolving links, "." and "..", or the same existing file by device and
// inode. Character devices (/dev/null) never clash, since writing to them
// twice loses nothing, and blank names clash with nothing (they are refused
// on their own). A program compares every output with every input and with
// every other output before it opens any.
bool SameFile(const std::string& a, const std::string& b);

// A name made only of blanks and tabs, or empty.
bool BlankName(const std::string& name);

#endif
