#include "campaign_elements.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "campaign_fields.h"
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

} // namespace

bool ReadElementHistory(const std::string& path, const std::string& satelliteName,
                        ElementHistory& out, std::string& error)
{
    std::string text;
    if (!platform::ReadWholeFile(path, text, error)) return false;
    std::vector<std::string> lines;
    for (std::string line : Lines(text)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!Trimmed(line).empty()) lines.push_back(line);
    }

    // Every set of the file with the name line before it, if any.
    std::vector<ElementSet> all;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (!ElementLine(lines[i], '1') || !ElementLine(lines[i + 1], '2')) continue;
        ElementSet s;
        if (i > 0 && !ElementLine(lines[i - 1], '1') && !ElementLine(lines[i - 1], '2'))
            s.nameLine = lines[i - 1];
        s.line1 = Trimmed(lines[i]);
        s.line2 = Trimmed(lines[i + 1]);
        s.order = all.size();
        all.push_back(s);
        ++i;
    }

    const std::string searchName = NoradSearchName(satelliteName);
    std::set<long> named;
    std::set<long> catalogs;
    for (ElementSet& s : all) {
        s.catalog = std::atol(s.line1.substr(2, 5).c_str());
        catalogs.insert(s.catalog);
        std::string::size_type at = 0;
        if (!s.nameLine.empty() && NoradLineNames(s.nameLine, searchName, at)) named.insert(s.catalog);
    }

    std::set<std::string> seen;
    for (ElementSet& s : all) {
        std::string::size_type at = 0;
        bool ours;
        if (!s.nameLine.empty()) ours = NoradLineNames(s.nameLine, searchName, at);
        else ours = named.count(s.catalog) || (named.empty() && catalogs.size() == 1);
        if (!ours) {
            ++out.otherSatellites;
            continue;
        }
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
        const std::string number = s.line1.size() >= 68 ? s.line1.substr(64, 4) : "";
        s.setNumber = number.find_first_not_of(' ') == std::string::npos ? -1 : std::atoi(number.c_str());
        out.sets.push_back(s);
    }
    std::sort(out.sets.begin(), out.sets.end(), [](const ElementSet& a, const ElementSet& b) {
        if (a.epochTai93 != b.epochTai93) return a.epochTai93 < b.epochTai93;
        return a.order > b.order;
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
    const ElementSet* chosen;
    if (after == sets.begin()) {
        chosen = &*after;
    } else {
        // The latest at or before it: of sets sharing that epoch, the one
        // the file gives last (sorted first among them).
        auto at = std::prev(after);
        while (at != sets.begin() && std::prev(at)->epochTai93 == at->epochTai93) --at;
        chosen = &*at;
    }
    if (chosen->epochTai93 < firstTai93) ageDays = (firstTai93 - chosen->epochTai93) / 86400.0;
    else if (chosen->epochTai93 > lastTai93) ageDays = (chosen->epochTai93 - lastTai93) / 86400.0;
    return chosen;
}

std::string ElementFileText(const std::string& satelliteName, const ElementSet& set)
{
    return NoradSearchName(satelliteName) + "\n" + set.line1 + "\n" + set.line2 + "\n";
}

} // namespace campaign
