// Damaged inputs through the real program: each kind of damage ends with its
// one message and status 255, or with a complete product. Cases already run
// elsewhere are not repeated here: an APID with one packet, a first or
// inner packet whose length field disagrees, version bits in a header, a
// missing element file, /dev/full as a product and an escape-speed state at
// an orbit start (test_product_run_e2e.cpp); bad command lines, a missing,
// unnamed or comment-holding configfile (test_startup_e2e.cpp).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fixtures.h"
#include "product_reader.h"
#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"

using namespace toolkit;

namespace {

const std::string kProg = TROKPROC_PATH;

struct BadRun {
    std::string dir;
    ProgramResult result;
};

// Writes the packet file (unless empty), the element file (unless empty)
// and the configfile into a fresh directory and runs trokproc there.
BadRun RunTrok(const std::string& packetBytes, const std::string& configfile = kNoElementsConfig,
            const std::vector<std::string>& args = {}, const std::string& tle = "")
{
    BadRun run;
    run.dir = FreshTestDir();
    if (!packetBytes.empty()) WriteFile(run.dir + "/in.pkt", packetBytes);
    if (!tle.empty()) WriteFile(run.dir + "/in.tle", tle);
    WriteFile(run.dir + "/configfile", configfile);
    std::vector<std::string> argv{kProg};
    argv.insert(argv.end(), args.begin(), args.end());
    run.result = RunProgram(argv, run.dir);
    return run;
}

// A product run that ended well: status 0, nothing on standard error, and
// both files complete for `records` records (and `orbits` metadata records).
void ExpectProduct(const BadRun& run, uint32_t records, uint32_t orbits = 1)
{
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.err, "");
    const std::string eph = ReadFile(run.dir + "/out.eph");
    const std::string att = ReadFile(run.dir + "/out.att");
    EXPECT_EQ(eph.size(), kHeaderBytes + records * kRecordBytes + orbits * kMetaBytes);
    EXPECT_EQ(att.size(), kHeaderBytes + records * kRecordBytes);
    if (eph.size() >= 140) {
        EXPECT_EQ(BeU32(eph, 136), records);
    }
}

void ExpectFailure(const BadRun& run, const std::string& message)
{
    EXPECT_EQ(run.result.status, 255);
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.err, message);
}

// The start of a failure message followed by packet dumps.
void ExpectFailureStartingWith(const BadRun& run, const std::string& start)
{
    EXPECT_EQ(run.result.status, 255);
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.err.rfind(start, 0), 0u) << run.result.err;
}

} // namespace

TEST(BadPacketFile, CutShort)
{
    // Cut inside the last packet's data: the last packet cannot be read whole.
    ExpectFailureStartingWith(RunTrok(Steady(0, 5).CutShort(30).Bytes()),
                              "\nPacket File Read Error\n\nBegin Packet is:\n");
    // Cut inside the last header: those bytes are no packet, the rest is a product.
    ExpectProduct(RunTrok(Steady(0, 5).CutShort(126 - 4).Bytes()), 4);
    // Nothing but a header.
    ExpectFailure(RunTrok(Steady(0, 1).CutShort(120).Bytes()), "\nPacket File Empty\n");
}

TEST(BadPacketFile, LengthFieldsThatStopTheScan)
{
    // 0x7FFF and 0xFFFF give no packet size at all; the file counts as unopened.
    for (long field : {0x7FFFL, 0xFFFFL}) {
        PacketFileBuilder packets = Steady(0, 3);
        HeaderOverrides bad;
        bad.lengthField = field;
        packets.AddTelemetry(Sample(kCoarse0 + 3), 3, bad);
        ExpectFailure(RunTrok(packets.Bytes()), "\nFile Open failed for packet file:  in.pkt\n");
    }
    // A huge but legal length swallows the rest of the file: those packets
    // are gone, and the swallowing packet itself is the last one and unreadable.
    PacketFileBuilder packets = Steady(0, 3);
    HeaderOverrides big;
    big.lengthField = 0x7FFE;
    packets.AddTelemetry(Sample(kCoarse0 + 3), 3, big);
    for (uint32_t k = 4; k < 8; ++k) packets.AddTelemetry(Sample(kCoarse0 + k));
    ExpectFailureStartingWith(RunTrok(packets.Bytes()), "\nPacket File Read Error\n");
}

