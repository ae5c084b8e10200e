#ifndef TESTS_QLRPLOT_PAIRS_H
#define TESTS_QLRPLOT_PAIRS_H

#include <string>

// Directory of a product pair x.eph and x.att made by trokgen and trokproc
// and kept for every test of the build: "hours2", "day1", "days7" (with
// element sets) or "noelements" (a day without). Made once, under a lock,
// and again when trokgen or trokproc are newer than it.
std::string ProductPair(const std::string& name);

#endif
