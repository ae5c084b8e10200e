#ifndef TESTS_CAMPAIGN_RUNS_H
#define TESTS_CAMPAIGN_RUNS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "campaign_record.h"

// What the campaign tests share beyond the archive: the catalog's days, a
// digest of a folder tree, a run in the background, and a trokproc that
// kills the task that runs it.

std::map<std::string, campaign::DayRecord> CatalogDays(const std::string& campaignDir);

// Every entry under `dir` (not followed): its path from `dir`, type, owner,
// mode and bytes (a link: where it leads), as one text; "" when `dir`
// cannot be read. Two equal digests: nothing in the tree changed.
std::string TreeDigest(const std::string& dir);

// `argv` started with `env` added to the environment, standard input and
// output on /dev/null and standard error into `errPath`; its pid.
pid_t StartInBackground(const std::vector<std::string>& argv,
                        const std::vector<std::pair<std::string, std::string>>& env, const std::string& errPath);
// Waits for it: its exit status, 128 + the signal that ended it.
int Reap(pid_t pid);
// Polls `ready` for up to `seconds`.
bool WaitFor(const std::function<bool()>& ready, double seconds);

// A trokproc (written into `dir`) that answers --version as the real one
// and otherwise kills the task that runs it with SIGKILL: a task killed
// while it works on a day.
std::string TaskKillingTrokproc(const std::string& dir);

#endif