TEST(BadPacketFile, TimeOrder)
{
    PacketFileBuilder backwards;
    for (uint32_t t : {0u, 1u, 2u, 1u, 4u}) backwards.AddTelemetry(Sample(kCoarse0 + t));
    ExpectFailureStartingWith(RunTrok(backwards.Bytes()), "\npacket Time order error:\n\nsgf(8)=0  sgb(7)=0");

    // Equal tags from different sequence counts; the fine time decides too.
    PacketFileBuilder equal;
    equal.AddTelemetry(Sample(kCoarse0)).AddTelemetry(Sample(kCoarse0 + 1, 7)).AddTelemetry(Sample(kCoarse0 + 1, 7));
    ExpectFailureStartingWith(RunTrok(equal.Bytes()), "\npacket Time order error:\n\n");
    PacketFileBuilder fineOrder;
    fineOrder.AddTelemetry(Sample(kCoarse0, 9)).AddTelemetry(Sample(kCoarse0, 8));
    ExpectFailureStartingWith(RunTrok(fineOrder.Bytes()), "\npacket Time order error:\n\n");
}

TEST(BadPacketFile, GarbageStates)
{
    // Extreme 1750A values (all-ones mantissas at the largest exponent),
    // zero quaternions and a position next to the centre inside an orbit
    // (z stays negative: no orbit starts there) make meaningless numbers,
    // not faults: the products are written, the gap filled across them.
    PacketFileBuilder packets;
    for (uint32_t k = 0; k < 12; ++k) {
        TelemetrySample s = Sample(kCoarse0 + (k < 6 ? k : k + 3));   // one repaired gap
        if (k == 3 || k == 6) {
            for (double& x : s.pos) x = (k == 3) ? -1.7e38 : 0.0;
            s.pos[2] = (k == 3) ? -1.7e38 : -1.0;
            for (double& x : s.vel) x = -1.7e38;
            for (double& x : s.quat) x = 0.0;
            for (double& x : s.rates) x = 1.7e38;
        }
        packets.AddTelemetry(s);
    }
    ExpectProduct(RunTrok(packets.Bytes()), 12 + 3);

    // Bytes of pure noise in every data field: whatever they decode to, the
    // run either writes its products or stops on the first state.
    PacketFileBuilder noisy;
    uint32_t x = 12345;
    for (uint32_t k = 0; k < 20; ++k) {
        std::string pkt = TelemetryPacket(Sample(kCoarse0 + k), 126, 957, k);
        for (size_t i = 14; i < pkt.size(); ++i) {
            x = x * 1103515245u + 12345u;
            pkt[i] = static_cast<char>(x >> 24);
        }
        noisy.AddRaw(pkt);
    }
    const BadRun run = RunTrok(noisy.Bytes());
    EXPECT_EQ(run.result.signal, 0);
    if (run.result.status == 0) ExpectProduct(run, 20);
    else ExpectFailureStartingWith(run, "\nPacket state is not a closed orbit:\n");
}

TEST(BadPacketFile, ZeroStateAtOrbitStart)
{
    PacketFileBuilder packets;
    TelemetrySample zero = Sample(kCoarse0);
    zero.pos[2] = 0.0;
    zero.vel[0] = 0.0;
    packets.AddTelemetry(zero).AddTelemetry(Sample(kCoarse0 + 1));
    ExpectFailureStartingWith(RunTrok(packets.Bytes()), "\nPacket state is not a closed orbit:\n");
}

