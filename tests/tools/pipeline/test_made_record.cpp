// The record of what made a job's products: read back as written, and a
// file known again by its signature or, once touched, by its content.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pipeline/made_record.h"
#include "run_program.h"

namespace {

TEST(MadeRecord, ReadsBackAndKnowsAFileByItsContent)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/day\tone.pkt", "packets");
    WriteFile(dir + "/day.tle", "sets");
    pipeline::MadeRecord record;
    record.madeBy = "trokday 1.1.0";
    record.programs = "trokproc 1.1.0\nqlrdump 1.1.0\n";
    for (const auto& f : {std::make_pair("packet", dir + "/day\tone.pkt"), std::make_pair("elements", dir + "/day.tle")}) {
        pipeline::MadeFile file;
        ASSERT_TRUE(pipeline::Identify(f.first, f.second, file));
        record.files.push_back(file);
    }
    WriteFile(dir + "/day.made", pipeline::MadeRecordText(record));
    pipeline::MadeRecord back;
    ASSERT_TRUE(pipeline::ReadMadeRecord(dir + "/day.made", back));
    EXPECT_EQ(pipeline::MadeRecordText(back), pipeline::MadeRecordText(record));
    EXPECT_EQ(back.programs, record.programs);
    ASSERT_NE(back.Find("packet"), nullptr);
    EXPECT_EQ(back.Find("packet")->path, dir + "/day\tone.pkt");

    const std::vector<std::pair<std::string, std::string>> files = {{"packet", dir + "/day\tone.pkt"},
                                                                    {"elements", dir + "/day.tle"}};
    bool changed = true;
    EXPECT_TRUE(pipeline::SameFiles(back, files, changed));
    EXPECT_FALSE(changed);
    WriteFile(dir + "/day.tle", "sets");   // the same bytes anew: a new signature
    EXPECT_TRUE(pipeline::SameFiles(back, files, changed));
    EXPECT_TRUE(changed);
    EXPECT_NE(back.Find("elements")->signature, record.files[1].signature);
    // The same content elsewhere is the same input; other content is not.
    WriteFile(dir + "/copy.tle", "sets");
    EXPECT_TRUE(pipeline::SameFiles(back, {{"elements", dir + "/copy.tle"}}, changed));
    WriteFile(dir + "/day.tle", "sets, and a later one");
    EXPECT_FALSE(pipeline::SameFiles(back, files, changed));
    EXPECT_FALSE(pipeline::SameFiles(back, {{"config", "/dev/null"}}, changed)) << "a role it does not hold";

    for (const char* bad : {"", "made-by\ttrokday\nnot a line\n", "programs\tx\n", "made-by\ttrokday"}) {
        WriteFile(dir + "/bad.made", bad);
        EXPECT_FALSE(pipeline::ReadMadeRecord(dir + "/bad.made", back)) << bad;
    }
}

} // namespace
