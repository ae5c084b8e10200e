#include "platform/write_back.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

const off_t pageSize = 4096;

} // namespace

bool WriteBack::Written(int descriptor, size_t n)
{
    if (descriptor != fd) {
        fd = descriptor;
        off = false;
        started = waited = 0;
        pending = 0;
    }
    if (off) return true;
    pending += n;
    if (pending < stretch) return true;
    pending = 0;
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0) {
        off = true;
        return true;
    }
    if (at < started) started = waited = 0;   // another file on the same descriptor
    const off_t end = at / pageSize * pageSize;
    return Start(end) && Wait(end - static_cast<off_t>(behind));
}

#ifdef SYNC_FILE_RANGE_WRITE

// Starts the disk writes of the data from `started` up to `end`.
bool WriteBack::Start(off_t end)
{
    if (end <= started) return true;
    if (sync_file_range(fd, started, end - started, SYNC_FILE_RANGE_WRITE) != 0) return Failed(errno);
    started = end;
    return true;
}

// Waits until the data from `waited` up to `end` is on disk.
bool WriteBack::Wait(off_t end)
{
    if (end <= waited) return true;
    const unsigned flags = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (sync_file_range(fd, waited, end - waited, flags) != 0) return Failed(errno);
    waited = end;
    return true;
}

#else

bool WriteBack::Start(off_t) { return Failed(ENOSYS); }
bool WriteBack::Wait(off_t) { return true; }

#endif

// A refusal (no such call, a descriptor that is not a file's, flags the
// file system does not take) or an interruption leaves the file to the final
// sync; anything else means data did not reach the disk.
bool WriteBack::Failed(int e)
{
    if (e == EINTR) return true;
    if (e == ENOSYS || e == EOPNOTSUPP || e == ESPIPE || e == EINVAL || e == EBADF) {
        off = true;
        return true;
    }
    err = e;
    return false;
}

} // namespace platform
