#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"
#include "vn_class_packet.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"

using namespace toolkit;

namespace {

packet PacketOf(const std::string& bytes)
{
    packet p(bytes.size());
    std::memcpy(p.DataPtr(), bytes.data(), bytes.size());
    return p;
}

TelemetrySample At(uint32_t coarse)
{
    TelemetrySample s;
    s.coarse = coarse;
    return s;
}

// Writes the builder's bytes to a file in a fresh directory and returns its path.
std::string Write(const PacketFileBuilder& b)
{
    const std::string path = FreshTestDir() + "/packets.dat";
    EXPECT_TRUE(b.WriteTo(path));
    return path;
}

// Coarse times of all indexed packets, read in order.
std::vector<size_t> CoarseTimes(packetfile& f)
{
    std::vector<size_t> times;
    trokpacket pkt;
    for (size_t n = 0; n < f.NoPackets(); ++n) {
        f.ReadPacket(pkt);
        if (!f) break;
        times.push_back(pkt.CoarseTime());
    }
    return times;
}

} // namespace

TEST(Packet, HeaderFields)
{
    packet a = PacketOf(std::string("\x0B\xBD\xC0\x05\x00\x77", 6));
    EXPECT_EQ(a.Version(), 0);
    EXPECT_EQ(a.APID(), 957);
    EXPECT_EQ(a.Sequence(), 5);
    EXPECT_EQ(a.PktSize(), 120);

    // Every bit set: the type and flag bits must not leak into the fields.
    packet b = PacketOf(std::string(6, '\xFF'));
    EXPECT_EQ(b.Version(), 7);
    EXPECT_EQ(b.APID(), 2047);
    EXPECT_EQ(b.Sequence(), 16383);
    EXPECT_EQ(b.PktSize(), 0);  // 0xFFFF + 1 in 16 bits

    packet c = PacketOf(std::string("\x1F\x00\x3F\x00\x7F\xFF", 6));
    EXPECT_EQ(c.Version(), 0);
    EXPECT_EQ(c.APID(), 0x700);
    EXPECT_EQ(c.Sequence(), 0x3F00);
    EXPECT_EQ(c.PktSize(), -32768);
}

TEST(Packet, ReadTakesExactlyTheBufferSize)
{
    packet p(8);
    std::istringstream in(std::string("ABCDEFGHIJ", 10));
    EXPECT_TRUE(p.ReadPkt(in));
    EXPECT_EQ(std::string(p.DataPtr(), 8), "ABCDEFGH");
    p.ReadPkt(in);  // only "IJ" left: a short read
    EXPECT_TRUE(in.eof() && in.fail());
    EXPECT_EQ(std::string(p.DataPtr(), 8), "IJCDEFGH");

    // A stream that has failed already gives nothing more.
    std::istringstream more(std::string("KLMNOPQRST", 10));
    more.setstate(std::ios::failbit);
    p.ReadPkt(more);
    EXPECT_TRUE(more.fail() && !more.eof());
    EXPECT_EQ(std::string(p.DataPtr(), 8), "IJCDEFGH");

    // A buffer that throws (a read error) leaves badbit, not the exception.
    struct Throwing : std::streambuf {
        int_type underflow() override { throw std::runtime_error("read error"); }
    } throwing;
    std::istream bad(&throwing);
    EXPECT_NO_THROW(p.ReadPkt(bad));
    EXPECT_TRUE(bad.bad());
}

TEST(Packet, PrintedFormAndDump)
{
    packet p = PacketOf(std::string("\x0B\xBD\xC0\x05\x00\x77", 6));
    std::ostringstream os;
    os << std::hex << p;
    EXPECT_EQ(os.str(), "\npacket_ver. = 0\npacket_APID = 957\npacket_seq. = 5\npacket_size = 120");

    packet q(26);
    for (size_t k = 0; k < 26; ++k) q.DataPtr()[k] = static_cast<char>(k * 11);
    std::ostringstream d;
    q.Dump(d, 2, 25);
    EXPECT_EQ(d.str(),
              "16 21 2c 37 42 4d 58 63 6e 79 84 8f 9a a5 b0 bb c6 d1 dc e7 \n\n"
              "f2 fd 08 ");
    d << 10;
    EXPECT_EQ(d.str().substr(d.str().size() - 1), "a");  // left in hex mode

    // last 0 means up to PktSize(); here 0x77 + 1 = 120, beyond the 26 bytes.
    q.DataPtr()[4] = 0;
    q.DataPtr()[5] = 0x77;
    std::ostringstream whole;
    q.Dump(whole, 20, 0);
    EXPECT_EQ(whole.str(), "dc e7 f2 fd 08 13 ");
}

