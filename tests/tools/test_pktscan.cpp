// pktscan against the real trokproc: for each kind of damage, the verdict
// pktscan gives is what trokproc does with the same file, the offsets it
// names are where the damage was put, and the salvaged copy goes through
// trokproc with every undamaged packet.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"

using namespace toolkit;

namespace {

const std::string kTrok = TROKPROC_PATH;
const std::string kScan = PKTSCAN_PATH;
const std::string kGen = TROKGEN_PATH;
// Bytes from a fixed linear congruential sequence.
std::string Garbage(size_t n, uint32_t seed, int firstByte = -1)
{
    std::string g(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        g[i] = static_cast<char>(seed >> 24);
    }
    if (firstByte >= 0 && n) g[0] = static_cast<char>(firstByte);
    return g;
}

// A value of the verdict object of pktscan --json ("" when absent).
std::string VerdictField(const std::string& json, const std::string& key)
{
    const size_t v = json.find("\"verdict\":{");
    if (v == std::string::npos) return "";
    const size_t k = json.find("\"" + key + "\":", v);
    if (k == std::string::npos) return "";
    size_t start = k + key.size() + 3;
    size_t end = start;
    if (json[start] == '"') end = json.find('"', ++start);
    else end = json.find_first_of(",}", start);
    return json.substr(start, end - start);
}

struct Both {
    std::string dir;
    ProgramResult trok, scan;
};

// Runs trokproc and pktscan --json on the same packet file.
Both RunBoth(const std::string& bytes, bool pelk = false)
{
    Both b;
    b.dir = FreshTestDir();
    WriteFile(b.dir + "/in.pkt", bytes);
    std::string cfg = kNoElementsConfig;
    if (pelk) cfg += "-noradsatname PELK\n";
    WriteFile(b.dir + "/configfile", cfg);
    b.trok = RunProgram({kTrok}, b.dir);
    std::vector<std::string> args{kScan, "--json", "in.pkt"};
    if (pelk) args.insert(args.begin() + 1, "--pelk");
    b.scan = RunProgram(args, b.dir);
    return b;
}

// pktscan's verdict is trokproc's outcome: acceptance, or the first line of
// its message.
void ExpectAgreement(const Both& b)
{
    EXPECT_EQ(b.trok.signal, 0);
    EXPECT_EQ(b.scan.signal, 0);
    EXPECT_EQ(b.scan.err, "");
    if (b.trok.status == 0) {
        EXPECT_EQ(b.scan.status, 0) << b.scan.out;
        EXPECT_EQ(VerdictField(b.scan.out, "accepted"), "true");
    } else {
        EXPECT_EQ(b.trok.status, 255);
        EXPECT_EQ(b.scan.status, 1) << b.scan.out;
        const std::string message = VerdictField(b.scan.out, "message");
        ASSERT_FALSE(message.empty()) << b.scan.out;
        EXPECT_EQ(b.trok.err.rfind("\n" + message, 0), 0u) << b.trok.err << "\n" << b.scan.out;
    }
}

// Salvages in.pkt to s.pkt and runs trokproc on the copy; returns the
// number of records trokproc wrote.
uint32_t SalvageAndRun(const Both& b, bool pelk = false)
{
    std::vector<std::string> args{kScan, "--salvage", "s.pkt", "in.pkt"};
    if (pelk) args.insert(args.begin() + 1, "--pelk");
    const ProgramResult s = RunProgram(args, b.dir);
    EXPECT_EQ(s.status, 0) << s.err;
    std::vector<std::string> trok{kTrok, "-packetfile", "s.pkt"};
    const ProgramResult r = RunProgram(trok, b.dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string eph = ReadFile(b.dir + "/out.eph");
    if (eph.size() < 140) return 0;
    return (static_cast<uint32_t>(static_cast<unsigned char>(eph[136])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(eph[137])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(eph[138])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(eph[139]));
}

// Packets of the APID in a salvaged copy, counted by its headers.
size_t CountPackets(const std::string& bytes, unsigned apid)
{
    size_t n = 0;
    for (size_t o = 0; o + 6 <= bytes.size();) {
        const unsigned a = (static_cast<unsigned char>(bytes[o]) & 7u) * 256u + static_cast<unsigned char>(bytes[o + 1]);
        const size_t len = static_cast<unsigned char>(bytes[o + 4]) * 256u + static_cast<unsigned char>(bytes[o + 5]) + 7u;
        n += a == apid;
        o += len;
    }
    return n;
}

} // namespace

TEST(Pktscan, CleanFilesAreAcceptedAndSalvageToIdenticalCopies)
{
    PacketFileBuilder mixed = Steady(0, 6);
    mixed.AddOther(1010, 40).AddRepeat();   // another APID, and it sent twice
    for (uint32_t k = 6; k < 12; ++k) mixed.AddTelemetry(Sample(kCoarse0 + k));
    mixed.AddRepeat();                      // a repeat of the APID, dropped by trokproc
    for (uint32_t k = 40; k < 44; ++k) mixed.AddTelemetry(Sample(kCoarse0 + k));   // a gap
    const Both b = RunBoth(mixed.Bytes());
    ExpectAgreement(b);
    EXPECT_EQ(VerdictField(b.scan.out, "packets"), "16");
    // 16 packets and 28 points filling the 29 s gap (ceil(29 - 1.1)).
    EXPECT_EQ(VerdictField(b.scan.out, "records"), "44");
    EXPECT_NE(b.scan.out.find("\"repeats\":{\"count\":1,\"first\":[" + std::to_string(12 * 126 + 80) + "]}"),
              std::string::npos) << b.scan.out;
    EXPECT_NE(b.scan.out.find("{\"apid\":1010,\"packets\":2,\"lengths\":[40]"), std::string::npos);
    EXPECT_EQ(SalvageAndRun(b), 44u);
    EXPECT_EQ(ReadFile(b.dir + "/s.pkt"), mixed.Bytes());

    // The other spacecraft's layout, with and without --pelk.
    const std::string pelk = Steady(0, 5, 214, 967).Bytes();
    const Both p = RunBoth(pelk, true);
    ExpectAgreement(p);
    EXPECT_EQ(VerdictField(p.scan.out, "records"), "5");
    EXPECT_EQ(SalvageAndRun(p, true), 5u);
    EXPECT_EQ(ReadFile(p.dir + "/s.pkt"), pelk);
    const Both wrongLayout = RunBoth(pelk, false);
    ExpectAgreement(wrongLayout);
    EXPECT_EQ(VerdictField(wrongLayout.scan.out, "rule"), "too-few-packets");
}

TEST(Pktscan, EachDamageGetsTrokprocsVerdictItsOffsetAndASalvage)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::string rule;
        uint64_t offset;        // of the packet the verdict names
        uint32_t keptRecords;   // trokproc's records from the salvaged copy
    };
    // Where trokproc's scan loses step depends on the bytes it lands on.
    const uint64_t kAnyOffset = ~0ull;
    std::vector<Case> cases;

