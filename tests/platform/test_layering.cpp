// The layers' arrows, read off the sources: no file includes a header of a
// layer above its own (docs/architecture.md).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

// The project's headers that the .h and .cpp files under `folder` (and its
// subfolders) include, as "file: header".
std::vector<std::string> Includes(const std::string& folder)
{
    std::vector<std::string> found;
    DIR* d = opendir((std::string(TROK_SOURCE_DIR) + "/" + folder).c_str());
    if (!d) return found;
    const std::regex include("^#include \"([^\"]+)\"");
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name[0] == '.') continue;
        const std::string rel = folder + "/" + name;
        if (e->d_type == DT_DIR) {
            for (const std::string& f : Includes(rel)) found.push_back(f);
            continue;
        }
        if (name.size() < 3 || (name.substr(name.size() - 2) != ".h" && name.substr(name.size() - 4) != ".cpp"))
            continue;
        std::ifstream in(std::string(TROK_SOURCE_DIR) + "/" + rel);
        std::string line;
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, include)) found.push_back(rel + ": " + m[1].str());
    }
    closedir(d);
    return found;
}

bool Names(const std::string& entry, const std::string& header)
{
    return entry.compare(entry.find(": ") + 2, header.size(), header) == 0;
}

TEST(Layering, IncludesPointDownOnly)
{
    for (const std::string& e : Includes("platform"))
        EXPECT_TRUE(Names(e, "platform/")) << e << ": the platform depends on nothing of the project";
    for (const std::string& e : Includes("algorithm"))
        EXPECT_FALSE(Names(e, "toolkit/") || Names(e, "campaign_")) << e << ": trokproc is below the tools";
    for (const std::string& e : Includes("tools/toolkit"))
        EXPECT_FALSE(Names(e, "campaign_") || Names(e, "pipeline/")) << e << ": the toolkit is below the tools";
    for (const std::string& e : Includes("tools/pipeline"))
        EXPECT_FALSE(Names(e, "campaign_")) << e << ": the day's pipeline is below the campaign";
    // The report and status are views of the catalog: they reach no engine,
    // and no engine reaches them.
    for (const std::string& e : Includes("tools/trokcampaign")) {
        const bool view = e.rfind("tools/trokcampaign/campaign_report.", 0) == 0 ||
                          e.rfind("tools/trokcampaign/campaign_status.", 0) == 0;
        const bool engine = e.rfind("tools/trokcampaign/campaign_slurm", 0) == 0 ||
                            e.rfind("tools/trokcampaign/campaign_local.", 0) == 0;
        for (const char* part : {"campaign_engine.h", "campaign_driver.h", "campaign_foldin.h", "campaign_slurm",
                                 "campaign_local.h"})
            EXPECT_FALSE(view && Names(e, part)) << e << ": a view reaches an engine";
        EXPECT_FALSE(engine && (Names(e, "campaign_report.h") || Names(e, "campaign_status.h")))
            << e << ": an engine reaches a view";
    }
    for (const std::string& e : Includes("pgsentry"))
        EXPECT_TRUE(Names(e, "vn_version.h")) << e << ": pgsentry shares no code";
}

} // namespace
