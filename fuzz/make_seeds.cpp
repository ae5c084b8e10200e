// Writes the starting corpora of the fuzz targets: make_seeds DIR creates
// DIR/<target>/ with a few sound inputs for each target.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "toolkit/packets/packetbuilder.h"
#include "vn_class_attitudefile.h"
#include "vn_class_attituderecord.h"
#include "vn_class_attitudesubheader.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_ephemerisfile.h"
#include "vn_class_ephemerismetadata.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_class_ephemerissubheader.h"

using namespace toolkit;

namespace {

std::string root;

void Seed(const std::string& target, const std::string& name, const std::string& bytes)
{
    const std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
}

// A circular orbit of 7000 km inclined by 98 degrees, nadir-pointing enough
// for the purpose, sampled at whole seconds from `coarse0`.
TelemetrySample OrbitSample(uint32_t coarse, uint32_t coarse0)
{
    const double r = 7000000.0, mu = 3.9860064e14, inc = 98.0 * M_PI / 180.0;
    const double v = std::sqrt(mu / r), w = v / r;
    // Start south of the equator so that the data cross the ascending node.
    const double u = w * (coarse - coarse0) - 0.3;
    TelemetrySample s;
    s.coarse = coarse;
    s.pos[0] = r * std::cos(u);
    s.pos[1] = r * std::sin(u) * std::cos(inc);
    s.pos[2] = r * std::sin(u) * std::sin(inc);
    s.vel[0] = -v * std::sin(u);
    s.vel[1] = v * std::cos(u) * std::cos(inc);
    s.vel[2] = v * std::cos(u) * std::sin(inc);
    s.quat[3] = 1.0;
    s.rates[0] = 0.001;
    return s;
}

const uint32_t kCoarse0 = 2082844800u;   // 2024-01-02 TAI in spacecraft seconds

std::string Layout(bool sibling) { return std::string(1, sibling ? '\1' : '\0'); }

void PacketSeeds()
{
    for (int sibling = 0; sibling < 2; ++sibling) {
        const size_t size = sibling ? 214 : 126;
        const unsigned apid = sibling ? 967 : 957;
        Seed("fuzz_packet", "one" + std::to_string(sibling),
             Layout(sibling) + TelemetryPacket(OrbitSample(kCoarse0, kCoarse0), size, apid, 0));

        PacketFileBuilder steady(size, apid);
        for (uint32_t k = 0; k < 20; ++k) steady.AddTelemetry(OrbitSample(kCoarse0 + k, kCoarse0));
        Seed("fuzz_packetfile", "steady" + std::to_string(sibling), Layout(sibling) + steady.Bytes());
    }
    PacketFileBuilder gaps;
    for (uint32_t t : {0u, 1u, 2u, 3u, 6u, 7u, 8u, 70u, 71u, 72u, 73u, 74u, 75u, 76u})
        gaps.AddTelemetry(OrbitSample(kCoarse0 + t, kCoarse0));
    Seed("fuzz_packetfile", "gaps", Layout(false) + gaps.Bytes());

    PacketFileBuilder mixed;
    for (uint32_t k = 0; k < 10; ++k) {
        mixed.AddTelemetry(OrbitSample(kCoarse0 + k, kCoarse0));
        if (k % 3 == 0) mixed.AddOther(100 + k, 7 + 3 * k);
        if (k == 5) mixed.AddRepeat();
    }
    mixed.CutShort(20);
    Seed("fuzz_packetfile", "mixed", Layout(false) + mixed.Bytes());
    Seed("fuzz_pktscan", "mixed", Layout(false) + mixed.Bytes());
    Seed("fuzz_pktscan", "gaps", Layout(false) + gaps.Bytes());
    // Bytes that are no packets between two runs of packets.
    PacketFileBuilder damaged = gaps;
    damaged.AddRaw(std::string(40, '\xE5')).AddRaw(gaps.Bytes());
    Seed("fuzz_pktscan", "damaged", Layout(false) + damaged.Bytes());

    // Across the ascending node and half an orbit on, sparsely: 70 s apart,
    // large gaps that are flagged but not filled (filling is the costly part).
    PacketFileBuilder orbit;
    for (uint32_t k = 0; k < 3200; k += 70) orbit.AddTelemetry(OrbitSample(kCoarse0 + k, kCoarse0));
    Seed("fuzz_packetfile", "orbit", Layout(false) + orbit.Bytes());
}

// Inputs of the merge: the count and layout in the first byte, then each
// input but the last led by its length in two bytes.
std::string MergeSeed(bool sibling, const std::vector<std::string>& inputs)
{
    std::string s(1, static_cast<char>((sibling ? 1 : 0) | ((inputs.size() - 1) << 1)));
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (i + 1 < inputs.size())
            s += std::string{static_cast<char>(inputs[i].size() >> 8), static_cast<char>(inputs[i].size() & 0xFF)};
        s += inputs[i];
    }
    return s;
}