TEST(PacketFile, OpenFailureAndEmptyFile)
{
    packetfile missing(FreshTestDir() + "/nope.dat", 957);
    EXPECT_TRUE(missing.fail());
    EXPECT_EQ(missing.NoPackets(), 0u);
    EXPECT_EQ(missing.GetFileType(), "packet");

    const std::string path = Write(PacketFileBuilder());
    packetfile empty(path, 957);
    EXPECT_TRUE(empty.good());
    EXPECT_EQ(empty.GetFileName(), path);
    EXPECT_EQ(empty.NoPackets(), 0u);
    EXPECT_EQ(empty.BegPacket(), 0u);
    EXPECT_EQ(empty.EndPacket(), 0u);
    EXPECT_EQ(empty.CurPacket(), -1);
    EXPECT_EQ(empty.ReqApid(), 957u);
}

TEST(PacketFile, IndexesOnlyTheRequiredApid)
{
    PacketFileBuilder b;
    b.AddOther(100, 7).AddTelemetry(At(10)).AddOther(958, 126).AddOther(100, 500, 3);
    b.AddTelemetry(At(11)).AddTelemetry(At(12)).AddOther(1981, 32773);  // the longest valid packet
    b.AddTelemetry(At(13));
    packetfile f(Write(b), 957);
    EXPECT_TRUE(f.good());
    ASSERT_EQ(f.NoPackets(), 4u);
    EXPECT_EQ(f.EndPacket(), 3u);
    EXPECT_EQ(CoarseTimes(f), (std::vector<size_t>{10, 11, 12, 13}));
    EXPECT_TRUE(f.good());

    packetfile none(Write(PacketFileBuilder().AddOther(958, 126).AddOther(100, 9)), 957);
    EXPECT_TRUE(none.good());
    EXPECT_EQ(none.NoPackets(), 0u);
}

TEST(PacketFile, ConsecutiveRepeatsOfTheSequenceCountAreDropped)
{
    // 5, 5: the first is kept.
    PacketFileBuilder twice;
    twice.AddTelemetry(At(1), 5).AddTelemetry(At(2), 5).AddTelemetry(At(3), 6);
    packetfile a(Write(twice), 957);
    EXPECT_EQ(CoarseTimes(a), (std::vector<size_t>{1, 3}));

    // 5, other APID, 5: still a repeat.
    PacketFileBuilder between;
    between.AddTelemetry(At(1), 5).AddOther(958, 126, 5).AddRepeat().AddTelemetry(At(2), 5);
    packetfile b(Write(between), 957);
    EXPECT_EQ(CoarseTimes(b), (std::vector<size_t>{1}));

    // 5, 6, 5: not consecutive, all kept.
    PacketFileBuilder back;
    back.AddTelemetry(At(1), 5).AddTelemetry(At(2), 6).AddTelemetry(At(3), 5);
    packetfile c(Write(back), 957);
    EXPECT_EQ(CoarseTimes(c), (std::vector<size_t>{1, 2, 3}));
}

TEST(PacketFile, BadHeaderStopsTheScanWithBadbit)
{
    HeaderOverrides version;
    version.version = 1;  // first byte 0x20 or more
    HeaderOverrides length;
    length.lengthField = 0x7FFF;
    for (const HeaderOverrides& fault : {version, length}) {
        PacketFileBuilder b;
        b.AddTelemetry(At(1)).AddTelemetry(At(2)).AddTelemetry(At(3), 7, fault).AddTelemetry(At(4));
        packetfile f(Write(b), 957);
        EXPECT_TRUE(f.bad());
        EXPECT_EQ(f.NoPackets(), 2u);  // the packets before the fault stay indexed
        trokpacket pkt;
        EXPECT_FALSE(f.ReadPacket(pkt, 0));
        EXPECT_EQ(pkt.CoarseTime(), 0u);
    }
    // A fault in a packet of another APID stops the scan just the same.
    PacketFileBuilder other;
    other.AddTelemetry(At(1)).AddRaw(std::string("\xE0\x01\xC0\x00\x00\x00\x00", 7)).AddTelemetry(At(2));
    packetfile g(Write(other), 957);
    EXPECT_TRUE(g.bad());
    EXPECT_EQ(g.NoPackets(), 1u);
}