    PacketFileBuilder backwards;
    for (uint32_t t : {0u, 1u, 2u, 3u, 4u}) backwards.AddTelemetry(Sample(kCoarse0 + t));
    backwards.AddTelemetry(Sample(kCoarse0 + 3, 30000));   // 3.456 s, after 4 s
    for (uint32_t t : {6u, 7u, 8u}) backwards.AddTelemetry(Sample(kCoarse0 + t));
    // The packet out of order is dropped; 4 s to 6 s is then filled with one point.
    cases.push_back({"time fault", backwards.Bytes(), "time-order", 5 * 126, 9});

    // A time tag that jumps ahead: trokproc stops at the packet after it;
    // the salvage drops the jumping one, whose time disagrees with its
    // sequence count, and fills its second.
    PacketFileBuilder ahead;
    for (uint32_t t : {0u, 1u, 2u, 3u, 1000u, 5u, 6u, 7u, 8u}) ahead.AddTelemetry(Sample(kCoarse0 + t));
    cases.push_back({"time jumping ahead", ahead.Bytes(), "time-order", 5 * 126, 9});
    // Sent twice: both copies go.
    PacketFileBuilder aheadTwice;
    for (uint32_t t : {0u, 1u, 2u, 3u, 1000u}) aheadTwice.AddTelemetry(Sample(kCoarse0 + t));
    aheadTwice.AddRepeat().AddOther(1010, 40);
    for (uint32_t t : {5u, 6u, 7u, 8u}) aheadTwice.AddTelemetry(Sample(kCoarse0 + t));
    cases.push_back({"time jumping ahead, repeated", aheadTwice.Bytes(), "time-order", 6 * 126 + 40, 9});

    cases.push_back({"cut tail", Steady(0, 8).CutShort(30).Bytes(), "end-packet-unreadable", 7 * 126, 7});

