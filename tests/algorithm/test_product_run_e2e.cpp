// End-to-end runs of trokproc on packet and element files built here; the
// products are decoded byte by byte.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "fixtures.h"
#include "product_reader.h"
#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"

using namespace toolkit;

namespace {

const std::string kProg = TROKPROC_PATH;
const double kMu = 3.9860064e14;
const double kPi = 3.141592653589793;
const double kTAI93 = 2448988.5003125;   // Julian day of TAI93 second 0
const double kEpoch1958 = 2436204.5;     // Julian day of packet time 0

// TAI93 seconds of a packet time (the products hold it through a Julian
// day, so to about 40 microseconds).
double Tai93(double coarseSeconds) { return (kEpoch1958 - kTAI93) * 86400.0 + coarseSeconds; }

// A state in which the orbital frame coincides with the inertial axes: the
// spacecraft on the -z axis moving along +x (a closed, circular state).
TelemetrySample AlignedSample(uint32_t coarse, double yaw = 0.0)
{
    TelemetrySample s = Sample(coarse);
    s.quat[2] = std::sin(yaw / 2);
    s.quat[3] = std::cos(yaw / 2);
    s.rates[0] = 0.25;
    s.rates[1] = -0.5;
    s.rates[2] = 0.125;
    return s;
}

struct TrokRun {
    std::string dir;
    ProgramResult result;
    std::string eph;
    std::string att;
};

// Writes the packet file and element file (unless "noTLE") into a fresh
// directory with a configfile naming them, runs trokproc there and reads
// back both products.
TrokRun RunTrok(const PacketFileBuilder& packets, const std::string& elements,
            const std::string& extraConfig = "", const std::vector<std::string>& args = {})
{
    TrokRun run;
    run.dir = FreshTestDir();
    packets.WriteTo(run.dir + "/in.pkt");
    std::string noradfile = "noTLE";
    if (elements != "noTLE") {
        WriteFile(run.dir + "/in.tle", elements);
        noradfile = "in.tle";
    }
    WriteFile(run.dir + "/configfile", "-packetfile in.pkt\n-noradfile " + noradfile +
                                           "\n-ephemerisfile out.eph\n-attitudefile out.att\n" +
                                           extraConfig);
    std::vector<std::string> argv{kProg};
    argv.insert(argv.end(), args.begin(), args.end());
    run.result = RunProgram(argv, run.dir);
    if (run.result.status == 0) {
        run.eph = ReadFile(run.dir + "/out.eph");
        run.att = ReadFile(run.dir + "/out.att");
    }
    return run;
}

std::vector<uint32_t> Flags(const std::string& product, uint32_t n)
{
    std::vector<uint32_t> flags;
    for (uint32_t k = 0; k < n; ++k) flags.push_back(BeU32(product, kHeaderBytes + k * kRecordBytes + 56));
    return flags;
}

std::string Text(const std::string& b, size_t off, size_t n) { return b.substr(off, n); }

} // namespace

