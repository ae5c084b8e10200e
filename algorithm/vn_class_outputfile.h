#ifndef VN_CLASS_OUTPUTFILE_H
#define VN_CLASS_OUTPUTFILE_H

// trokproc's names for the platform's atomic output file, which its file
// writers derive from (platform/atomic_file.h and atomic_stream.h say what
// it promises): an output is written to a new temporary beside its name
// and takes the name only once it is whole.

#include <cstddef>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/atomic_stream.h"
#include "platform/path_trust.h"

using outputfile = platform::AtomicFile;
using outputbuf = platform::AtomicBuf;
using outputstream = platform::AtomicStream;

using platform::BlankName;
using platform::CommitFilesTogether;
using platform::SameFile;

// CommitFilesTogether for streams: each is flushed first.
inline bool CommitTogether(const std::vector<outputstream*>& streams, size_t& failed)
{
    return platform::CommitStreamsTogether(streams, failed);
}

#endif
