// trokgen --dumps: a simulated day as the ground stations deliver it,
// checked against the clean day packet by packet.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "text_lines.h"

namespace {

const std::string kGen = TROKGEN_PATH;

// A packet as the header says: its offset, APID, bytes.
struct Pkt {
    size_t offset;
    unsigned apid;
    std::string bytes;
};

// The packets of a file, by their length fields, up to the first that does
// not fit.
std::vector<Pkt> Packets(const std::string& b)
{
    std::vector<Pkt> out;
    for (size_t o = 0; o + 6 <= b.size();) {
        const unsigned apid = (static_cast<unsigned char>(b[o]) & 7u) * 256u + static_cast<unsigned char>(b[o + 1]);
        const size_t len = static_cast<unsigned char>(b[o + 4]) * 256u + static_cast<unsigned char>(b[o + 5]) + 7u;
        if (o + len > b.size()) break;
        out.push_back({o, apid, b.substr(o, len)});
        o += len;
    }
    return out;
}

long Sequence(const std::string& p) { return (static_cast<unsigned char>(p[2]) & 0x3F) * 256 + static_cast<unsigned char>(p[3]); }

std::set<std::string> PktFiles(const std::string& dir)
{
    std::set<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.substr(n.size() - 4) == ".pkt") out.insert(n);
        }
        closedir(d);
    }
    return out;
}

} // namespace

// The dumps of a day: every contact's dump once in the arrival list, named
// by station and contact time, overlapping by minutes, one contact missed
// and covered by the next dump, one late, one resent; every packet the
// clean day's but for the faults listed, each where it is said to be.
TEST(TrokgenDumps, ADayOfContactsEachFaultWhereTheListSays)
{
    const std::string dir = FreshTestDir();
    const std::vector<std::string> day{kGen, "--out", "day.pkt", "--seconds", "86400", "--seed", "8", "--repeats", "2"};
    std::vector<std::string> withDumps = day;
    withDumps.insert(withDumps.end(), {"--dumps", "d"});
    const ProgramResult r = RunProgram(withDumps, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" dumps in d ("), std::string::npos) << r.out;
    const std::string clean = ReadFile(dir + "/day.pkt");
    ASSERT_EQ(RunProgram(day, dir).status, 0);
    EXPECT_TRUE(ReadFile(dir + "/day.pkt") == clean) << "the dumps changed the clean day";

    // The clean day's telemetry by its time tag.
    std::map<std::string, std::string> sent;
    for (const Pkt& p : Packets(clean))
        if (p.apid == 957) sent[p.bytes.substr(8, 6)] = p.bytes;

    std::multimap<std::string, std::vector<std::string>> faults;
    for (const std::string& line : Lines(ReadFile(dir + "/d/faults.txt"))) {
        std::vector<std::string> f = TabFields(line);
        const std::string kind = f[0];
        f.erase(f.begin());
        faults.emplace(kind, f);
    }
    const std::vector<std::string> arrival = Lines(ReadFile(dir + "/d/arrival.txt"));
    EXPECT_EQ(std::set<std::string>(arrival.begin(), arrival.end()), PktFiles(dir + "/d"));
    EXPECT_EQ(std::set<std::string>(arrival.begin(), arrival.end()).size(), arrival.size());

    // The contacts in time order: each holds what was recorded from a few
    // minutes before the one before ended; together the whole day.
    std::vector<std::vector<std::string>> contacts;
    for (auto it = faults.equal_range("contact").first; it != faults.equal_range("contact").second; ++it)
        contacts.push_back(it->second);
    ASSERT_GE(contacts.size(), 7u);
    ASSERT_LE(contacts.size(), 14u);
    EXPECT_EQ(contacts.front()[2], "0");
    EXPECT_EQ(contacts.back()[3], "86400");
    EXPECT_NE(contacts.back()[0].find("_20260602T"), std::string::npos) << contacts.back()[0];
    for (size_t k = 1; k < contacts.size(); ++k) {
        const long overlap = std::stol(contacts[k - 1][3]) - std::stol(contacts[k][2]);
        EXPECT_GE(overlap, 120) << contacts[k][0];
        EXPECT_LE(overlap, 420) << contacts[k][0];
        EXPECT_LT(contacts[k - 1][0].substr(contacts[k - 1][0].find('_')), contacts[k][0].substr(contacts[k][0].find('_')));
    }
    EXPECT_EQ(faults.count("missed"), 1u);
    EXPECT_EQ(contacts.size() + 1, arrival.size());   // and the resent copy

    const auto resent = faults.find("resent")->second;
    EXPECT_TRUE(ReadFile(dir + "/d/" + resent[0]) == ReadFile(dir + "/d/" + resent[1]));
    EXPECT_EQ(arrival.back(), resent[1]);
    const std::string late = faults.find("late")->second[0];
    const size_t lateAt = std::find(arrival.begin(), arrival.end(), late) - arrival.begin();
    size_t inOrder = 0;
    while (contacts[inOrder][0] != late) ++inOrder;
    EXPECT_EQ(arrival[lateAt - 1], contacts[inOrder + 1][0]);

    // Every telemetry packet of a dump is a clean one, up to the damage
    // (which a walk by the length fields cannot pass); each damaged copy
    // differs from the clean one in one byte: a bit of a position, a bit
    // of the time tag, the length field 4 bytes short.
    std::map<std::string, std::string> damaged;
    for (const char* kind : {"position", "time-tag", "length"}) {
        ASSERT_EQ(faults.count(kind), 1u) << kind;
        const auto f = faults.find(kind)->second;
        damaged[f[0] + "@" + f[1]] = kind;
        std::string copy = ReadFile(dir + "/d/" + f[0]).substr(std::stoul(f[1]), 126);
        std::string key = copy.substr(8, 6);
        if (std::string(kind) == "time-tag") key[3] ^= 0x08;
        ASSERT_EQ(sent.count(key), 1u) << kind;
        const std::string& original = sent[key];
        std::vector<size_t> differ;
        for (size_t i = 0; i < 126; ++i)
            if (copy[i] != original[i]) differ.push_back(i);
        ASSERT_EQ(differ.size(), 1u) << kind;
        const int bits = __builtin_popcount(static_cast<unsigned char>(copy[differ[0]] ^ original[differ[0]]));
        EXPECT_EQ(bits, 1) << kind;
        if (std::string(kind) == "position") {
            EXPECT_TRUE(differ[0] >= 14 && differ[0] < 32) << differ[0];
        } else if (std::string(kind) == "time-tag") {
            EXPECT_EQ(differ[0], 11u);
        } else {
            EXPECT_EQ(static_cast<unsigned char>(original[5] ^ copy[5]), 0x04);
        }
    }
    damaged[faults.find("splice")->second[0] + "@" + faults.find("splice")->second[1]] = "splice";
    size_t checked = 0;
    for (const std::vector<std::string>& c : contacts) {
        size_t station = 0;
        for (const Pkt& p : Packets(ReadFile(dir + "/d/" + c[0]))) {
            station += p.apid == 1011;
            if (p.apid != 957 || damaged.count(c[0] + "@" + std::to_string(p.offset))) continue;
            EXPECT_TRUE(sent.count(p.bytes.substr(8, 6)) && sent[p.bytes.substr(8, 6)] == p.bytes)
                << c[0] << " at " << p.offset;
            ++checked;
        }
        EXPECT_GE(station, 1u) << c[0];
    }
    EXPECT_GT(checked, 40000u);
    const auto splice = faults.find("splice")->second;
    const std::string spliced = ReadFile(dir + "/d/" + splice[0]);
    const size_t at = std::stoul(splice[1]);
    // The next transfer starts inside the cut packet, with a packet sent
    // earlier.
    const size_t next = spliced.find(spliced.substr(at, 2), at + 1);
    ASSERT_LT(next, at + 126);
    EXPECT_LT(Sequence(spliced.substr(next, 6)), Sequence(spliced.substr(at, 6)) + 1);
}

