#ifndef PIPELINE_PRODUCT_NAMES_H
#define PIPELINE_PRODUCT_NAMES_H

#include <string>
#include <vector>

// The names of a job's products: OUTDIR/NAME.eph and OUTDIR/NAME.att, NAME
// from the packet file's name or given.
namespace pipeline {

// The packet file's last name without its extension ("in/day1.pkt" gives
// "day1", "a.b.pkt" "a.b"); "" when that leaves nothing (".pkt", "dir/").
std::string ProductName(const std::string& packetFile);

// A name given for the products is one plain file name: no '/', not
// starting with '.'.
bool PlainProductName(const std::string& name);

// Checks a list of packet files, one a line (blank lines are skipped, as
// GNU parallel skips them): every line must make a product name, and no
// two lines the same one. Each fault as one message ("LIST: lines 3 and 7
// (A/day.pkt, B/day.pkt) both make the products day.eph and day.att");
// false with `messages` set when the list is refused or cannot be read.
bool CheckList(const std::string& list, std::vector<std::string>& messages);

} // namespace pipeline

#endif
