#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

using namespace toolkit;

namespace {

const double jd1958 = 2436204.5;

// A trokpacket read from the given bytes (padded with zeros to its size).
trokpacket Read(std::string bytes)
{
    trokpacket pkt;
    bytes.resize(pkt.DataSize(), '\0');
    std::istringstream in(bytes);
    pkt.ReadPkt(in);
    EXPECT_TRUE(in.good());
    return pkt;
}

trokpacket ReadTime(uint32_t coarse, uint16_t fine)
{
    TelemetrySample s;
    s.coarse = coarse;
    s.fine = fine;
    return Read(TelemetryPacket(s, trokpacket::pktsize, trokpacket::apid, 0));
}

// Sets the class-wide packet size and APID for one test.
struct Layout {
    size_t size, apid;
    Layout(size_t newSize, size_t newApid) : size(trokpacket::pktsize), apid(trokpacket::apid)
    {
        trokpacket::pktsize = newSize;
        trokpacket::apid = newApid;
    }
    ~Layout()
    {
        trokpacket::pktsize = size;
        trokpacket::apid = apid;
    }
};

TelemetrySample Sample()
{
    TelemetrySample s;
    s.coarse = 1500000000;
    s.fine = 32768;
    const double pos[3] = {-4400000.5, 5100000.25, 12.125};
    const double vel[3] = {-5432.5, -4000.75, 6000.0625};
    const double quat[4] = {0.5, -0.25, 0.125, -0.8125};
    const double rates[3] = {0.0009765625, -0.001953125, 3.0};
    std::memcpy(s.pos, pos, sizeof pos);
    std::memcpy(s.vel, vel, sizeof vel);
    std::memcpy(s.quat, quat, sizeof quat);
    std::memcpy(s.rates, rates, sizeof rates);
    return s;
}

} // namespace

TEST(TrokPacket, NewPacketIsEmptyAndSizedByTheClassWideSize)
{
    trokpacket pkt;
    EXPECT_EQ(trokpacket::pktsize, 126u);
    EXPECT_EQ(trokpacket::apid, 957u);
    EXPECT_EQ(pkt.DataSize(), 126u);
    EXPECT_EQ(pkt.TimeTag(), 0.0);
    EXPECT_EQ(pkt.ItemList(), array(13, 0.0));
    EXPECT_EQ(pkt.Position().size(), 3u);
    EXPECT_EQ(pkt.Velocity().size(), 3u);
    EXPECT_EQ(pkt.Attitude().size(), 4u);
    EXPECT_EQ(pkt.AngleRates().size(), 3u);

    Layout big(214, 967);
    trokpacket wide;
    EXPECT_EQ(wide.DataSize(), 214u);
    EXPECT_EQ(pkt.DataSize(), 126u);  // an existing packet keeps its size
}

TEST(TrokPacket, TimeTagIsAJulianDayFrom1958)
{
    EXPECT_EQ(ReadTime(0, 0).TimeTag(), jd1958);
    EXPECT_EQ(ReadTime(86400, 0).TimeTag(), jd1958 + 1.0);
    EXPECT_EQ(ReadTime(86400 * 3 + 43200, 0).TimeTag(), jd1958 + 3.5);
    // A fine count is 1.52e-5 s, not 1/65536 s: 65535 counts are 0.996132 s.
    const trokpacket fine = ReadTime(0, 65535);
    EXPECT_NEAR((fine.TimeTag() - jd1958) * 86400.0, 0.996132, 5e-5);
    EXPECT_EQ(fine.FineTime(), 65535u);
    // 2^31 s after 1958-01-01 is 2026-01-19 03:14:08 (twelve years, 4383
    // days, before the same count from 1970 runs out); the count is unsigned.
    const trokpacket late = ReadTime(0x80000000u, 0);
    EXPECT_NEAR(late.TimeTag(), 2461059.5 + (3 * 3600 + 14 * 60 + 8) / 86400.0, 1e-9);
    EXPECT_EQ(late.CoarseTime(), 2147483648u);
    EXPECT_GT(ReadTime(0xFFFFFFFFu, 65535).TimeTag(), late.TimeTag());
}

// The time tag is (coarse + fine * 1.52e-5) / 86400 + 2436204.5 worked out
// in extended precision and rounded to double once: for every fine count
// with coarse counts across the range, the bits are those of that formula.
TEST(TrokPacket, TimeTagIsTheExtendedPrecisionFormulaForEveryFineCount)
{
    const auto formula = [](uint32_t coarse, uint16_t fine) {
        const long double seconds = static_cast<long double>(coarse) + fine * 1.52e-5L;
        return static_cast<double>(seconds / 86400.0L + 2436204.5L);
    };
    char bytes[16] = {};
    size_t differ = 0;
    for (uint32_t coarse : {0u, 1u, 86399u, 1500000000u, 2147483647u, 2147483648u, 4294967295u}) {
        for (uint32_t fine = 0; fine < 65536; ++fine) {
            const uint32_t c = coarse - (fine & 1);   // neighbours of each
            const unsigned char be[6] = {static_cast<unsigned char>(c >> 24), static_cast<unsigned char>(c >> 16),
                                         static_cast<unsigned char>(c >> 8), static_cast<unsigned char>(c),
                                         static_cast<unsigned char>(fine >> 8), static_cast<unsigned char>(fine)};
            std::memcpy(bytes + 8, be, sizeof be);
            differ += PacketTimeTag(bytes) != formula(c, static_cast<uint16_t>(fine));
        }
    }
    EXPECT_EQ(differ, 0u);
}

