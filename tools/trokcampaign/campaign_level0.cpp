#include "campaign_level0.h"

#include <algorithm>
#include <map>

#include "campaign_dumps.h"
#include "platform/atomic_stream.h"
#include "platform/file_reading.h"
#include "toolkit/cli/json_writer.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"
#include "toolkit/packets/pktmerge.h"
#include "toolkit/time/utcday.h"

namespace campaign {

namespace {

// The merged packets kept in memory: one day of them.
class TextSink : public toolkit::MergeSink
{
public:
    void Write(const char* bytes, size_t n) override { text.append(bytes, n); }
    std::string text;
};

// level0/YYYY/MM of the day, made when missing.
bool MonthFolder(const CampaignFolder& folder, const std::string& day, platform::Folder& month, std::string& error)
{
    platform::Folder top, year;
    if (!folder.top.OpenSub("level0", top, error, true) || !top.OpenSub(day.substr(0, 4), year, error, true) ||
        !year.OpenSub(day.substr(5, 2), month, error, true))
        return false;
    RemoveStaleCopies(month);
    return true;
}

} // namespace

std::string Level0Path(const std::string& campaignDir, const std::string& day)
{
    return campaignDir + "/level0/" + day.substr(0, 4) + "/" + day.substr(5, 2) + "/" + day.substr(8, 2) + ".pkt";
}

bool MergeDayDumps(const CampaignFolder& folder, const std::string& day, const std::vector<const DumpRow*>& dumps,
                   DayLevel0& out, std::string& error)
{
    out = DayLevel0();
    out.path = Level0Path(folder.Path(), day);
    out.dumps = dumps;
    std::vector<std::string> paths;
    std::map<std::string, const DumpRow*> byPath;
    for (const DumpRow* d : dumps) {
        paths.push_back(folder.Path() + "/dumps/" + DumpFileName(d->sha256));
        byPath[paths.back()] = d;
    }
    toolkit::MergeReport report;
    report.layout = toolkit::CurrentLayout();
    toolkit::SurveyInputs(paths, report);
    // The day before first, where the dumps reach into it, for the packet
    // the day's merge continues from (as a merge of all days carries it).
    const toolkit::MergeDay number = toolkit::DayNumber(day);
    const std::vector<toolkit::MergeDay> touched = toolkit::MergeDays(report);
    toolkit::MergeCarry carry;
    if (std::find(touched.begin(), touched.end(), number - 1) != touched.end()) {
        TextSink before;
        if (!toolkit::MergeOneDay(number - 1, report, carry, before, error)) return false;
        report.conflicts.clear();
        report.dropped.clear();
        report.gaps.clear();
        report.days.clear();
        report.repeats = 0;
        report.packets = 0;
        for (auto& o : report.otherApids) o.second = 0;
        for (toolkit::MergeInput& in : report.inputs) in.used = 0;
    }
    TextSink sink;
    if (!toolkit::MergeOneDay(number, report, carry, sink, error)) return false;
    // The report names each dump as it arrived.
    for (toolkit::MergeInput& in : report.inputs) in.name = byPath.count(in.name) ? byPath[in.name]->name : in.name;
    for (const toolkit::MergeGap& g : report.gaps)
        out.gaps += (out.gaps.empty() ? "" : ";") + toolkit::FixedText(g.startTai93, 3) + "-" +
                    toolkit::FixedText(g.endTai93, 3);
    out.reportJson = toolkit::MergeJson(report);
    while (!out.reportJson.empty() && out.reportJson.back() == '\n') out.reportJson.pop_back();
    out.sha256 = toolkit::Sha256Hex(sink.text);
    platform::Folder month;
    if (!MonthFolder(folder, day, month, error)) return false;
    std::string have;
    uint64_t size = 0;
    const std::string name = day.substr(8, 2) + ".pkt";
    if (toolkit::Sha256File(month.PathOf(name), have, size, error) && have == out.sha256) return true;
    error.clear();
    if (platform::WriteFileAtomicallyAt(month.Fd(), name, sink.text, error, 0600)) return true;
    error = month.PathOf(name) + ": cannot write: " + error;
    return false;
}

bool WriteLevel0Note(const CampaignFolder& folder, const std::string& day, const std::string& level,
                     long long version, const DayLevel0& merged, std::string& error)
{
    toolkit::JsonWriter j;
    j.Object(true).Key("day").String(day).Key("level").String(level).Key("version").Int(version);
    j.Key("dumps").Array(true);
    for (const DumpRow* d : merged.dumps)
        j.Object().Key("name").String(d->name).Key("sha256").String(d->sha256).Key("arrived_utc").String(
            d->arrived_utc).End();
    j.End().Key("level0_sha256").String(merged.sha256).Key("merge").Raw(merged.reportJson).End();
    platform::Folder month;
    if (!MonthFolder(folder, day, month, error)) return false;
    const std::string name = day.substr(8, 2) + ".json";
    if (platform::WriteFileAtomicallyAt(month.Fd(), name, j.Text() + "\n", error, 0600)) return true;
    error = month.PathOf(name) + ": cannot write: " + error;
    return false;
}

std::string Level0NoteFor(const std::string& campaignDir, const std::string& packetPath)
{
    const std::string top = campaignDir + "/level0/";
    if (packetPath.compare(0, top.size(), top) != 0 || packetPath.size() < 4 ||
        packetPath.compare(packetPath.size() - 4, 4, ".pkt") != 0)
        return "";
    std::string text, error;
    if (!platform::ReadWholeFile(packetPath.substr(0, packetPath.size() - 4) + ".json", text, error)) return "";
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

} // namespace campaign
