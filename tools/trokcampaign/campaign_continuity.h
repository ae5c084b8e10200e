#ifndef CAMPAIGN_CONTINUITY_H
#define CAMPAIGN_CONTINUITY_H

#include <map>
#include <string>

#include "campaign_record.h"

// The checks between consecutive days of a campaign: that each day's data
// and orbit numbers continue from the day before.
namespace campaign {

// Largest time step between the last packet of one day and the first of the
// next that is still no hole (seconds): the long-gap threshold of a run.
constexpr double kHoleSeconds = 60.0;

// Fills `continuity` and `step_s` of every day from the day before it:
// "ok", or what breaks: a missing or failed day before, a hole or an
// overlap in time, orbit numbers that do not continue. `days` in order.
void CrossDayChecks(std::map<std::string, DayRecord>& days);

// The day's continuity is a break worth showing: neither ok nor the first day.
bool BreaksFromDayBefore(const DayRecord& row);

// The orbit numbers from one day into the next: "" when they continue, or
// the jump with the causes the numbering model has for it.
std::string OrbitContinuity(const DayRecord& before, const DayRecord& row);

} // namespace campaign

#endif
