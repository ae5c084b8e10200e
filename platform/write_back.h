#ifndef PLATFORM_WRITE_BACK_H
#define PLATFORM_WRITE_BACK_H

// Early write-back of an output file. A program that writes a file and then
// syncs it would otherwise compute first and wait for the disk afterwards:
// the kernel keeps written data in memory until the sync (or long after).
// Told about each stretch written, this asks the kernel to start writing
// every completed, page-aligned megabyte of the file to disk at once, so that
// the disk works while the program goes on and the final sync waits only for
// the last stretch; and it waits for the stretch written eight megabytes
// earlier to be on disk, so that no more than that is ever under way (a slow
// disk then holds the writer back instead of filling memory). Linux
// sync_file_range; the sync stays what makes the data durable, and no byte
// changes.
//
// Where the call does not exist or does not apply (another system, a file
// system or descriptor that refuses it), nothing is done: the first refusal
// switches it off for the descriptor and the file is written as before. An
// error that says the data could not be written (EIO, ENOSPC and the like)
// is returned to the writer, which must fail the file: once reported here
// the kernel may not report it again to the final sync.
//
// Fed by one writer that writes its file front to back (a seek back to
// rewrite a header at the end is fine). Single-threaded use.

#include <cstddef>
#include <sys/types.h>

namespace platform {

class WriteBack
{
public:
    // A stretch is handed to the kernel once this many bytes have been
    // written since the last one.
    static const size_t stretch = 1024 * 1024;
    // How far behind the newest stretch the writer waits for the disk.
    static const size_t behind = 8 * stretch;

    // `n` bytes have just been written to `fd` and its position stands
    // behind them. False with Errno() set when the kernel reported that the
    // file's data could not be written.
    bool Written(int fd, size_t n);

    // errno of the write error reported, 0 if none.
    int Errno() const { return err; }

private:
    bool Start(off_t end);
    bool Wait(off_t end);
    bool Failed(int e);

    int fd = -1;          // the descriptor this is about
    bool off = false;     // the kernel refused the call for it
    off_t started = 0;    // data before this offset handed to the kernel
    off_t waited = 0;     // and before this one on disk
    size_t pending = 0;   // bytes written since the last stretch
    int err = 0;
};

} // namespace platform

#endif
