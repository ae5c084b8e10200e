#include "campaign_run_plan.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "platform/file_reading.h"
#include "toolkit/cli/tab_fields.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

// A setting by its name in the plan, as text both ways.
struct Setting {
    const char* name;
    std::function<std::string(const RunSettings&)> get;
    std::function<void(RunSettings&, const std::string&)> set;
};

Setting Of(const char* name, std::string RunSettings::*field)
{
    return {name, [field](const RunSettings& s) { return s.*field; },
            [field](RunSettings& s, const std::string& v) { s.*field = v; }};
}

Setting Yes(const char* name, bool RunSettings::*field)
{
    return {name, [field](const RunSettings& s) { return std::string(s.*field ? "yes" : "no"); },
            [field](RunSettings& s, const std::string& v) { s.*field = v == "yes"; }};
}

// The settings in the order the plan lists them.
const std::vector<Setting>& Settings()
{
    static const std::vector<Setting> settings = {
        Of("campaign", &RunSettings::campaign),
        Of("config", &RunSettings::config),
        Of("config_sha256", &RunSettings::configSha256),
        Of("config_source", &RunSettings::configSource),
        {"days_per_task", [](const RunSettings& s) { return std::to_string(s.daysPerTask); },
         [](RunSettings& s, const std::string& v) { s.daysPerTask = std::max(1, std::atoi(v.c_str())); }},
        Of("elements", &RunSettings::elements),
        Of("engine", &RunSettings::engine),
        Yes("exports", &RunSettings::exports),
        Of("history", &RunSettings::history),
        {"max_element_age", [](const RunSettings& s) { return s.MaxElementAgeText(); },
         [](RunSettings& s, const std::string& v) { s.maxElementAge = std::atof(v.c_str()); }},
        Yes("plots", &RunSettings::plots),
        Of("qlrdump", &RunSettings::qlrdump),
        Of("qlrplot", &RunSettings::qlrplot),
        {"run_id", [](const RunSettings& s) { return std::to_string(s.runId); },
         [](RunSettings& s, const std::string& v) { s.runId = std::atoll(v.c_str()); }},
        Of("run_token", &RunSettings::runToken),
        Of("satellite", &RunSettings::satellite),
        Of("trokproc", &RunSettings::trokproc),
        Of("versions", &RunSettings::versions),
        Of("versions_sha256", &RunSettings::versionsSha256),
    };
    return settings;
}

} // namespace

std::string RunSettings::MaxElementAgeText() const { return toolkit::FixedText(maxElementAge, 6); }

std::string PlanPath(const std::string& campaign) { return campaign + "/run/plan.tsv"; }

std::string PlanText(const RunPlan& plan)
{
    std::string text;
    for (const Setting& s : Settings())
        text += std::string(s.name) + "\t" + toolkit::TabField(s.get(plan.settings)) + "\n";
    for (const auto& d : plan.days) text += "day\t" + toolkit::TabField(d.first) + "\t" + toolkit::TabField(d.second) + "\n";
    return text;
}

bool ParsePlan(const std::string& text, RunPlan& plan)
{
    for (size_t a = 0; a < text.size();) {
        const size_t b = text.find('\n', a);
        if (b == std::string::npos) return false;   // cut short
        const std::vector<std::string> f = toolkit::TabFields(text.substr(a, b - a));
        a = b + 1;
        if (f.size() == 3 && f[0] == "day") {
            plan.days.emplace_back(f[1], f[2]);
            continue;
        }
        if (f.size() != 2) return false;
        for (const Setting& s : Settings())
            if (f[0] == s.name) s.set(plan.settings, f[1]);
    }
    return true;
}

bool ReadPlan(const std::string& campaign, RunPlan& plan, std::string& error)
{
    std::string text;
    plan = RunPlan();
    error.clear();
    return platform::ReadOwnFile(PlanPath(campaign), text, error) && ParsePlan(text, plan);
}

} // namespace campaign
