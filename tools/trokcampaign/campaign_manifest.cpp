#include "campaign_manifest.h"

#include "campaign_fields.h"
#include "campaign_level0.h"
#include "platform/file_reading.h"
#include "toolkit/cli/json_writer.h"
#include "toolkit/hashing/sha256.h"

namespace campaign {

namespace {

void Inputs(toolkit::JsonWriter& j, const DayRecord& r, const RunSettings& s)
{
    j.Key("inputs").Object(true);
    j.Key("packet_file").Object().Key("path").String(r.packet_path.value_or("")).Key("size");
    if (r.packet_size) j.Int(*r.packet_size);
    else j.Null();
    j.Key("sha256").String(r.packet_sha256.value_or("")).End();
    j.Key("element_set").Object().Key("history").String(s.history);
    j.Key("name").String(r.element_name.value_or("")).Key("line1").String(r.element_line1.value_or(""));
    j.Key("line2").String(r.element_line2.value_or("")).Key("sha256").String(r.element_sha256.value_or(""));
    j.Key("epoch_utc").String(r.element_epoch_utc.value_or("")).Key("age_days");
    if (r.element_age_days) j.Fixed(*r.element_age_days, 4);
    else j.Null();
    j.End();
    std::string configText, error;
    platform::ReadWholeFile(s.config, configText, error);
    j.Key("configuration").Object().Key("path");
    if (s.configSource.empty()) j.Null();
    else j.String(s.configSource);
    j.Key("sha256").String(toolkit::Sha256Hex(configText)).Key("text").String(configText);
    j.Key("max_element_age_days").Fixed(s.maxElementAge, 6).End();
    j.End();
}

} // namespace

std::string ManifestText(const DayRecord& r, const RunSettings& s, const ManifestFacts& facts)
{
    toolkit::JsonWriter j;
    j.Object(true).Key("day").String(r.day).Key("outcome").String(r.OutcomeText());
    j.Key("reason").String(r.reason.value_or(""));
    Inputs(j, r, s);
    // A day of recorder dumps: its dumps, level, version and merge report.
    const std::string level0 = Level0NoteFor(s.campaign, r.packet_path.value_or(""));
    if (!level0.empty()) j.Key("level0").Raw(level0);
    j.Key("programs").Array();
    for (const std::string& v : Lines(s.versions)) j.String(v);
    j.End().Key("environment").Object();
    for (const auto& e : facts.environment) j.Key(e.first).String(e.second);
    j.End().Key("commands").Array(true);
    for (const std::string& c : facts.commands) j.String(c);
    j.End().Key("outputs").Object();
    for (const auto& o : facts.outputs) j.Key(o.first).String(o.second);
    j.End().End();
    return j.Text() + "\n";
}

} // namespace campaign
