#include "campaign_elements.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <tuple>

#include "orbitlib_class_noradelements.h"
#include "platform/file_reading.h"
#include "toolkit/hashing/sha256.h"
#include "vn_class_noradfile.h"
#include "vn_class_satpasses.h"

namespace campaign {

namespace {

std::string Trimmed(const std::string& line)
{
    std::string s = line;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    return s;
}

bool ElementLine(const std::string& line, char number)
{
    return line.size() >= 2 && line[0] == number && line[1] == ' ';
}

// The sets of the file, read a line at a time (a large history is never
// held whole): each pair of a line 1 and a line 2 with the line before it
// when that is a name line. A set whose name line names the satellite is
// its own, one with another name is not; a set without a name line waits
// until the whole file has been read. Lines shorter than a set's 69
// columns make no set (`malformed`).
class SetReader
{
public:
    SetReader(const std::string& searchName, ElementHistory& history) : search(searchName), out(history) {}
    void Take(const char* bytes, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            if (bytes[i] != '\n') {
                line += bytes[i];
                continue;
            }
            Line();
            line.clear();
        }
    }
    // The sets without a name line: the satellite's when they carry the
    // catalogue number of its named sets, or when the file names none of
    // its sets and carries one catalogue number only.
    void End()
    {
        if (!line.empty()) Line();
        for (ElementSet& s : unnamed) {
            if (named.count(s.catalog) || (named.empty() && catalogs.size() == 1)) Keep(std::move(s));
            else ++out.otherSatellites;
        }
        unnamed.clear();
    }

private:
    void Line()
    {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = Trimmed(line);
        if (t.empty()) return;
        if (ElementLine(t, '2') && pendingOne) {
            Add(std::move(t));
        } else if (ElementLine(line, '1')) {
            if (pendingOne) nameLine.clear();   // a line 1 without its line 2 names nothing
            one = std::move(t);
            pendingOne = true;
            return;
        } else {
            nameLine = ElementLine(line, '2') ? "" : line;
        }
        pendingOne = false;
    }
    void Add(std::string two)
    {
        pendingOne = false;
        const std::string name = std::move(nameLine);
        nameLine.clear();
        if (one.size() < 69 || two.size() < 69) {
            ++out.malformed;
            return;
        }
        ElementSet s;
        s.line1 = std::move(one);
        s.line2 = std::move(two);
        s.catalog = std::atol(s.line1.substr(2, 5).c_str());
        s.order = order++;
        catalogs.insert(s.catalog);
        std::string::size_type at = 0;
        if (name.empty()) {
            unnamed.push_back(std::move(s));
        } else if (NoradLineNames(name, search, at)) {
            named.insert(s.catalog);
            Keep(std::move(s));
        } else {
            ++out.otherSatellites;
        }
    }
    // A set of the satellite, with sound check digits: its epoch and number.
    void Keep(ElementSet s)
    {
        const noradelements parsed(s.line1, s.line2);
        // The library's operator! answers true when both check digits match.
        const bool checkDigitsMatch = !parsed;
        if (!checkDigitsMatch) {
            ++out.badCheckDigits;
            return;
        }
        s.epochTai93 = satpasses(parsed).EpochTimeTAI93();
        const std::string number = s.line1.substr(64, 4);
        s.setNumber = number.find_first_not_of(' ') == std::string::npos ? -1 : std::atoi(number.c_str());
        out.sets.push_back(std::move(s));
    }

    const std::string search;
    ElementHistory& out;
    std::vector<ElementSet> unnamed;
    std::set<long> named, catalogs;
    std::string line, one, nameLine;
    bool pendingOne = false;
    size_t order = 0;
};

} // namespace

bool ReadElementHistory(const std::string& path, const std::string& satelliteName,
                        ElementHistory& out, std::string& error)
{
    SetReader reader(NoradSearchName(satelliteName), out);
    if (!platform::ReadInSteps(path, 1 << 16, true, [&](const char* b, size_t n) { reader.Take(b, n); }, error))
        return false;
    reader.End();
    // Each set once (the first the file gives), by epoch, in the file's
    // order among sets of one epoch.
    auto sameLines = [](const ElementSet& a, const ElementSet& b) { return a.line1 == b.line1 && a.line2 == b.line2; };
    std::sort(out.sets.begin(), out.sets.end(), [](const ElementSet& a, const ElementSet& b) {
        return std::tie(a.line1, a.line2, a.order) < std::tie(b.line1, b.line2, b.order);
    });
    const auto end = std::unique(out.sets.begin(), out.sets.end(), sameLines);
    out.duplicates = static_cast<size_t>(out.sets.end() - end);
    out.sets.erase(end, out.sets.end());
    std::sort(out.sets.begin(), out.sets.end(), [](const ElementSet& a, const ElementSet& b) {
        return std::tie(a.epochTai93, a.order) < std::tie(b.epochTai93, b.order);
    });
    out.sets.shrink_to_fit();
    return true;
}

std::string ElementSetSha256(const ElementSet& set) { return toolkit::Sha256Hex(set.line1 + "\n" + set.line2 + "\n"); }

const ElementSet* ChooseElementSet(const ElementHistory& history, double firstTai93, double lastTai93,
                                   double& ageDays)
{
    ageDays = 0;
    const std::vector<ElementSet>& sets = history.sets;
    if (sets.empty()) return nullptr;
    // The first set whose epoch lies after the first packet.
    auto after = std::upper_bound(sets.begin(), sets.end(), firstTai93,
                                  [](double t, const ElementSet& s) { return t < s.epochTai93; });
    // The latest at or before it, else the earliest after it; of sets
    // sharing that epoch, the one the file gives last (sorted last among
    // them).
    auto at = after == sets.begin() ? std::upper_bound(sets.begin(), sets.end(), after->epochTai93,
                                                       [](double t, const ElementSet& s) { return t < s.epochTai93; })
                                    : after;
    const ElementSet* chosen = &*std::prev(at);
    if (chosen->epochTai93 < firstTai93) ageDays = (firstTai93 - chosen->epochTai93) / 86400.0;
    else if (chosen->epochTai93 > lastTai93) ageDays = (chosen->epochTai93 - lastTai93) / 86400.0;
    return chosen;
}

std::string ElementFileText(const std::string& satelliteName, const ElementSet& set)
{
    return NoradSearchName(satelliteName) + "\n" + set.line1 + "\n" + set.line2 + "\n";
}

} // namespace campaign