TEST(ProductRun, WithoutElementsWritesFillValues)
{
    PacketFileBuilder packets;
    for (uint32_t k = 0; k < 10; ++k) packets.AddTelemetry(AlignedSample(kCoarse0 + k, 0.01));
    TrokRun run = RunTrok(packets, "noTLE");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.out, "No TLE file specified. Using static values.\n\n");
    EXPECT_EQ(run.result.err, "");

    // Ten records, one orbit of metadata; identical common headers.
    ASSERT_EQ(run.eph.size(), kHeaderBytes + 10 * kRecordBytes + kMetaBytes);
    ASSERT_EQ(run.att.size(), kHeaderBytes + 10 * kRecordBytes);
    EXPECT_EQ(run.eph.substr(0, 140), run.att.substr(0, 140));
    EXPECT_EQ(Text(run.eph, 0, 24), std::string("QORAL6") + std::string(18, '\0'));
    EXPECT_EQ(Text(run.eph, 72, 4), "MERV");
    EXPECT_EQ(Text(run.eph, 104, 8), std::string("1.0") + std::string(5, '\0'));
    EXPECT_NEAR(BeF64(run.eph, 112), Tai93(kCoarse0), 1e-4);
    EXPECT_NEAR(BeF64(run.eph, 120), Tai93(kCoarse0 + 9), 1e-4);
    EXPECT_EQ(BeF32(run.eph, 128), 1.0f);
    EXPECT_EQ(BeU32(run.eph, 136), 10u);

    // Ephemeris subheader: count, first, last orbit; frame; fill values.
    EXPECT_EQ(BeU32(run.eph, 140), 1u);
    EXPECT_EQ(BeU32(run.eph, 144), 1u);
    EXPECT_EQ(BeU32(run.eph, 148), 1u);
    EXPECT_EQ(Text(run.eph, 152, 8), std::string("J2000") + std::string(3, '\0'));
    for (int k = 0; k < 6; ++k) EXPECT_EQ(BeF64(run.eph, 160 + 8 * k), -999.999999) << k;
    EXPECT_EQ(BeF64(run.eph, 208), -999.999999);
    // Attitude subheader: angle order 3, 1, 2.
    EXPECT_EQ(BeU32(run.att, 140), 3u);
    EXPECT_EQ(BeU32(run.att, 144), 1u);
    EXPECT_EQ(BeU32(run.att, 148), 2u);

    // Records: the packet's values; a 0.01 rad yaw gives (sin 0.01, 0, 0).
    const size_t r = kHeaderBytes + 3 * kRecordBytes;
    EXPECT_NEAR(BeF64(run.eph, r), Tai93(kCoarse0 + 3), 1e-4);
    EXPECT_EQ(BeF64(run.eph, r + 24), -7000000.0);
    EXPECT_EQ(BeF64(run.eph, r + 32), 7546.0);
    EXPECT_NEAR(BeF64(run.att, r), Tai93(kCoarse0 + 3), 1e-4);
    EXPECT_NEAR(BeF64(run.att, r + 8), std::sin(0.01), 1e-9);
    EXPECT_NEAR(BeF64(run.att, r + 16), 0.0, 1e-9);
    EXPECT_NEAR(BeF64(run.att, r + 24), 0.0, 1e-9);
    EXPECT_EQ(BeF64(run.att, r + 32), 0.25);
    EXPECT_EQ(BeF64(run.att, r + 40), -0.5);
    EXPECT_EQ(BeF64(run.att, r + 48), 0.125);

    // Metadata fallbacks.
    const size_t m = kHeaderBytes + 10 * kRecordBytes;
    EXPECT_EQ(BeU32(run.eph, m), 1u);
    EXPECT_EQ(BeF64(run.eph, m + 8), -999.99999999);
    EXPECT_EQ(BeF64(run.eph, m + 16), (-999.99999999 - kTAI93) * 86400.0);
    EXPECT_EQ(BeF64(run.eph, m + 24), -17.43583922742335);
}

TEST(ProductRun, GapFlagsReachBothFiles)
{
    PacketFileBuilder packets;
    uint32_t t = kCoarse0;
    for (int k = 0; k < 5; ++k) packets.AddTelemetry(AlignedSample(t++));
    t += 2;   // a 3 s gap: two interpolated points
    for (int k = 0; k < 5; ++k) packets.AddTelemetry(AlignedSample(t++));
    t += 60;  // a 61 s gap: flagged, left open
    for (int k = 0; k < 3; ++k) packets.AddTelemetry(AlignedSample(t++));
    TrokRun run = RunTrok(packets, "noTLE");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    const uint32_t n = BeU32(run.eph, 136);
    ASSERT_EQ(n, 15u);
    const std::vector<uint32_t> want{0, 0, 0, 0, 256, 32, 32, 128, 0, 0, 0, 512, 64, 0, 0};
    EXPECT_EQ(Flags(run.eph, n), want);
    EXPECT_EQ(Flags(run.att, n), want);
    // The interpolated points lie one second apart after the packet before the gap.
    EXPECT_NEAR(BeF64(run.eph, kHeaderBytes + 5 * kRecordBytes), Tai93(kCoarse0 + 5), 1e-3);
    EXPECT_NEAR(BeF64(run.att, kHeaderBytes + 6 * kRecordBytes), Tai93(kCoarse0 + 6), 1e-3);
}