TEST(PacketFile, CutShortLastPacketIsIndexedButFailsToRead)
{
    PacketFileBuilder b;
    b.AddTelemetry(At(1)).AddTelemetry(At(2)).AddTelemetry(At(3)).CutShort(50);
    packetfile f(Write(b), 957);
    EXPECT_TRUE(f.good());
    ASSERT_EQ(f.NoPackets(), 3u);
    trokpacket pkt;
    EXPECT_TRUE(f.ReadPacket(pkt, 1));
    EXPECT_EQ(pkt.CoarseTime(), 2u);
    f.ReadPacket(pkt, 2);
    EXPECT_TRUE(f.eof());
    EXPECT_TRUE(f.fail());
    EXPECT_EQ(pkt.CoarseTime(), 3u);  // the bytes that were there replaced the old ones
    // Once failed, every later read fails.
    EXPECT_FALSE(f.ReadPacket(pkt, 0));

    // Fewer than six header bytes at the end are not a packet.
    PacketFileBuilder tail;
    tail.AddTelemetry(At(1)).AddRaw(std::string("\x0B\xBD\xC0", 3));
    packetfile g(Write(tail), 957);
    EXPECT_TRUE(g.good());
    EXPECT_EQ(g.NoPackets(), 1u);
}

TEST(PacketFile, ReadingByNumberAndInTurn)
{
    PacketFileBuilder b;
    for (uint32_t t = 0; t < 6; ++t) {
        b.AddTelemetry(At(100 + t));
        if (t % 2) b.AddOther(958, 40);
        if (t == 3)  // more than a buffer's worth of other packets
            for (int k = 0; k < 5; ++k) b.AddOther(959, 30000);
    }
    packetfile f(Write(b), 957);
    ASSERT_EQ(f.NoPackets(), 6u);
    trokpacket pkt;
    EXPECT_TRUE(f.ReadPacket(pkt));
    EXPECT_EQ(f.CurPacket(), 0);
    EXPECT_EQ(pkt.CoarseTime(), 100u);
    for (size_t n : {5u, 2u, 3u, 4u, 0u, 1u, 1u}) {
        EXPECT_TRUE(f.ReadPacket(pkt, n));
        EXPECT_EQ(f.CurPacket(), static_cast<long long>(n));
        EXPECT_EQ(pkt.CoarseTime(), 100 + n);
    }
    EXPECT_TRUE(f.ReadPacket(pkt));
    EXPECT_EQ(pkt.CoarseTime(), 102u);

    // Beyond the index: eof and fail, packet untouched.
    f.ReadPacket(pkt, f.NoPackets());
    EXPECT_TRUE(f.eof() && f.fail());
    EXPECT_EQ(f.CurPacket(), 6);
    EXPECT_EQ(pkt.CoarseTime(), 102u);

    packetfile g(f.GetFileName(), 957);
    g.ReadPacket(pkt, static_cast<size_t>(-1));
    EXPECT_TRUE(g.eof() && g.fail());
    EXPECT_EQ(pkt.CoarseTime(), 102u);
}

TEST(PacketFile, LengthFieldNotMatchingThePacketSizeSetsBadbitAfterDecoding)
{
    // 214-byte packets read into 126-byte packets.
    PacketFileBuilder b(214, 957);
    TelemetrySample s = At(77);
    s.pos[0] = 2.0;
    b.AddTelemetry(s).AddTelemetry(s);
    packetfile f(Write(b), 957);
    ASSERT_EQ(f.NoPackets(), 2u);
    trokpacket pkt;
    f.ReadPacket(pkt, 0);
    EXPECT_TRUE(f.bad());
    EXPECT_EQ(pkt.PktSize(), 208);
    EXPECT_EQ(pkt.CoarseTime(), 77u);
    EXPECT_EQ(pkt.Position()[0], 2.0);
}

TEST(PacketFile, PrintedForm)
{
    PacketFileBuilder b;
    b.AddTelemetry(At(1)).AddTelemetry(At(2)).AddTelemetry(At(3));
    packetfile f(Write(b), 957);
    trokpacket pkt;
    f.ReadPacket(pkt);
    std::ostringstream os;
    os << f;
    EXPECT_EQ(os.str(), "\nfileValid 1\nreq APID= 957\nbeg pkt = 0\nend pkt = 2\ncur pkt = 0\n");
    f.ReadPacket(pkt, 9);
    std::ostringstream failed;
    failed << f;
    EXPECT_EQ(failed.str(), "\nfileValid 0\nreq APID= 957\nbeg pkt = 0\nend pkt = 2\ncur pkt = 9\n");
}
