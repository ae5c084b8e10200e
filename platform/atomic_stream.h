#ifndef PLATFORM_ATOMIC_STREAM_H
#define PLATFORM_ATOMIC_STREAM_H

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/write_back.h"

namespace platform {

// Buffered output to an AtomicFile's descriptor, seekable where the file
// is. A failed write (a full disk) sets badbit on the stream and keeps its
// error number; bytes still buffered once the file is finished are dropped.
class AtomicBuf : public std::streambuf
{
public:
    explicit AtomicBuf(const AtomicFile& file);
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

    const AtomicFile& file;
    std::vector<char> own;   // the buffer unless setbuf gave another
    int err = 0;
    WriteBack early;   // starts the disk writes of a file as it is written
};

// An output stream on an AtomicFile: text or bytes written through
// std::ostream, committed at the end. An open failure shows as failbit.
class AtomicStream : public std::ostream
{
public:
    AtomicStream();
    explicit AtomicStream(const std::string& name);
    ~AtomicStream() override;   // an uncommitted file is discarded

    bool Open(const std::string& name);
    // AtomicFile::OpenAt: `name` in the folder `dirfd`.
    bool OpenAt(int dirfd, const std::string& name, int mode = -1);

    // Flushes the stream and checks that every byte reached the file; false
    // with Error() set otherwise.
    bool Flushed();
    // Flushed(), then the file's Commit(). On failure the file is discarded.
    bool Commit();
    void Discard();

    AtomicFile& File() { return file; }
    const std::string& Name() const { return file.Name(); }
    // Why Open, Flushed or Commit failed.
    std::string Error() const;

private:
    AtomicFile file;
    AtomicBuf buf;
    std::string writeError;
};

// CommitFilesTogether for streams: each is Flushed() first.
bool CommitStreamsTogether(const std::vector<AtomicStream*>& streams, size_t& failed);

// Writes `bytes` to `path` whole or not at all, through an AtomicStream.
// False with the reason in `error`.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
// The same for `name` in the folder `dirfd` (AtomicFile::OpenAt).
bool WriteFileAtomicallyAt(int dirfd, const std::string& name, const std::string& bytes, std::string& error,
                           int mode = -1);

} // namespace platform

#endif