TEST(ProductRun, SiblingSpacecraftLayout)
{
    // PELK: 214-byte packets of APID 967; the 126-byte APID 957 packets are
    // someone else's and stepped over.
    PacketFileBuilder packets(214, 967);
    for (uint32_t k = 0; k < 4; ++k) {
        packets.AddTelemetry(AlignedSample(kCoarse0 + k));
        packets.AddRaw(TelemetryPacket(AlignedSample(kCoarse0 + 100 + k), 126, 957, k));
    }
    TrokRun run = RunTrok(packets, "noTLE", "-noradsatname PELK\n-diag_1 yes\n");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(BeU32(run.eph, 136), 4u);
    EXPECT_NEAR(BeF64(run.eph, 120), Tai93(kCoarse0 + 3), 1e-4);
    EXPECT_EQ(run.result.err.rfind("\ndiag_1 Pkt Read Size = 214\n", 0), 0u) << run.result.err;
}

// Header texts longer than their fields are cut, with one warning line
// each; a text that just fits is not.
TEST(ProductRun, CutHeaderTextsAreReported)
{
    PacketFileBuilder packets;
    for (uint32_t k = 0; k < 3; ++k) packets.AddTelemetry(AlignedSample(kCoarse0 + k));
    const std::string id(24, 'i'), station = "Kiruna ground station, antenna 13", version = "v1.2.3.4.5";
    TrokRun run = RunTrok(packets, "noTLE",
                          "-qlrsatname " + id + "\n-station " + station + "\n-version " + version + "\n");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.err,
              "\nHeader text cut: -station value \"" + station + "\" is 33 bytes, its field holds 32\n"
              "\nHeader text cut: -version value \"" + version + "\" is 10 bytes, its field holds 8\n");
    EXPECT_EQ(Text(run.eph, 0, 24), id);
    EXPECT_EQ(Text(run.eph, 72, 32), station.substr(0, 32));
    EXPECT_EQ(Text(run.att, 104, 8), "v1.2.3.4");
}

TEST(ProductRun, InputFailuresEndWithMessageAnd255)
{
    {   // One packet of the APID is an empty file.
        PacketFileBuilder packets;
        packets.AddTelemetry(AlignedSample(kCoarse0));
        packets.AddOther(100, 20);
        TrokRun run = RunTrok(packets, "noTLE");
        EXPECT_EQ(run.result.status, 255);
        EXPECT_EQ(run.result.err, "\nPacket File Empty\n");
    }
    {   // A first packet whose length field disagrees with the packet size.
        PacketFileBuilder packets;
        HeaderOverrides longer;
        longer.lengthField = 125;
        packets.AddTelemetry(AlignedSample(kCoarse0), 0, longer);
        packets.AddRaw(std::string(6, '\0'));   // pads the longer packet
        packets.AddTelemetry(AlignedSample(kCoarse0 + 1), 1);
        TrokRun run = RunTrok(packets, "noTLE");
        EXPECT_EQ(run.result.status, 255);
        EXPECT_EQ(run.result.err.rfind("\nPacket File Read Error\n\nBegin Packet is:\n\npacket_ver. = 0", 0), 0u)
            << run.result.err;
        EXPECT_NE(run.result.err.find("\nEnd   Packet is:\n\npacket_ver. = 0"), std::string::npos);
        EXPECT_NE(run.result.err.find("packet_size = 126"), std::string::npos);
    }
    {   // A packet inside the file whose length disagrees: the copy stops there.
        PacketFileBuilder packets;
        HeaderOverrides longer;
        longer.lengthField = 125;
        for (uint32_t k = 0; k < 12; ++k) {
            if (k == 6) packets.AddTelemetry(AlignedSample(kCoarse0 + k), k, longer).AddRaw(std::string(6, '\0'));
            else packets.AddTelemetry(AlignedSample(kCoarse0 + k), k);
        }
        TrokRun run = RunTrok(packets, "noTLE");
        EXPECT_EQ(run.result.status, 255);
        EXPECT_EQ(run.result.err.rfind("\nPacket File read error\n\n\npacket_ver. = 0", 0), 0u)
            << run.result.err;
    }
    {   // A malformed header stops the scan: the packet file counts as unopened.
        PacketFileBuilder packets;
        packets.AddTelemetry(AlignedSample(kCoarse0));
        packets.AddTelemetry(AlignedSample(kCoarse0 + 1));
        HeaderOverrides bad;
        bad.version = 1;
        packets.AddTelemetry(AlignedSample(kCoarse0 + 2), 2, bad);
        TrokRun run = RunTrok(packets, "noTLE");
        EXPECT_EQ(run.result.status, 255);
        EXPECT_EQ(run.result.err, "\nFile Open failed for packet file:  in.pkt\n");
    }
    {   // A missing element file.
        PacketFileBuilder packets;
        packets.AddTelemetry(AlignedSample(kCoarse0)).AddTelemetry(AlignedSample(kCoarse0 + 1));
        TrokRun run = RunTrok(packets, "noTLE", "", {"-noradfile", "missing.tle"});
        EXPECT_EQ(run.result.status, 255);
        EXPECT_EQ(run.result.err, "\nFile Open failed for norad file:  missing.tle\n");
    }
}