TEST(TrokgenDumps, SameArgumentsSameDumpsAndShortSpansAreRefused)
{
    const std::string dir = FreshTestDir();
    for (const char* folder : {"a", "b"})
        ASSERT_EQ(RunProgram({kGen, "--out", std::string(folder) + ".pkt", "--seconds", "7200", "--pelk", "--dumps", folder},
                             dir)
                      .status,
                  0);
    EXPECT_EQ(PktFiles(dir + "/a"), PktFiles(dir + "/b"));
    for (const std::string& name : PktFiles(dir + "/a"))
        EXPECT_TRUE(ReadFile(dir + "/a/" + name) == ReadFile(dir + "/b/" + name)) << name;
    EXPECT_EQ(ReadFile(dir + "/a/faults.txt"), ReadFile(dir + "/b/faults.txt"));
    EXPECT_GE(PktFiles(dir + "/a").size(), 5u);

    ProgramResult r = RunProgram({kGen, "--out", "c.pkt", "--seconds", "600", "--dumps", "c"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "trokgen: --dumps needs a span of an hour at least (--seconds 3600) (see trokgen --help)\n");
    r = RunProgram({kGen, "--out", "c.pkt", "--seconds", "3600", "--dumps", "c.pkt"}, dir);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "trokgen: dump folder \"c.pkt\" and packet file \"c.pkt\" are the same file\n");
}
