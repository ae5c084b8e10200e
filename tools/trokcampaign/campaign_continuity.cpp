#include "campaign_continuity.h"

#include <cmath>
#include <vector>

#include "campaign_days.h"
#include "campaign_elements.h"
#include "toolkit/cli/text.h"

namespace campaign {

void CrossDayChecks(std::map<std::string, DayRow>& days)
{
    const DayRow* prev = nullptr;
    long prevNumber = 0;
    for (auto& kv : days) {
        DayRow& row = kv.second;
        const long number = DayNumber(kv.first);
        const DayRow* before = prev && prevNumber == number - 1 ? prev : nullptr;
        prev = &row;
        prevNumber = number;
        const bool products = row.Has(C_first_orbit) && row.Has(C_first_packet_tai93) &&
                              (row.Get(C_outcome) == "ok" || row.Get(C_outcome) == "check-failed");
        row.Clear(C_step_s);
        if (!products) {
            row.Clear(C_continuity);
            continue;
        }
        if (!before) {
            row.Set(C_continuity, "first day");
            continue;
        }
        const bool beforeProducts = before->Has(C_last_orbit) && before->Has(C_last_packet_tai93) &&
                                    (before->Get(C_outcome) == "ok" || before->Get(C_outcome) == "check-failed");
        if (!beforeProducts) {
            row.Set(C_continuity, "the day before is " + before->Get(C_outcome));
            continue;
        }
        std::vector<std::string> breaks;
        const double step = row.Num(C_first_packet_tai93) - before->Num(C_last_packet_tai93);
        row.SetNum(C_step_s, step, 3);
        if (step <= 0) breaks.push_back("overlap of " + toolkit::FixedText(-step, 1) + " s with the day before");
        else if (step > kHoleSeconds)
            breaks.push_back("hole of " + toolkit::FixedText(step, 1) + " s after the day before");
        const std::string orbits = OrbitContinuity(*before, row);
        if (!orbits.empty()) breaks.push_back(orbits);
        std::string text;
        for (const std::string& b : breaks) text += (text.empty() ? "" : "; ") + b;
        row.Set(C_continuity, text.empty() ? "ok" : text);
    }
}

std::string OrbitContinuity(const DayRow& before, const DayRow& row)
{
    ElementSet setBefore, setToday;
    setBefore.line1 = before.Get(C_element_line1);
    setBefore.line2 = before.Get(C_element_line2);
    setToday.line1 = row.Get(C_element_line1);
    setToday.line2 = row.Get(C_element_line2);
    SetNumberingValues(setBefore);
    SetNumberingValues(setToday);
    const double period = setToday.periodSeconds;
    const long long last = static_cast<long long>(before.Num(C_last_orbit));
    const long long first = static_cast<long long>(row.Num(C_first_orbit));
    // Which revolution the day's first orbit is, from what was observed: the
    // revolutions from the day before's last ascending crossing to this day's
    // first one; the first orbit is the one before that crossing. Without
    // crossings on both sides, from the predicted nodes: the same revolution
    // goes on (nodes less than half a revolution apart) or the next begins.
    long long expected = -1;
    if (period > 0 && row.Has(C_first_crossing_tai93) && before.Has(C_last_crossing_tai93)) {
        const double turns = (row.Num(C_first_crossing_tai93) - before.Num(C_last_crossing_tai93)) / period;
        expected = last + std::llround(turns) - 1;
    } else if (period > 0) {
        const double nodeStep = row.Num(C_first_node_tai93) - before.Num(C_last_node_tai93);
        if (std::fabs(nodeStep) < period / 2) expected = last;
        else if (std::fabs(nodeStep - period) < period / 2) expected = last + 1;
    }
    if (expected < 0)
        return first == last || first == last + 1 ? std::string()
                                                   : "orbit numbers jump from " + std::to_string(last) + " to " +
                                                         std::to_string(first);
    if (first == expected) return "";

    // The causes the numbering model has for it, each worth one revolution.
    std::vector<std::string> causes;
    const bool highToday = setToday.omegaPlusMeanDeg >= 360, highBefore = setBefore.omegaPlusMeanDeg >= 360;
    if (highToday && !highBefore)
        causes.push_back("this day's element set has omega + M of " + toolkit::FixedText(setToday.omegaPlusMeanDeg, 4) +
                         " degrees, 360 or more, the day before's not: it counts from a node a revolution earlier, "
                         "so its orbit numbers run one higher");
    if (highBefore && !highToday)
        causes.push_back("the day before's element set has omega + M of " +
                         toolkit::FixedText(setBefore.omegaPlusMeanDeg, 4) +
                         " degrees, 360 or more, this day's not: its orbit numbers ran one higher");
    const long long firstNumbering = row.Has(C_first_orbit_numbering) ? std::llround(row.Num(C_first_orbit_numbering)) : 0;
    const long long lastNumbering = before.Has(C_last_orbit_numbering) ? std::llround(before.Num(C_last_orbit_numbering)) : 0;
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
    const long long rest = (first - expected) - ((highToday ? 1 : 0) - (highBefore ? 1 : 0) + firstNumbering - lastNumbering);
    if (rest != 0)
        causes.push_back("the two element sets' revolution numbers differ by " + std::to_string(rest) +
                         " from the revolutions between them");
    std::string text = "orbit numbers jump: the day before ends with orbit " + std::to_string(last) +
                       ", this day starts with orbit " + std::to_string(first) + " where " + std::to_string(expected) +
                       " was due";
    for (size_t i = 0; i < causes.size(); ++i) text += (i ? ", and " : " (") + causes[i];
    return causes.empty() ? text : text + ")";
}

} // namespace campaign