TEST(ProductRun, UnwritableProductFailsTheRun)
{
    PacketFileBuilder packets;
    for (uint32_t k = 0; k < 200; ++k) packets.AddTelemetry(AlignedSample(kCoarse0 + k));
    TrokRun run = RunTrok(packets, "noTLE", "", {"-ephemerisfile", "/dev/full"});
    EXPECT_EQ(run.result.status, 255);
    EXPECT_EQ(run.result.err, "\nFile Write failed for ephemeris file:  /dev/full\n");
}

TEST(ProductRun, OpenOrbitStateAtOrbitStartFails)
{
    PacketFileBuilder packets;
    TelemetrySample fast = AlignedSample(kCoarse0);
    fast.vel[0] = 20000.0;   // faster than escape speed at 7000 km
    packets.AddTelemetry(fast).AddTelemetry(AlignedSample(kCoarse0 + 1));
    TrokRun run = RunTrok(packets, "noTLE");
    EXPECT_EQ(run.result.status, 255);
    EXPECT_EQ(run.result.signal, 0);
    EXPECT_EQ(run.result.err.rfind("\nPacket state is not a closed orbit:\n", 0), 0u) << run.result.err;
}

TEST(ProductRun, StageMessagesAndTerminationLine)
{
    PacketFileBuilder packets;
    packets.AddTelemetry(AlignedSample(kCoarse0)).AddTelemetry(AlignedSample(kCoarse0 + 1));
    TrokRun run = RunTrok(packets, "noTLE", "-diag_3 yes\n-listconfig yes\n");
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.err,
              "\nDiag 3- Begin Open Input Files\n"
              "\nDiag 3- Define Headers and Initialize with Static Info\n"
              "Diag 3- Open Ephemeris and Attitude Files\n"
              "Diag 3- Copy Packet Data to Output Files\n"
              "Diag 3- Copy Ephemeris MetaData\n"
              "Diag 3- Update Header Info- GetOrbitRevNos- A\n"
              "Diag 3- Update Header Info- GetOrbitRevNos- B\n"
              "Diag 3- Update Header Info- GetOrbitRevNos- C\n"
              "Diag 3- Udate Header Info- GetOrbitRevNos- D\n");
    const std::string tail = "No TLE file specified. Using static values.\n\n\nnormal termination\n\n";
    ASSERT_GE(run.result.out.size(), tail.size());
    EXPECT_EQ(run.result.out.substr(run.result.out.size() - tail.size()), tail);
}
