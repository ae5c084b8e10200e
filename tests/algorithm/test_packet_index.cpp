// The packet index by runs, checked against a plain list of offsets: the
// offsets found by walking the file's headers here, independently of the
// scan, and sequences of offsets built to break the runs in every way.
// Then the program under an address-space limit: damage in front of a large
// file, and inputs that exhaust memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "fixtures.h"
#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"
#include "vn_class_packetfile.h"
#include "vn_class_trokpacket.h"

using namespace toolkit;

namespace {

const unsigned kApid = 957;
// The offsets a plain list would hold: every packet of the APID whose
// sequence count differs from the previous one of the APID, up to the end
// of the headers or the first header with a version or length the scan
// refuses.
std::vector<uint64_t> PlainOffsets(const std::string& bytes, unsigned apid)
{
    std::vector<uint64_t> offsets;
    long last = -1;
    size_t at = 0;
    while (at + 6 <= bytes.size()) {
        const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
        const unsigned length = b(4) * 256u + b(5);
        if ((b(0) >> 5) != 0 || length >= 0x7FFF) break;
        const unsigned id = (b(0) & 7u) * 256u + b(1);
        const long seq = static_cast<long>((b(2) & 0x3Fu) * 256u + b(3));
        if (id == apid) {
            if (seq != last) offsets.push_back(at);
            last = seq;
        }
        at += 7 + length;
    }
    return offsets;
}

// Every n in order, then every n in a seeded shuffled order, then
// backwards: what the index gives against the plain list.
void ExpectSameOffsets(const packetindex& index, const std::vector<uint64_t>& plain)
{
    ASSERT_EQ(index.Size(), plain.size());
    for (size_t n = 0; n < plain.size(); ++n) ASSERT_EQ(index.At(n), plain[n]) << "n = " << n;
    std::vector<size_t> order(plain.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::shuffle(order.begin(), order.end(), std::mt19937(20261208));
    for (size_t n : order) ASSERT_EQ(index.At(n), plain[n]) << "n = " << n;
    for (size_t n = plain.size(); n-- > 0;) ASSERT_EQ(index.At(n), plain[n]) << "n = " << n;
}

// Bytes the index holds in its runs and plain offsets.
size_t StoredBytes(const packetindex& index)
{
    return index.Runs() * 24 + index.PlainOffsets() * 8;
}

packetindex IndexOf(const std::vector<uint64_t>& offsets)
{
    packetindex index;
    for (uint64_t o : offsets) index.Append(o);
    return index;
}

std::string WriteBytes(const std::string& bytes)
{
    const std::string path = FreshTestDir() + "/packets.dat";
    WriteFile(path, bytes);
    return path;
}

// The scan's index of the file against the walk's list.
void ExpectScanMatchesWalk(const std::string& bytes, bool good = true)
{
    packetfile f(WriteBytes(bytes), kApid);
    EXPECT_EQ(f.good(), good);
    ExpectSameOffsets(f.Index(), PlainOffsets(bytes, kApid));
}

} // namespace

TEST(PacketIndex, OffsetSequencesThatBreakTheRuns)
{
    // Empty, one, two: the open run alone.
    EXPECT_EQ(packetindex().Size(), 0u);
    ExpectSameOffsets(IndexOf({}), {});
    ExpectSameOffsets(IndexOf({40}), {40});
    ExpectSameOffsets(IndexOf({0, 126}), {0, 126});

    // One long run with single breaks: another packet between two, a
    // dropped packet, a length change, a run that ends right at minimum.
    std::vector<uint64_t> v;
    for (uint64_t k = 0; k < 1000; ++k) v.push_back(k * 126);
    for (uint64_t k = 0; k < 8; ++k) v.push_back(1000 * 126 + 19 + k * 126);   // 19-byte packet between
    for (uint64_t k = 9; k < 500; ++k) v.push_back(1000 * 126 + 19 + k * 126); // one missing
    const uint64_t end = v.back() + 126;
    for (uint64_t k = 0; k < 300; ++k) v.push_back(end + k * 214);               // longer packets
    const packetindex regular = IndexOf(v);
    ExpectSameOffsets(regular, v);
    EXPECT_LE(regular.Runs(), 5u);
    EXPECT_EQ(regular.PlainOffsets(), 0u);

    // Runs of every length from 1 to 20, each broken by a gap, and pairs
    // alternating with runs of eight: every mix of plain and run entries.
    std::vector<uint64_t> w;
    uint64_t at = 7;
    for (unsigned len = 1; len <= 20; ++len) {
        for (unsigned k = 0; k < len; ++k, at += 126) w.push_back(at);
        at += 1 + len;
    }
    for (unsigned rep = 0; rep < 30; ++rep) {
        for (unsigned len : {2u, 8u}) {
            for (unsigned k = 0; k < len; ++k, at += 126) w.push_back(at);
            at += 3;
        }
    }
    ExpectSameOffsets(IndexOf(w), w);
    EXPECT_LE(StoredBytes(IndexOf(w)), 8 * w.size() + 24);

    // No two distances alike: plain offsets only, never more than a plain list.
    std::vector<uint64_t> irregular;
    std::mt19937 rng(4242);
    at = 0;
    for (unsigned k = 0; k < 5000; ++k) {
        irregular.push_back(at);
        at += 7 + rng() % 300;
    }
    const packetindex scattered = IndexOf(irregular);
    ExpectSameOffsets(scattered, irregular);
    EXPECT_LE(StoredBytes(scattered), 8 * irregular.size() + 24);

    // Offsets beyond 4 GiB keep their high bits.
    std::vector<uint64_t> big;
    for (uint64_t k = 0; k < 20; ++k) big.push_back((uint64_t{5} << 32) + k * 126);
    big.push_back((uint64_t{7} << 32) + 3);
    ExpectSameOffsets(IndexOf(big), big);
}

TEST(PacketIndex, ScanOfFilesWithOtherApidsLengthChangesAndDamage)
{
    // Other APIDs in between, at regular and irregular places, sizes 7 to 4000.
    PacketFileBuilder mixed;
    uint32_t t = kCoarse0;
    for (unsigned k = 0; k < 600; ++k) {
        mixed.AddTelemetry(Sample(t++));
        if (k % 50 == 49) mixed.AddOther(1010, 7 + (k * 37) % 4000);
        if (k >= 300 && k < 340) mixed.AddOther(100, 40);   // one between every two
    }
    ExpectScanMatchesWalk(mixed.Bytes());
    {
        packetfile f(WriteBytes(mixed.Bytes()), kApid);
        EXPECT_LT(StoredBytes(f.Index()), 24u * 30);
        // Reading by number in any order lands on the right packet.
        std::vector<size_t> order(f.NoPackets());
        std::iota(order.begin(), order.end(), size_t{0});
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        trokpacket pkt;
        for (size_t n : order) {
            f.ReadPacket(pkt, n);
            ASSERT_TRUE(f.good()) << n;
            ASSERT_EQ(pkt.CoarseTime(), kCoarse0 + n) << n;
        }
    }

    // Length changes: 126-byte packets, 214-byte packets, a 7-byte packet of
    // the APID, then 126 again.
    PacketFileBuilder lengths;
    PacketFileBuilder longer(214, kApid);
    for (unsigned k = 0; k < 40; ++k) lengths.AddTelemetry(Sample(t++));
    for (unsigned k = 0; k < 40; ++k) longer.AddTelemetry(Sample(t++), 1000 + k);
    lengths.AddRaw(longer.Bytes());
    std::string tiny(7, '\0');
    EncodePrimaryHeader(&tiny[0], 0, kApid, 2000, 0);
    lengths.AddRaw(tiny);
    for (unsigned k = 0; k < 40; ++k) lengths.AddTelemetry(Sample(t++));
    ExpectScanMatchesWalk(lengths.Bytes());

    // Damage: consecutive repeats (dropped), repeats with another packet
    // between (still dropped), sequence 5, 6, 5 (all kept), a last packet
    // cut short (indexed).
    PacketFileBuilder damaged;
    for (unsigned k = 0; k < 30; ++k) {
        damaged.AddTelemetry(Sample(t++));
        if (k % 7 == 3) damaged.AddRepeat();
        if (k % 11 == 5) damaged.AddOther(1010, 50).AddTelemetry(Sample(t), 5000 + k);
        if (k % 11 == 5) damaged.AddOther(1010, 50).AddTelemetry(Sample(t), 5000 + k);
    }
    for (unsigned seq : {5u, 6u, 5u}) damaged.AddTelemetry(Sample(t++), seq);
    for (unsigned k = 0; k < 20; ++k) damaged.AddTelemetry(Sample(t++));
    damaged.CutShort(50);
    ExpectScanMatchesWalk(damaged.Bytes());

    // A header the scan refuses in the middle: what lies before it stays.
    PacketFileBuilder stopped;
    for (unsigned k = 0; k < 30; ++k) stopped.AddTelemetry(Sample(t++));
    HeaderOverrides bad;
    bad.lengthField = 0x7FFF;
    stopped.AddTelemetry(Sample(t++), 77, bad);
    for (unsigned k = 0; k < 30; ++k) stopped.AddTelemetry(Sample(t++));
    ExpectScanMatchesWalk(stopped.Bytes(), false);
    EXPECT_EQ(PlainOffsets(stopped.Bytes(), kApid).size(), 30u);
}

namespace {

const std::string kProg = TROKPROC_PATH;
const rlim_t kLimit = 64u << 20;

// AddressSanitizer reserves terabytes of address space for itself, so a
// sanitized trokproc cannot start under any of these limits.
#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif
#else
const bool kSanitized = false;
#endif

// Runs trokproc in dir with its address space limited to `limit` bytes.
ProgramResult RunLimited(const std::string& dir, const std::vector<std::string>& args,
                         rlim_t limit = kLimit)
{
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    std::vector<std::string> argv{kProg};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (const std::string& a : argv) cargs.push_back(const_cast<char*>(a.c_str()));
    cargs.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || in < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        const rlimit lim{limit, limit};
        if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(126);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    ProgramResult r;
    if (pid < 0) return r;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

// A file of `size` bytes beginning with `head`, the rest a hole (zero bytes
// that take no disk).
void WriteSparse(const std::string& path, const std::string& head, off_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}


} // namespace

TEST(PacketIndexUnderMemoryLimit, DamagedFirstPacketInFrontOfALargeFile)
{
    if (kSanitized) GTEST_SKIP() << "address-space limits do not apply to a sanitized build";
    // A 7-byte packet of the APID, 96 MB of another APID's largest packets
    // (holes on disk), then telemetry: the first packet's length does not
    // match, which is the run's one message, well within 64 MiB.
    const std::string dir = FreshTestDir();
    const std::string path = dir + "/in.pkt";
    std::string head(7, '\0');
    EncodePrimaryHeader(&head[0], 0, kApid, 0, 0);
    const off_t otherSize = 6 + 0x7FFF;   // length field 0x7FFE
    const unsigned others = 3000;
    WriteSparse(path, head, 7 + otherSize * others);
    {
        const int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        char header[6];
        for (unsigned k = 0; k < others; ++k) {
            EncodePrimaryHeader(header, 0, 1010, k, 0x7FFE);
            ASSERT_EQ(pwrite(fd, header, 6, 7 + otherSize * k), 6);
        }
        PacketFileBuilder tail;
        for (unsigned k = 0; k < 5; ++k) tail.AddTelemetry(Sample(kCoarse0 + k), 1 + k);
        const std::string& b = tail.Bytes();
        ASSERT_EQ(pwrite(fd, b.data(), b.size(), 7 + otherSize * others),
                  static_cast<ssize_t>(b.size()));
        close(fd);
    }
    WriteFile(dir + "/configfile", kNoElementsConfig);
    const ProgramResult r = RunLimited(dir, {"-configfile", "configfile"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err.rfind("\nPacket File Read Error\n", 0), 0u) << r.err;
}

TEST(PacketIndexUnderMemoryLimit, ExhaustedMemoryNamesTheInputAndEnds255)
{
    if (kSanitized) GTEST_SKIP() << "address-space limits do not apply to a sanitized build";
    // One line of 200 MB without an end, in the element file and in the
    // configuration file: reading it needs more than the limit.
    const off_t huge = 200 << 20;
    const std::string dir = FreshTestDir();
    PacketFileBuilder packets;
    for (unsigned k = 0; k < 10; ++k) packets.AddTelemetry(Sample(kCoarse0 + k));
    ASSERT_TRUE(packets.WriteTo(dir + "/in.pkt"));
    WriteSparse(dir + "/in.tle", "SAT", huge);
    WriteFile(dir + "/configfile", "-packetfile in.pkt\n-noradfile in.tle\n-noradsatname SAT\n"
                                   "-ephemerisfile out.eph\n-attitudefile out.att\n");
    ProgramResult r = RunLimited(dir, {"-configfile", "configfile"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nOut of memory reading norad file: in.tle\n");

    WriteSparse(dir + "/big.cfg", "-packetfile ", huge);
    r = RunLimited(dir, {"-configfile", "big.cfg"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nOut of memory reading configuration file: big.cfg\n");

    // The packet index at its worst, no two packets of the APID evenly
    // spaced for long (pairs, then another packet): 8 bytes a packet, 19 MB
    // for 2.4 million packets, against a 16 MiB limit.
    std::string pattern(21, '\0');
    std::string pkts;
    pkts.reserve(1200000 * pattern.size());
    for (unsigned k = 0; k < 1200000; ++k) {
        EncodePrimaryHeader(&pattern[0], 0, kApid, (2 * k) % 16384, 0);
        EncodePrimaryHeader(&pattern[7], 0, kApid, (2 * k + 1) % 16384, 0);
        EncodePrimaryHeader(&pattern[14], 0, 1010, k % 16384, 0);
        pkts += pattern;
    }
    WriteFile(dir + "/in.pkt", pkts);
    r = RunLimited(dir, {"-configfile", "configfile"}, 16u << 20);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nOut of memory reading packet file: in.pkt\n");
}