TEST(BadPacketFile, NotAFile)
{
    const BadRun run = RunTrok("", kNoElementsConfig, {"-packetfile", "/"});
    ExpectFailure(run, "\nFile Open failed for packet file:  /\n");
    // A FIFO that nobody writes to is refused at once, not waited on.
    const std::string dir = FreshTestDir();
    ASSERT_EQ(mkfifo((dir + "/in.pkt").c_str(), 0600), 0);
    WriteFile(dir + "/configfile", kNoElementsConfig);
    const ProgramResult fifo = RunProgram({"/usr/bin/timeout", "20", kProg}, dir);
    EXPECT_EQ(fifo.status, 255);
    EXPECT_EQ(fifo.err, "\nFile Open failed for packet file:  in.pkt\n");
}

TEST(BadConfigFile, EmptyBinaryAndUnreadable)
{
    const std::string packets = Steady(0, 3).Bytes();
    const std::vector<std::string> names{"-packetfile", "in.pkt", "-noradfile", "noTLE",
                                         "-ephemerisfile", "out.eph", "-attitudefile", "out.att"};
    // Empty: every default stands, the command line names the files.
    ExpectProduct(RunTrok(packets, "", names), 3);

    // Binary: the first word, NUL bytes and all, is no keyword.
    const std::string binary("\x7f" "ELF\x02\x01\x01\0\0\0\n\x03\0>\0", 16);
    ExpectFailure(RunTrok(packets, binary),
                  "\nBad Configuration File Keyword: " + std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10) + "\n");

    // A directory opens but cannot be read.
    ExpectFailure(RunTrok(packets, "", {"-configfile", "/"}), "\nConfiguration File read error\n");
}

TEST(BadElementFile, DamagedLinesStillGiveProducts)
{
    const std::string line1 = "1 12345U          24010.00000000 +.00000000 +00000+0 +00000+0 0    08";
    const std::string line2 = "2 12345  98.2000  40.0000 0000000   0.0000   0.0000 14.50000000 10000";
    const std::string tleConfig = "-packetfile in.pkt\n-noradfile in.tle\n-noradsatname SAT\n"
                                  "-ephemerisfile out.eph\n-attitudefile out.att\n";
    const std::string packets = Steady(0, 3).Bytes();
    const std::vector<std::string> cases{
        "SAT\n" + line1.substr(0, 20) + "\n" + line2.substr(0, 30) + "\n",         // short lines
        "SAT\n" + line1 + std::string(200, '7') + "\n" + line2 + std::string(200, '9') + "\n",  // long
        "SAT\n" + line1.substr(0, 68) + "5\n" + line2.substr(0, 68) + "3\n",         // check digits
        "SAT\n\n" + line1 + "\n",                                                    // one line only
        line1 + "\n" + line2 + "\nSAT",                                              // name last
        std::string("\0\x01\x02SAT\xff\n\xfe\xfd\n", 11),                            // binary
    };
    for (const std::string& tle : cases) {
        const BadRun run = RunTrok(packets, tleConfig, {}, tle);
        EXPECT_EQ(run.result.status, 0) << run.result.err;
        EXPECT_EQ(run.result.signal, 0);
        EXPECT_EQ(run.result.err, "");
        EXPECT_EQ(ReadFile(run.dir + "/out.eph").size(), kHeaderBytes + 3 * kRecordBytes + kMetaBytes);
    }
}

TEST(BadOutputPath, MissingDirectory)
{
    const std::string packets = Steady(0, 3).Bytes();
    ExpectFailure(RunTrok(packets, kNoElementsConfig, {"-ephemerisfile", "nodir/out.eph"}),
                  "\nFile Open failed for ephemeris file:  nodir/out.eph\n");
    ExpectFailure(RunTrok(packets, kNoElementsConfig, {"-attitudefile", "nodir/out.att"}),
                  "\nFile Open failed for attitude file:  nodir/out.att\n");
    ExpectFailure(RunTrok(packets, kNoElementsConfig, {"-attitudefile", "/dev/full"}),
                  "\nFile Write failed for attitude file:  /dev/full\n");
}