    // An inner packet of the APID that is too short: the scan stays in step,
    // trokproc stops when it reaches it.
    // Its time (3.456 s) is in order, so the read is what stops trokproc.
    HeaderOverrides shortField;
    shortField.lengthField = 39;
    const std::string shortPacket =
        TelemetryPacket(Sample(kCoarse0 + 3, 30000), 126, 957, 100, shortField).substr(0, 46);
    PacketFileBuilder shortInner = Steady(0, 4);
    shortInner.AddRaw(shortPacket);
    for (uint32_t k = 4; k < 8; ++k) shortInner.AddTelemetry(Sample(kCoarse0 + k));
    cases.push_back({"short inner packet", shortInner.Bytes(), "read-error", 4 * 126, 8});
    // The same packet out of order is first of all a time fault.
    PacketFileBuilder shortLate = Steady(0, 5);
    shortLate.AddRaw(shortPacket);
    for (uint32_t k = 5; k < 8; ++k) shortLate.AddTelemetry(Sample(kCoarse0 + k));
    cases.push_back({"short inner packet out of order", shortLate.Bytes(), "time-order", 5 * 126, 8});

    // The same as the first packet.
    PacketFileBuilder shortFirst;
    shortFirst.AddRaw(shortPacket);
    for (uint32_t k = 4; k < 9; ++k) shortFirst.AddTelemetry(Sample(kCoarse0 + k));
    cases.push_back({"short first packet", shortFirst.Bytes(), "end-packet-unreadable", 0, 5});

    // A length field that puts the scan out of step: it walks on through the
    // data and ends on a packet it cannot read.
    PacketFileBuilder longField = Steady(0, 3);
    HeaderOverrides longer;
    longer.lengthField = 0x90;
    longField.AddTelemetry(Sample(kCoarse0 + 3), 3, longer);
    for (uint32_t k = 4; k < 8; ++k) longField.AddTelemetry(Sample(kCoarse0 + k));
    // The packet itself is lost; its second is filled.
    cases.push_back({"long length field", longField.Bytes(), "end-packet-unreadable", kAnyOffset, 8});

    HeaderOverrides version;
    version.version = 3;
    PacketFileBuilder badVersion = Steady(0, 3);
    badVersion.AddTelemetry(Sample(kCoarse0 + 3), 3, version);
    for (uint32_t k = 4; k < 8; ++k) badVersion.AddTelemetry(Sample(kCoarse0 + k));
    cases.push_back({"version 3", badVersion.Bytes(), "scan-stops", 3 * 126, 8});

    cases.push_back({"garbage prefix", Garbage(300, 7, 0xA7) + Steady(0, 8).Bytes(), "scan-stops", 0, 8});

    PacketFileBuilder between = Steady(0, 4);
    between.AddRaw(Garbage(200, 11, 0xE1));
    for (uint32_t k = 4; k < 8; ++k) between.AddTelemetry(Sample(kCoarse0 + k));
    cases.push_back({"garbage between packets", between.Bytes(), "scan-stops", 4 * 126, 8});

    cases.push_back({"garbage at the end", Steady(0, 8).Bytes() + Garbage(50, 3, 0xFF), "scan-stops",
                     8 * 126, 8});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Both b = RunBoth(c.bytes);
        ExpectAgreement(b);
        EXPECT_EQ(VerdictField(b.scan.out, "rule"), c.rule);
        if (c.offset != kAnyOffset) {
            EXPECT_EQ(VerdictField(b.scan.out, "offset"), std::to_string(c.offset));
        }
        EXPECT_EQ(SalvageAndRun(b), c.keptRecords);
    }
}