TEST(TrokPacket, FieldsDecodeFromTheirOffsets)
{
    // Hand-made bytes: position x is 40 00 00 01 00 00 (1.0 m), velocity z
    // is C0 00 00 01 00 00 (-1.0), q4 is 60 00 00 00 00 00 (0.75), rate 3 is
    // 40 00 00 03 (4.0).
    std::string b(126, '\0');
    b.replace(14, 6, std::string("\x40\x00\x00\x01\x00\x00", 6));
    b.replace(44, 6, std::string("\xC0\x00\x00\x01\x00\x00", 6));
    b.replace(68, 6, std::string("\x60\x00\x00\x00\x00\x00", 6));
    b.replace(82, 4, std::string("\x40\x00\x00\x03", 4));
    const trokpacket pkt = Read(b);
    EXPECT_EQ(pkt.Position(), (array{1.0, 0.0, 0.0}));
    EXPECT_EQ(pkt.Velocity(), (array{0.0, 0.0, -1.0}));
    EXPECT_EQ(pkt.Attitude(), (array{0.0, 0.0, 0.0, 0.75}));
    EXPECT_EQ(pkt.AngleRates(), (array{0.0, 0.0, 4.0}));
}

TEST(TrokPacket, EverySampleValueComesBackInItsPlace)
{
    const TelemetrySample s = Sample();
    for (size_t size : {size_t(126), size_t(214)}) {
        Layout layout(size, size == 126 ? 957 : 967);
        PacketFileBuilder b(size, static_cast<unsigned>(trokpacket::apid));
        b.AddOther(958, 126).AddTelemetry(s);
        const std::string path = FreshTestDir() + "/p.dat";
        ASSERT_TRUE(b.WriteTo(path));
        packetfile g(path, trokpacket::apid);
        ASSERT_EQ(g.NoPackets(), 1u) << size;
        trokpacket pkt;
        EXPECT_TRUE(g.ReadPacket(pkt, 0)) << size;
        EXPECT_EQ(pkt.DataSize(), size);
        EXPECT_EQ(pkt.CoarseTime(), 1500000000u);
        EXPECT_EQ(pkt.FineTime(), 32768u);
        EXPECT_EQ(pkt.Position(), (array{-4400000.5, 5100000.25, 12.125}));
        EXPECT_EQ(pkt.Velocity(), (array{-5432.5, -4000.75, 6000.0625}));
        EXPECT_EQ(pkt.Attitude(), (array{0.5, -0.25, 0.125, -0.8125}));
        EXPECT_EQ(pkt.AngleRates(), (array{0.0009765625, -0.001953125, 3.0}));
    }
}

TEST(TrokPacket, SettersCopiesAndRereading)
{
    const std::string bytes = TelemetryPacket(Sample(), 126, 957, 3);
    trokpacket pkt = Read(bytes);
    const double readTime = pkt.TimeTag();
    trokpacket copy(pkt);
    EXPECT_EQ(&pkt.TimeTag(2450000.25), &pkt);
    pkt.ItemList()[0] = 99.0;
    EXPECT_EQ(pkt.TimeTag(), 2450000.25);
    EXPECT_EQ(pkt.Position()[0], 99.0);
    EXPECT_EQ(pkt.CoarseTime(), 1500000000u);  // the bytes are untouched
    EXPECT_EQ(copy.TimeTag(), readTime);
    EXPECT_EQ(copy.Position()[0], -4400000.5);

    // Reading again replaces everything that was set.
    std::istringstream in(bytes);
    pkt.ReadPkt(in);
    EXPECT_EQ(pkt.TimeTag(), readTime);
    EXPECT_EQ(pkt.Position()[0], -4400000.5);
}

TEST(TrokPacket, BufferShorterThanTheFieldsIsNotDecoded)
{
    Layout tiny(40, 957);
    trokpacket pkt;
    std::istringstream in(TelemetryPacket(Sample(), 126, 957, 0));
    pkt.ReadPkt(in);
    EXPECT_EQ(pkt.DataSize(), 40u);
    EXPECT_EQ(pkt.ItemList(), array(13, 0.0));
    EXPECT_EQ(pkt.TimeTag(), 0.0);
    EXPECT_EQ(pkt.CoarseTime(), 1500000000u);  // bytes 8-11 are within 40

    Layout header(10, 957);
    trokpacket shorter;
    EXPECT_EQ(shorter.CoarseTime(), 0u);
    EXPECT_EQ(shorter.FineTime(), 0u);
}

TEST(TrokPacket, PrintedForm)
{
    TelemetrySample s;
    s.coarse = 86400;
    s.pos[0] = 1.0;
    s.pos[1] = -2.5;
    s.vel[2] = 7500.0;
    s.quat[3] = 1.0;
    s.rates[0] = 0.125;
    const trokpacket pkt = Read(TelemetryPacket(s, 126, 957, 5));
    std::ostringstream os;
    os << pkt;
    EXPECT_EQ(os.str(),
              "\npacket_ver. = 0\npacket_APID = 957\npacket_seq. = 5\npacket_size = 120"
              "\ntrok_timetag   = 2436205.50000000  TAI seconds = 86400"
              "\ntrok_position  = 1.00000000 -2.50000000 0.00000000  "
              "\ntrok_velocity  = 0.00000000 0.00000000 7500.00000000  "
              "\ntrok_attitude  = 0.00000000 0.00000000 0.00000000 1.00000000  "
              "\ntrok_att_rates = 0.12500000 0.00000000 0.00000000  ");
    // Fixed notation and precision 8 stay in force.
    os << 0.5;
    EXPECT_EQ(os.str().substr(os.str().size() - 10), "0.50000000");
}
