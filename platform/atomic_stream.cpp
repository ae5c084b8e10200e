#include "platform/atomic_stream.h"

#include <cerrno>
#include <unistd.h>

namespace platform {

AtomicBuf::AtomicBuf(const AtomicFile& f) : file(f), own(8192)
{
    setp(own.data(), own.data() + own.size());
}

bool AtomicBuf::WriteAll(const char* s, size_t n)
{
    const size_t total = n;
    while (n > 0) {
        const int fd = file.Fd();
        if (fd < 0) {
            if (err == 0) err = EBADF;
            return false;
        }
        const ssize_t w = write(fd, s, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (err == 0) err = errno;
            return false;
        }
        s += w;
        n -= static_cast<size_t>(w);
    }
    if (file.Direct() || early.Written(file.Fd(), total)) return true;
    if (err == 0) err = early.Errno();
    return false;
}

bool AtomicBuf::Drain()
{
    const size_t n = static_cast<size_t>(pptr() - pbase());
    const bool ok = WriteAll(pbase(), n);
    setp(pbase(), epptr());   // written or dropped
    return ok;
}

AtomicBuf::int_type AtomicBuf::overflow(int_type c)
{
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (pbase() == epptr()) {   // no buffer at all
        const char ch = traits_type::to_char_type(c);
        return WriteAll(&ch, 1) ? c : traits_type::eof();
    }
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize AtomicBuf::xsputn(const char* s, std::streamsize n)
{
    const std::streamsize room = epptr() - pptr();
    if (n <= room) {
        traits_type::copy(pptr(), s, static_cast<size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    // Larger than the room left: out with the buffer and then the bytes.
    if (!Drain()) return 0;
    if (n < epptr() - pbase()) {
        traits_type::copy(pptr(), s, static_cast<size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    return WriteAll(s, static_cast<size_t>(n)) ? n : 0;
}

int AtomicBuf::sync() { return Drain() ? 0 : -1; }

AtomicBuf::pos_type AtomicBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                       std::ios_base::openmode which)
{
    if (!(which & std::ios_base::out) || !Drain()) return pos_type(off_type(-1));
    const int whence = dir == std::ios_base::beg ? SEEK_SET
                       : dir == std::ios_base::cur ? SEEK_CUR
                                                   : SEEK_END;
    const off_t at = lseek(file.Fd(), static_cast<off_t>(off), whence);
    if (at < 0) {
        if (err == 0) err = errno;
        return pos_type(off_type(-1));
    }
    return pos_type(static_cast<off_type>(at));
}

AtomicBuf::pos_type AtomicBuf::seekpos(pos_type pos, std::ios_base::openmode which)
{
    return seekoff(off_type(pos), std::ios_base::beg, which);
}

std::streambuf* AtomicBuf::setbuf(char* s, std::streamsize n)
{
    if (!Drain()) return nullptr;
    if (s == nullptr || n <= 0)
        setp(own.data(), own.data() + own.size());
    else
        setp(s, s + n);
    return this;
}

AtomicStream::AtomicStream() : std::ostream(nullptr), buf(file) { rdbuf(&buf); }

AtomicStream::AtomicStream(const std::string& fileName) : AtomicStream() { Open(fileName); }

AtomicStream::~AtomicStream() { Discard(); }

bool AtomicStream::Open(const std::string& fileName)
{
    writeError.clear();
    if (file.Open(fileName)) {
        clear();
        return true;
    }
    setstate(std::ios::failbit);
    return false;
}

bool AtomicStream::OpenAt(int dirfd, const std::string& fileName, int mode)
{
    writeError.clear();
    if (file.OpenAt(dirfd, fileName, mode)) {
        clear();
        return true;
    }
    setstate(std::ios::failbit);
    return false;
}

bool AtomicStream::Flushed()
{
    if (!file.IsOpen()) {
        if (file.Error().empty()) writeError = "not open";
        return false;
    }
    flush();
    if (!fail()) return true;
    writeError = ErrorText("write", buf.Errno() != 0 ? buf.Errno() : EIO);
    return false;
}

bool AtomicStream::Commit()
{
    if (!Flushed()) {
        Discard();
        return false;
    }
    if (file.Commit()) return true;
    file.Discard();
    return false;
}

void AtomicStream::Discard() { file.Discard(); }

std::string AtomicStream::Error() const
{
    return writeError.empty() ? file.Error() : writeError;
}

bool CommitStreamsTogether(const std::vector<AtomicStream*>& streams, size_t& failed)
{
    std::vector<AtomicFile*> files;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (!streams[i]->Flushed()) {
            failed = i;
            return false;
        }
        files.push_back(&streams[i]->File());
    }
    return CommitFilesTogether(files, failed);
}

namespace {

bool WriteAndCommit(AtomicStream& out, const std::string& bytes, std::string& error)
{
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.Commit()) {
        error = out.Error();
        return false;
    }
    return true;
}

} // namespace

bool WriteFileAtomicallyAt(int dirfd, const std::string& name, const std::string& bytes, std::string& error,
                           int mode)
{
    AtomicStream out;
    if (!out.OpenAt(dirfd, name, mode)) {
        error = out.Error();
        return false;
    }
    return WriteAndCommit(out, bytes, error);
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error)
{
    AtomicStream out;
    if (!out.Open(path)) {
        error = out.Error();
        return false;
    }
    return WriteAndCommit(out, bytes, error);
}

} // namespace platform