TEST(Pktscan, ReportNamesTheDamageWhereItWasPut)
{
    PacketFileBuilder file = Steady(0, 4);
    file.AddRaw(Garbage(200, 11, 0xE1));
    for (uint32_t k = 4; k < 8; ++k) file.AddTelemetry(Sample(kCoarse0 + k));
    HeaderOverrides longer;
    longer.lengthField = 0x90;
    file.AddTelemetry(Sample(kCoarse0 + 8), 8, longer);
    for (uint32_t k = 9; k < 12; ++k) file.AddTelemetry(Sample(kCoarse0 + k));
    file.CutShort(100);
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/in.pkt", file.Bytes());
    const ProgramResult r = RunProgram({kScan, "in.pkt"}, dir);
    EXPECT_EQ(r.status, 1);
    const uint64_t garbageAt = 4 * 126, longAt = 8 * 126 + 200, cutAt = 11 * 126 + 200;
    // TAI-UTC was 37 s then.
    EXPECT_NE(r.out.find("first 2024-01-02T00:00:00.000 TAI = 2024-01-01T23:59:23.000 UTC (offset 0)"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("bytes that are not packets: 200 in 1 stretch (bytes at offset: 200 at " +
                         std::to_string(garbageAt) + ")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("APID 957 with another length field: 1 (at " + std::to_string(longAt) + ")"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cut-off last packet at offset " + std::to_string(cutAt) + ": 26 of 126 bytes"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("its scan stops at the header at offset " + std::to_string(garbageAt)),
              std::string::npos) << r.out;

    const ProgramResult s = RunProgram({kScan, "--salvage", "s.pkt", "in.pkt"}, dir);
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_NE(s.out.find("kept 10 packets"), std::string::npos) << s.out;
    EXPECT_EQ(CountPackets(ReadFile(dir + "/s.pkt"), 957), 10u);
}

TEST(Pktscan, TrokgenFilesAgreeWithTrokproc)
{
    const std::string dir = FreshTestDir();
    struct Gen {
        std::vector<std::string> args;
        bool pelk;
    };
    const std::vector<Gen> gens{
        {{"--seconds", "900", "--time-fault", "--seed", "5"}, false},
        {{"--seconds", "900", "--repeats", "3", "--other-apid", "4", "--small-gaps", "2", "--large-gaps", "1"}, false},
        {{"--seconds", "900", "--pelk", "--time-fault"}, true},
    };
    for (const Gen& g : gens) {
        std::vector<std::string> args{kGen, "--out", dir + "/g.pkt"};
        args.insert(args.end(), g.args.begin(), g.args.end());
        ASSERT_EQ(RunProgram(args, dir).status, 0);
        const std::string bytes = ReadFile(dir + "/g.pkt");
        const Both b = RunBoth(bytes, g.pelk);
        SCOPED_TRACE(b.scan.out);
        ExpectAgreement(b);
        if (b.trok.status != 0) {
            // trokproc shows the packet after the fault second; its sequence
            // count is the one at the offset pktscan names.
            const std::string key = "packet_seq. = ";
            const size_t second = b.trok.err.find(key, b.trok.err.find(key) + 1);
            ASSERT_NE(second, std::string::npos);
            const long seq = std::stol(b.trok.err.substr(second + key.size()));
            const size_t at = std::stoul(VerdictField(b.scan.out, "offset"));
            ASSERT_LT(at + 4, bytes.size());
            EXPECT_EQ((static_cast<unsigned char>(bytes[at + 2]) & 0x3F) * 256 + static_cast<unsigned char>(bytes[at + 3]),
                      seq);
            SalvageAndRun(b, g.pelk);
            const size_t size = g.pelk ? 214 : 126;
            EXPECT_EQ(CountPackets(ReadFile(b.dir + "/s.pkt"), g.pelk ? 967 : 957), 899u);
            EXPECT_EQ(ReadFile(b.dir + "/s.pkt").size(), bytes.size() - size);
        } else {
            EXPECT_EQ(SalvageAndRun(b, g.pelk), std::stoul(VerdictField(b.scan.out, "records")));
            EXPECT_EQ(ReadFile(b.dir + "/s.pkt"), bytes);
        }
    }
}

TEST(Pktscan, GarbageOfEveryShapeGetsTrokprocsVerdict)
{
    // Garbage whose first bytes pass for a header takes both scans through
    // the same steps, wherever they lead.
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        PacketFileBuilder file = Steady(0, 5);
        file.AddRaw(Garbage(90 + seed * 7, seed, static_cast<int>(seed % 8)));
        for (uint32_t k = 5; k < 10; ++k) file.AddTelemetry(Sample(kCoarse0 + k));
        const Both b = RunBoth(file.Bytes());
        ExpectAgreement(b);
        const ProgramResult s = RunProgram({kScan, "--salvage", "s.pkt", "in.pkt"}, b.dir);
        EXPECT_EQ(s.status, 0) << s.err;
        EXPECT_EQ(CountPackets(ReadFile(b.dir + "/s.pkt"), 957), 10u) << s.out;
    }
}

TEST(Pktscan, UnusableInputsAndArguments)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/empty.pkt", "");
    WriteFile(dir + "/noise.pkt", Garbage(100000, 99));
    ProgramResult r = RunProgram({kScan, "empty.pkt"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"Packet File Empty\""), std::string::npos) << r.out;
    r = RunProgram({kScan, "--salvage", "s.pkt", "empty.pkt"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(access((dir + "/s.pkt").c_str(), F_OK), -1);
    r = RunProgram({kScan, "noise.pkt"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.signal, 0);

    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad{
        {{kScan, "."}, "pktscan: .: is a directory\n"},
        {{kScan, "fifo"}, "pktscan: fifo: not a regular file\n"},
        {{kScan, "missing.pkt"}, "pktscan: missing.pkt: No such file or directory\n"},
        {{kScan}, "pktscan: no packet file given (see pktscan --help)\n"},
        {{kScan, "--salvage"}, "pktscan: option --salvage needs a file name\n"},
        {{kScan, "--frobnicate", "empty.pkt"}, "pktscan: unknown option --frobnicate (see pktscan --help)\n"},
        {{kScan, "--salvage", "noise.pkt", "noise.pkt"},
         "pktscan: noise.pkt: is the input file; pktscan never writes over its input\n"},
        {{kScan, "--salvage", "nodir/s.pkt", "noise.pkt"}, "pktscan: nodir/s.pkt: No such file or directory\n"},
        {{kScan, "--salvage", "/dev/null", "noise.pkt"}, "pktscan: /dev/null: not a regular file\n"},
        {{kScan, "--salvage", ".", "noise.pkt"}, "pktscan: .: not a regular file\n"},
    };
    for (const auto& c : bad) {
        r = RunProgram(c.first, dir);
        EXPECT_EQ(r.status, 255) << c.second;
        EXPECT_EQ(r.err, c.second);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(ReadFile(dir + "/noise.pkt"), Garbage(100000, 99));

    r = RunProgram({kScan, "--version"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("pktscan ", 0), 0u);
    r = RunProgram({kScan, "--help"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: pktscan", 0), 0u);
}

// A dump cut inside a packet with the next dump joined on: the cut packet
// is dropped whole, never salvaged with the next dump's bytes, and its copy
// in the next dump serves.
TEST(Pktscan, ASpliceOfTwoDumpsIsDroppedAndNamed)
{
    PacketFileBuilder all = Steady(0, 55);
    const std::string whole = all.Bytes();
    const std::string joined = whole.substr(0, 29 * 126 + 57) + whole.substr(25 * 126);
    const Both b = RunBoth(joined);
    ExpectAgreement(b);
    EXPECT_NE(b.scan.out.find("\"splices\":{\"count\":1,\"first\":[" + std::to_string(29 * 126) + "]}"),
              std::string::npos) << b.scan.out;
    const ProgramResult text = RunProgram({kScan, "in.pkt"}, b.dir);
    EXPECT_NE(text.out.find("APID 957 cut short and continued by other bytes (a splice): 1 (at 3654)"),
              std::string::npos) << text.out;

    const ProgramResult s = RunProgram({kScan, "--salvage", "s.pkt", "--json", "in.pkt"}, b.dir);
    EXPECT_EQ(s.status, 0) << s.err;
    EXPECT_NE(s.out.find("\"dropped_splices\":1,"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("dropped 1 packet cut short and continued by other bytes (at 3654)"), std::string::npos)
        << s.out;
    // Every packet of the copy is one of the packets sent, in order: the
    // next dump's copy of packet 28 stays as the repeat it is (trokproc
    // drops it), those of 25 to 27 break the time order.
    EXPECT_TRUE(ReadFile(b.dir + "/s.pkt") == whole.substr(0, 29 * 126) + whole.substr(28 * 126));
    EXPECT_EQ(SalvageAndRun(b), 55u);
}

// Where trokproc's scan stops at a header, the verdict names the packet
// there by the packets indexed before it, not by an earlier fault.
TEST(Pktscan, AScanStopNamesThePacketItStoppedAt)
{
    PacketFileBuilder file = Steady(0, 3);
    file.AddTelemetry(Sample(kCoarse0 + 1), 3);   // a time fault at packet 3
    for (uint32_t k = 4; k < 40; ++k) file.AddTelemetry(Sample(kCoarse0 + k), k);
    HeaderOverrides version;
    version.version = 3;
    file.AddTelemetry(Sample(kCoarse0 + 40), 40, version);
    for (uint32_t k = 41; k < 45; ++k) file.AddTelemetry(Sample(kCoarse0 + k), k);
    const Both b = RunBoth(file.Bytes());
    ExpectAgreement(b);
    EXPECT_EQ(VerdictField(b.scan.out, "rule"), "scan-stops");
    EXPECT_EQ(VerdictField(b.scan.out, "packet"), "40");
    EXPECT_EQ(VerdictField(b.scan.out, "offset"), std::to_string(40 * 126));
}