void MergeSeeds()
{
    for (int sibling = 0; sibling < 2; ++sibling) {
        const size_t size = sibling ? 214 : 126;
        const unsigned apid = sibling ? 967 : 957;
        auto span = [&](uint32_t from, uint32_t to) {
            PacketFileBuilder b(size, apid);
            for (uint32_t k = from; k < to; ++k) b.AddTelemetry(OrbitSample(kCoarse0 + k, kCoarse0), k);
            return b.Bytes();
        };
        // Three overlapping dumps, one with a copy damaged in a position, one
        // cut inside a packet and continued a few packets earlier.
        std::string damaged = span(0, 20);
        damaged[15 * size + 16] ^= 0x04;
        const std::string spliced = span(15, 30).substr(0, 10 * size + 40) + span(22, 35);
        Seed("fuzz_pktmerge", "dumps" + std::to_string(sibling),
             MergeSeed(sibling, {damaged, spliced, span(12, 18)}));
    }
    // A dump with another APID, a repeat and a damaged time tag, given twice.
    PacketFileBuilder mixed;
    for (uint32_t k = 0; k < 12; ++k) {
        mixed.AddTelemetry(OrbitSample(kCoarse0 + k, kCoarse0), k);
        if (k == 4) mixed.AddOther(1010, 40).AddRepeat();
    }
    std::string bytes = mixed.Bytes();
    bytes[8 * 126 + 40 + 40 + 11] ^= 0x10;
    Seed("fuzz_pktmerge", "mixed", std::string(1, '\x80') + bytes);
}

void ConfigSeeds()
{
    Seed("fuzz_config", "full",
         "-packetfile   in.pkt\n-noradfile noTLE\n-ephemerisfile out.eph\n"
         "-attitudefile out.att\n-station  Ground  Station \t\n-diag_3\n-listconfig yes\r\n"
         "-noradsatname PELK\n-qlrsatname SAT1\n-version 1.0\n-pkt_offset 0\n-pkt_count 10");
    Seed("fuzz_config", "blank", "\n\n   \n\t\n");
    Seed("fuzz_config", "badword", "-diag_1 yes\n# comment here\n-diag_2 yes\n");
}

void ElementSeeds()
{
    const std::string l1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
    const std::string l2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
    Seed("fuzz_elements", "iss", "ISS\nISS (ZARYA)\n" + l1 + "\n" + l2 + "\n");
    Seed("fuzz_elements", "blanks", "SAT\nOTHER\n" + l1 + "\n" + l2 + "\n\nSAT\r\n\n" + l1 + "\r\n  \n" + l2 + "\r\n");
    Seed("fuzz_elements", "lastline", "SAT\n" + l1 + "\n" + l2 + "\nSAT");
    Seed("fuzz_elements", "short", "SAT\nSAT\n1 25544U\n2 25544  51.6416\n");
}

void DateSeeds()
{
    Seed("fuzz_date", "numeric", std::string("%Y4/%Mn/%Dn %hh:%mm:%ss") + '\0' + "2000/01/01 12:34:56");
    Seed("fuzz_date", "names", std::string("%Dn %MA %Y4 %S6") + '\0' + "15 October 1582 07.125");
    Seed("fuzz_date", "short", std::string("%Y4-%Ma-%Dn") + '\0' + "1999-ja");
}

std::string ReadBack(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A pair of products written by the program's own writers: five records and
// two orbits. The reader's seeds start with the byte that picks the kind.
void ProductSeeds()
{
    const std::string eph = root + "/seed.eph", att = root + "/seed.att";
    {
        commonQLRheader common;
        ephemerissubheader ephHeader;
        attitudesubheader attHeader;
        common.SpacecraftID("QORAL6").Source("MERV").Version("1.0").TimeRange(2460311.5, 2460311.6)
            .Interval(1.0f);
        ephHeader.RefFrame("J2000").EpochTimeTAI(9.5e8).Orbits(100, 101, 1)
            .KeplerElements({7.0e6, 0.001, 1.7, 0.5, 0.2, 0.1});
        attHeader.AngleOrder(3, 1, 2);
        common.NoRecords(5);
        ephemerisfile ephFile(eph, common, ephHeader);
        attitudefile attFile(att, common, attHeader);
        ephemerisrecord er;
        attituderecord ar;
        for (int k = 0; k < 5; ++k) {
            const TelemetrySample s = OrbitSample(kCoarse0 + k, kCoarse0);
            er.time(9.5e8 + k).Position({s.pos[0], s.pos[1], s.pos[2]})
                .Velocity({s.vel[0], s.vel[1], s.vel[2]}).QaFlag(k == 2 ? 0x60 : 0);
            ar.Time(9.5e8 + k).EulerAngles({0.01, -0.02, 0.0}).AngleVelocities({0.0, 0.001, 0.0})
                .QaFlag(k == 2 ? 0x60 : 0);
            ephFile.write(er);
            attFile.write(ar);
        }
        ephemerismetadata meta;
        for (unsigned orbit = 100; orbit < 102; ++orbit) {
            meta.OrbitNo(orbit).AscendingTime(2460311.5).DescendingTime(2460311.53)
                .DescendingLongitude(-1.0);
            ephFile.write(meta);
        }
    }
    Seed("fuzz_qlrproduct", "eph", std::string(1, '\0') + ReadBack(eph));
    Seed("fuzz_qlrproduct", "att", std::string(1, '\0') + ReadBack(att));
    Seed("fuzz_qlrproduct", "eph-as-att", std::string(1, '\2') + ReadBack(eph));
    std::remove(eph.c_str());
    std::remove(att.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_seeds DIR\n";
        return 2;
    }
    root = argv[1];
    mkdir(root.c_str(), 0755);
    PacketSeeds();
    MergeSeeds();
    ConfigSeeds();
    ElementSeeds();
    DateSeeds();
    ProductSeeds();
    return 0;
}
