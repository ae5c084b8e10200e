#ifndef VN_PROC_GETNORADELEMENTS_H
#define VN_PROC_GETNORADELEMENTS_H

#include "orbitlib_class_noradelements.h"
#include "vn_class_noradfile.h"

// Finds the configured satellite's element set in the file and stores it in
// noradtle; a satellite the file does not hold leaves noradtle unchanged.
// Returns whether the file's stream is still good.
bool GetNoradElements(noradfile& nfile, noradelements& noradtle);

#endif
