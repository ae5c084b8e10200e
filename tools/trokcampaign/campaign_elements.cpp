#include "campaign_elements.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

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

// A set as the file gives it, before it is known to be the satellite's.
struct Candidate {
    ElementSet set;
    bool named = false;     // it has a name line
    bool namesUs = false;   // which names the satellite
};

// The sets of the file, read a line at a time (a large history is never
// held whole): each pair of a line 1 and a line 2 with the line before it
// when that is a name line. Lines shorter than a set's 69 columns make no
// set (`malformed`).
class SetReader
{
public:
    SetReader(const std::string& searchName, std::vector<Candidate>& out, size_t& malformed)
        : search(searchName), sets(out), bad(malformed)
    {
    }
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
    void End()
    {
        if (!line.empty()) Line();
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
        if (one.size() < 69 || two.size() < 69) {
            ++bad;
            nameLine.clear();
            return;
        }
        Candidate c;
        std::string::size_type at = 0;
        c.named = !nameLine.empty();
        c.namesUs = c.named && NoradLineNames(nameLine, search, at);
        c.set.line1 = std::move(one);
        c.set.line2 = std::move(two);
        c.set.catalog = std::atol(c.set.line1.substr(2, 5).c_str());
        c.set.order = sets.size();
        sets.push_back(std::move(c));
        nameLine.clear();
    }

    const std::string& search;
    std::vector<Candidate>& sets;
    size_t& bad;
    std::string line, one, nameLine;
    bool pendingOne = false;
};

} // namespace

bool ReadElementHistory(const std::string& path, const std::string& satelliteName,
                        ElementHistory& out, std::string& error)
{
    const std::string searchName = NoradSearchName(satelliteName);
    std::vector<Candidate> all;
    SetReader reader(searchName, all, out.malformed);
    if (!platform::ReadInSteps(path, 1 << 16, true, [&](const char* b, size_t n) { reader.Take(b, n); }, error))
        return false;
    reader.End();

    std::set<long> named, catalogs;
    for (const Candidate& c : all) {
        catalogs.insert(c.set.catalog);
        if (c.namesUs) named.insert(c.set.catalog);
    }
    std::set<std::string> seen;
    for (Candidate& c : all) {
        const bool ours = c.named ? c.namesUs : named.count(c.set.catalog) || (named.empty() && catalogs.size() == 1);
        if (!ours) {
            ++out.otherSatellites;
            continue;
        }
        ElementSet& s = c.set;
        const noradelements parsed(s.line1, s.line2);
        // The library's operator! answers true when both check digits match.
        const bool checkDigitsMatch = !parsed;
        if (!checkDigitsMatch) {
            ++out.badCheckDigits;
            continue;
        }
        s.sha256 = toolkit::Sha256Hex(s.line1 + "\n" + s.line2 + "\n");
        if (!seen.insert(s.sha256).second) {
            ++out.duplicates;
            continue;
        }
        s.epochTai93 = satpasses(parsed).EpochTimeTAI93();
        const std::string number = s.line1.substr(64, 4);
        s.setNumber = number.find_first_not_of(' ') == std::string::npos ? -1 : std::atoi(number.c_str());
        out.sets.push_back(std::move(s));
    }
    std::sort(out.sets.begin(), out.sets.end(), [](const ElementSet& a, const ElementSet& b) {
        if (a.epochTai93 != b.epochTai93) return a.epochTai93 < b.epochTai93;
        return a.order < b.order;
    });
    return true;
}

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
