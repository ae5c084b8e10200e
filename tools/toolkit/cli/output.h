#ifndef TOOLKIT_OUTPUT_H
#define TOOLKIT_OUTPUT_H

#include <string>
#include <vector>

#include "vn_class_outputfile.h"

namespace toolkit {

// How the tools create their output files: through the platform's atomic
// file (outputstream, platform/atomic_stream.h), so that an output is
// written to a new temporary beside its name and takes the name only once it
// is whole; every failure ends the program with one message (status 255).
// The rules themselves are the platform's (platform/path_trust.h,
// make_dirs.h); this layer words the failures.

// A file a run reads or writes, and what it is, for messages ("ephemeris
// file", "output file").
struct NamedFile {
    std::string what;
    std::string name;
};

// Before a run writes anything: refuses (one message, status 255) a blank
// or empty name among `inputs` and `outputs`, and an output that is the
// same file as an input or as another output (SameFile: the same path once
// links, "." and ".." are resolved, or the same existing file).
void RefuseClashes(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs);

// Opens `out` on the file; otherwise the program ends with
// "cannot open the <what> "<name>": <reason>".
void OpenOutput(outputstream& out, const NamedFile& file);

// Commits the streams as one step (CommitTogether): all new files or, when
// anything fails, none of them, and the program ends with
// "cannot write "<name>": <reason>".
void CommitOutputs(const std::vector<outputstream*>& outs);

// The folder a program writes several files into: made when missing (with
// its missing parents, mode 0777 less the umask, MakeDirs); one that exists
// must pass CheckOwnFolder: a folder of the user's own (reached through no
// link of another user) that others may not write to, unless its sticky bit
// keeps them from each other's files. Otherwise the program ends with one
// message naming the folder and why. Members of the folder's group count as
// trusted: a group folder may be group-writable.
void OwnFolder(const std::string& dir);

} // namespace toolkit

#endif
