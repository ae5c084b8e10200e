#ifndef PIPELINE_MADE_RECORD_H
#define PIPELINE_MADE_RECORD_H

#include <string>
#include <utility>
#include <vector>

// What made a job's products, kept beside them (OUTDIR/NAME.made), so that
// a later job asked to skip finished work can tell products made from the
// same inputs by the same programs from products of other ones: the inputs
// and products each by content hash and by a stat signature
// (platform/file_signature.h), which spares the hashing while a file has
// not changed since. Lines of tab-separated fields (toolkit/cli/tab_fields.h):
//     made-by   trokday VERSION
//     programs  the programs' --version lines, one a line
//     ROLE      PATH  SHA256  SIGNATURE      (packet, elements, config, eph, att, ...)
namespace pipeline {

struct MadeFile {
    std::string role, path, sha256, signature;
};

struct MadeRecord {
    std::string madeBy;
    std::string programs;
    std::vector<MadeFile> files;
    MadeFile* Find(const std::string& role);
    const MadeFile* Find(const std::string& role) const { return const_cast<MadeRecord*>(this)->Find(role); }
};

std::string MadeRecordPath(const std::string& outdir, const std::string& name);
std::string MadeRecordText(const MadeRecord& record);
// False when the file cannot be read or is no such record.
bool ReadMadeRecord(const std::string& path, MadeRecord& record);

// The file `path` as it is now, in the role `role`; false when it cannot
// be read.
bool Identify(const std::string& role, const std::string& path, MadeFile& file);

// Each (role, path) of `files` is the file the record holds in that role:
// the same content, known from its signature when the path is the one
// recorded and unchanged since, else from its hash. `changed` tells whether
// a signature was taken anew (the record is then worth writing again with
// them, in `record`).
bool SameFiles(MadeRecord& record, const std::vector<std::pair<std::string, std::string>>& files, bool& changed);

} // namespace pipeline

#endif
