#include "campaign_continuity.h"

#include <cmath>
#include <vector>

#include "toolkit/time/utcday.h"
#include "orbitlib_class_noradelements.h"
#include "toolkit/cli/text.h"
#include "toolkit/numbering/orbitnumbers.h"

namespace campaign {

namespace {

bool HasProducts(const DayRecord& r) { return r.MadeProducts() && r.first_orbit && r.first_packet_tai93; }

// The numbering model's view of a day's element set.
toolkit::SetNumbering SetOf(const DayRecord& r)
{
    return toolkit::NumberingOfSet(noradelements(r.element_line1.value_or(""), r.element_line2.value_or("")).Get(), 0);
}

// What breaks between the day before and the day: time and orbit numbers.
std::string Breaks(const DayRecord& before, DayRecord& row)
{
    std::vector<std::string> breaks;
    const double step = *row.first_packet_tai93 - *before.last_packet_tai93;
    row.step_s = Rounded(step, 3);
    if (step <= 0) breaks.push_back("overlap of " + toolkit::FixedText(-step, 1) + " s with the day before");
    else if (step > kHoleSeconds) breaks.push_back("hole of " + toolkit::FixedText(step, 1) + " s after the day before");
    const std::string orbits = OrbitContinuity(before, row);
    if (!orbits.empty()) breaks.push_back(orbits);
    std::string text;
    for (const std::string& b : breaks) text += (text.empty() ? "" : "; ") + b;
    return text.empty() ? "ok" : text;
}

// Which revolution the day's first orbit is, from what was observed: the
// revolutions from the day before's last ascending crossing to this day's
// first one; the first orbit is the one before that crossing. Without
// crossings on both sides, from the predicted nodes: the same revolution
// goes on (nodes less than half a revolution apart) or the next begins. -1
// when neither tells.
long long DueOrbit(const DayRecord& before, const DayRecord& row, double period, long long last)
{
    if (period > 0 && row.first_crossing_tai93 && before.last_crossing_tai93) {
        const double turns = (*row.first_crossing_tai93 - *before.last_crossing_tai93) / period;
        return last + std::llround(turns) - 1;
    }
    if (period > 0) {
        const double nodeStep = row.first_node_tai93.value_or(0) - before.last_node_tai93.value_or(0);
        if (std::fabs(nodeStep) < period / 2) return last;
        if (std::fabs(nodeStep - period) < period / 2) return last + 1;
    }
    return -1;
}

// The causes the numbering model has for a jump of `jump` revolutions, each
// worth one.
std::vector<std::string> Causes(const toolkit::SetNumbering& setBefore, const toolkit::SetNumbering& setToday,
                                long long firstNumbering, long long lastNumbering, long long jump)
{
    std::vector<std::string> causes;
    const bool highToday = setToday.CountsHigh(), highBefore = setBefore.CountsHigh();
    if (highToday && !highBefore)
        causes.push_back("this day's element set has omega + M of " + toolkit::FixedText(setToday.ArgpPlusMeanDeg(), 4) +
                         " degrees, 360 or more, the day before's not: it counts from a node a revolution earlier, "
                         "so its orbit numbers run one higher");
    if (highBefore && !highToday)
        causes.push_back("the day before's element set has omega + M of " +
                         toolkit::FixedText(setBefore.ArgpPlusMeanDeg(), 4) +
                         " degrees, 360 or more, this day's not: its orbit numbers ran one higher");
    // The first orbit takes the whole revolutions from the set's node to
    // its first record: a first record past the predicted node of a
    // revolution whose crossing is still to come (or, before the set's
    // node, counted toward zero) gives it the next number.
    if (firstNumbering != 0)
        causes.push_back(std::string("this day's first orbit, under way when its data begin, carries the ") +
                         (firstNumbering > 0 ? "next" : "previous") + " revolution's number");
    if (lastNumbering < 0)
        causes.push_back("the day before's last orbit carries the previous revolution's number: its ascending "
                         "crossing came before its predicted node");
    else if (lastNumbering > 0)
        causes.push_back("the day before's last orbit carries the next revolution's number: its ascending crossing "
                         "came after its predicted node, before its element set's epoch");
    const long long rest = jump - ((highToday ? 1 : 0) - (highBefore ? 1 : 0) + firstNumbering - lastNumbering);
    if (rest != 0)
        causes.push_back("the two element sets' revolution numbers differ by " + std::to_string(rest) +
                         " from the revolutions between them");
    return causes;
}

} // namespace

bool BreaksFromDayBefore(const DayRecord& row)
{
    return Filled(row.continuity) && *row.continuity != "ok" && *row.continuity != "first day";
}

void CrossDayChecks(std::map<std::string, DayRecord>& days)
{
    const DayRecord* prev = nullptr;
    long prevNumber = 0;
    for (auto& kv : days) {
        DayRecord& row = kv.second;
        const long number = toolkit::DayNumber(kv.first);
        const DayRecord* before = prev && prevNumber == number - 1 ? prev : nullptr;
        prev = &row;
        prevNumber = number;
        row.step_s.reset();
        if (!HasProducts(row)) {
            row.continuity.reset();
        } else if (!before) {
            row.continuity = "first day";
        } else if (!before->MadeProducts() || !before->last_orbit || !before->last_packet_tai93) {
            row.continuity = "the day before is " + before->OutcomeText();
        } else {
            row.continuity = Breaks(*before, row);
        }
    }
}

std::string OrbitContinuity(const DayRecord& before, const DayRecord& row)
{
    const toolkit::SetNumbering setBefore = SetOf(before), setToday = SetOf(row);
    const long long last = before.last_orbit.value_or(0);
    const long long first = row.first_orbit.value_or(0);
    const long long expected = DueOrbit(before, row, setToday.periodSeconds, last);
    if (expected < 0)
        return first == last || first == last + 1 ? std::string()
                                                   : "orbit numbers jump from " + std::to_string(last) + " to " +
                                                         std::to_string(first);
    if (first == expected) return "";
    const std::vector<std::string> causes = Causes(setBefore, setToday, row.first_orbit_numbering.value_or(0),
                                                   before.last_orbit_numbering.value_or(0), first - expected);
    std::string text = "orbit numbers jump: the day before ends with orbit " + std::to_string(last) +
                       ", this day starts with orbit " + std::to_string(first) + " where " + std::to_string(expected) +
                       " was due";
    for (size_t i = 0; i < causes.size(); ++i) text += (i ? ", and " : " (") + causes[i];
    return causes.empty() ? text : text + ")";
}

} // namespace campaign
