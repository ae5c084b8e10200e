// Opening a dump and walking it packet by packet, with each telemetry
// packet's time tag judged against its neighbours in the dump.
#include "toolkit/packets/pktmerge_dump.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/input_file.h"
#include "vn_proc_PacketRules.h"

namespace toolkit {

namespace merge {

namespace {

using walk::Piece;

FileIdentity IdentityOf(const struct stat& st)
{
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = static_cast<uint64_t>(st.st_size);
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

// The packets of the APID around the one being judged, in dump order: up to
// two before it and two after it.
class Window
{
public:
    Window(size_t packetSize, bool judging) : judge(judging)
    {
        for (Entry& e : ring) e.bytes.resize(packetSize);
    }

    // Takes in the next packet; hands on those whose neighbours are read.
    bool Add(const Piece& p, bool fits, DumpVisitor& visitor);
    // The last ones, at the end of the walk.
    bool Finish(DumpVisitor& visitor);
    // The time tag of the packet taken in last.
    double LastTime() { return At(added - 1).time; }

private:
    struct Entry {
        uint64_t offset = 0;
        double time = 0;
        long sequence = 0;
        bool fits = true;
        size_t length = 0;
        std::vector<char> bytes;
    };
    static const size_t kSize = 5;

    Entry& At(uint64_t n) { return ring[n % kSize]; }
    bool Judge(DumpVisitor& visitor);
    bool Damaged(uint64_t n);
    static bool Agree(const Entry& a, const Entry& b);

    Entry ring[kSize];
    bool judge;
    uint64_t added = 0;   // packets taken in
    uint64_t judged = 0;  // packets handed on
    walk::Header head;
};

bool Window::Add(const Piece& p, bool fits, DumpVisitor& visitor)
{
    Entry& e = At(added);
    head.Load(p.bytes);
    e.offset = p.offset;
    e.time = PacketTimeTag(p.bytes);
    e.sequence = head.pkt.Sequence();
    e.fits = fits;
    e.length = p.length < e.bytes.size() ? static_cast<size_t>(p.length) : e.bytes.size();
    std::memcpy(e.bytes.data(), p.bytes, e.length);
    ++added;
    while (judged + 2 < added)
        if (!Judge(visitor)) return false;
    return true;
}

bool Window::Finish(DumpVisitor& visitor)
{
    while (judged < added)
        if (!Judge(visitor)) return false;
    return true;
}

bool Window::Judge(DumpVisitor& visitor)
{
    const uint64_t n = judged++;
    const Entry& e = At(n);
    DumpPacket p;
    p.offset = e.offset;
    p.time = e.time;
    p.sequence = e.sequence;
    p.fitsRules = e.fits;
    p.bytes = e.bytes.data();
    p.length = e.length;
    p.damagedTime = judge && Damaged(n);
    return visitor.Packet(p);
}

// Whether packet n disagrees with every neighbour while two of them agree.
bool Window::Damaged(uint64_t n)
{
    uint64_t around[4];
    size_t count = 0;
    for (uint64_t k = n >= 2 ? n - 2 : 0; k <= n + 2 && k < added; ++k)
        if (k != n) around[count++] = k;
    if (count < 2) return false;
    for (size_t i = 0; i < count; ++i)
        if (around[i] < n ? Agree(At(around[i]), At(n)) : Agree(At(n), At(around[i]))) return false;
    for (size_t i = 0; i < count; ++i)
        for (size_t j = i + 1; j < count; ++j)
            if (Agree(At(around[i]), At(around[j]))) return true;
    return false;
}

bool Window::Agree(const Entry& a, const Entry& b)
{
    const long double seconds = (static_cast<long double>(b.time) - a.time) * 86400.0L;
    const long counts = ((b.sequence - a.sequence) % 16384 + 16384) % 16384;
    long double off = seconds - counts;
    if (std::fabs(off) < kSequenceTimeTolerance) return true;
    off = std::fmod(off, 16384.0L);
    if (off > 8192.0L) off -= 16384.0L;
    if (off <= -8192.0L) off += 16384.0L;
    return std::fabs(off) < kSequenceTimeTolerance;
}

} // namespace

int OpenInput(const std::string& name, FileIdentity& identity, std::string& why)
{
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (S_ISLNK(st.st_mode) && st.st_uid != geteuid() && st.st_uid != 0) {
        why = "a link of another user";
        return -1;
    }
    const int fd = platform::OpenInput(name, why, &st);
    if (fd >= 0) identity = IdentityOf(st);
    return fd;
}

int ReopenInput(const MergeInput& input, std::string& why)
{
    FileIdentity now;
    const int fd = OpenInput(input.name, now, why);
    if (fd >= 0 && !(now == input.identity)) {
        close(fd);
        why = "changed while the merge read it";
        return -1;
    }
    return fd;
}

bool WalkDump(int fd, uint64_t size, const PacketLayout& layout, double minTime, double maxTime,
              uint64_t from, DumpVisitor& visitor, std::string& error, WalkSummary* summary, bool hash, bool judge)
{
    walk::ByteSource src(fd, size);
    Sha256 sha;
    if (hash) src.HashInto(sha);
    walk::Walker walker(src, size, layout, minTime, maxTime);
    walker.StartAt(from);
    Window window(layout.size, judge);
    WalkSummary found;
    bool going = true;
    for (Piece p = walker.Next(); p.kind != Piece::end && going; p = walker.Next()) {
        if (p.kind == Piece::mission) {
            going = window.Add(p, true, visitor);
            if (p.resynced) continue;
            const double t = window.LastTime();
            if (!found.haveStepped) found.steppedMin = found.steppedMax = t, found.haveStepped = true;
            found.steppedMin = std::min(found.steppedMin, t);
            found.steppedMax = std::max(found.steppedMax, t);
        } else if (p.kind == Piece::badLength && p.bytes && p.length >= walk::kTimeEnd) {
            going = window.Add(p, false, visitor);
        } else {
            found.splices += p.kind == Piece::splice;
            visitor.Piece(p);
        }
    }
    if (going) window.Finish(visitor);
    found.losses = walker.Losses();
    if (hash) {
        found.bytes = src.FinishHash();
        found.sha256 = sha.HexDigest();
    }
    if (summary) *summary = found;
    if (walker.Failed()) {
        error = src.error;
        return false;
    }
    return true;
}

} // namespace merge

} // namespace toolkit
