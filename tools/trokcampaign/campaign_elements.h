#ifndef CAMPAIGN_ELEMENTS_H
#define CAMPAIGN_ELEMENTS_H

#include <string>
#include <vector>

namespace campaign {

// One element set of a history, as the file gives it.
struct ElementSet {
    std::string line1, line2;
    double epochTai93 = 0;  // the epoch as trokproc reads it
    int setNumber = -1;     // element set number (line 1, columns 65-68), -1 when blank
    long catalog = 0;       // catalogue number
    size_t order = 0;       // position in the file
};

// The sets of one satellite from a history file, by epoch (in the file's
// order among sets of the same epoch), each set once: written out in this
// order (the run's elements.tle) and read again, they are the same history.
struct ElementHistory {
    std::vector<ElementSet> sets;
    size_t badCheckDigits = 0;   // sets of the satellite left out
    size_t malformed = 0;        // line pairs too short to be sets
    size_t duplicates = 0;       // repeated sets left out
    size_t otherSatellites = 0;  // sets of other satellites
};

// Reads a history of two- or three-line element sets (any order, several
// satellites, repeats). A three-line set belongs to the satellite when its
// name line names `satelliteName` as trokproc's own element-file reader
// matches it. A two-line set, without a name line, belongs to it when it
// carries the catalogue number of the satellite's named sets, or, when the
// file names none, when every set of the file carries one catalogue number.
// Sets whose check digits are wrong are left out. False with a reason when
// the file cannot be read.
bool ReadElementHistory(const std::string& path, const std::string& satelliteName,
                        ElementHistory& out, std::string& error);

// The set for data from firstTai93 to lastTai93: the latest epoch at or
// before the first packet, else the earliest after it; nullptr for an empty
// history. `ageDays` is the epoch's distance from the data span (0 inside it).
const ElementSet* ChooseElementSet(const ElementHistory& history, double firstTai93, double lastTai93,
                                   double& ageDays);

// The SHA-256 of "line1\nline2\n": the set's identity in the catalog.
std::string ElementSetSha256(const ElementSet& set);

// The element file of one set for trokproc: the satellite's name line and
// the two lines.
std::string ElementFileText(const std::string& satelliteName, const ElementSet& set);

} // namespace campaign

#endif
