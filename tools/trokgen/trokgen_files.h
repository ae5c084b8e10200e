#ifndef TROKGEN_FILES_H
#define TROKGEN_FILES_H

#include <string>

#include "trokgen_options.h"

namespace trokgen {

// One packet file of --seconds samples, with its element set and
// configuration when asked (and its recorder dumps).
int WriteSingle(const Options& o);

// One packet file a day of one continuous orbit, DIR/YYYY/MM/DD.pkt, with
// an element-set history when asked (and the recorder dumps of the days).
int WriteArchive(const Options& o);

// A folder made if missing, with its missing parents; with `noLink`, one
// that exists must be a folder itself, not a link to one somewhere else.
void MakeFolders(const std::string& path, bool noLink = false);

} // namespace trokgen

#endif
