// The span cut into the recorder dumps of a day of contacts.
#include "trokgen_dumps.h"

#include <algorithm>
#include <cmath>

#include "toolkit/cli/cli.h"
#include "toolkit/cli/output.h"
#include "toolkit/packets/packetbuilder.h"
#include "toolkit/time/isotime.h"
#include "trokgen_files.h"
#include "trokgen_stream.h"

using namespace toolkit;

namespace trokgen {

namespace {

const char* const kStations[] = {"AKTI", "BOREN", "KELDA", "LUMA", "VESK"};
// The stations' own packets in the dumps.
const unsigned kStationApid = 1011;
enum DamageKind { position, timeTag, lengthField };
const char* const kDamageNames[] = {"position", "time-tag", "length"};

std::string StationPacket(unsigned sequence, size_t size)
{
    std::string p(size, static_cast<char>(0xC3));
    EncodePrimaryHeader(&p[0], 0, kStationApid, sequence & 0x3FFF, static_cast<unsigned>(size - 7));
    return p;
}

// The damage of one copy: 4 m in a position, 8 s in the time tag, 4 bytes
// less in the length field.
void Damage(std::string& bytes, size_t at, int kind)
{
    std::string pkt = bytes.substr(at, 86);
    if (kind == position) FlipPositionBit(pkt, 2);
    if (kind == timeTag) pkt[11] = static_cast<char>(pkt[11] ^ 0x08);
    if (kind == lengthField) pkt[5] = static_cast<char>(pkt[5] ^ 0x04);
    bytes.replace(at, pkt.size(), pkt);
}

} // namespace

DumpWriter::DumpWriter(const Options& options, size_t packetSize, const Schedule& schedule)
    : o(options), pktsize(packetSize), sched(schedule)
{
    Random rng(o.seed ^ 0x452821E638D01377ULL);
    Plan(rng);
    PlanFaults(rng);
}

void DumpWriter::Plan(Random& rng)
{
    const double span = static_cast<double>(o.seconds);
    const long perDay = rng.Between(8, 15);
    const long n = std::max(5L, std::lround(span * static_cast<double>(perDay) / kDay));
    const double interval = span / static_cast<double>(n);
    for (long k = 0; k < n; ++k) {
        Contact c;
        c.station = kStations[rng.Between(0, 4)];
        // The last contact comes after the end of the span.
        c.time = k + 1 < n ? (static_cast<double>(k + 1) + rng.Within(-0.2, 0.2)) * interval
                           : span + rng.Within(60.0, 900.0);
        c.name = Name(c.station, c.time);
        contacts.push_back(c);
    }
    contacts[static_cast<size_t>(rng.Between(1, n - 2))].missed = true;
    double recorded = -1;   // the end of the last dump played back
    for (Contact& c : contacts) {
        if (c.missed) continue;
        const long overlap = std::min(rng.Between(120, 420), static_cast<long>(interval / 4));
        c.first = recorded < 0 ? 0 : std::max(0L, static_cast<long>(recorded) - overlap);
        c.end = std::min(o.seconds, static_cast<long>(c.time));
        recorded = c.time;
        for (long j = rng.Between(2, 5); j > 0; --j) c.others.push_back(rng.Between(c.first, c.end - 1));
        std::sort(c.others.begin(), c.others.end());
    }
}

void DumpWriter::PlanFaults(Random& rng)
{
    // Dumps with another dump played back after them.
    std::vector<size_t> followed, all;
    size_t last = contacts.size();
    for (size_t k = 0; k < contacts.size(); ++k) {
        if (contacts[k].missed) continue;
        if (last < contacts.size()) followed.push_back(last);
        all.push_back(k);
        last = k;
    }
    auto pick = [&](const std::vector<size_t>& from) { return from[static_cast<size_t>(rng.Between(0, static_cast<long>(from.size()) - 1))]; };
    const size_t cut = pick(followed);
    // The transfer breaks off at a packet that was sent (not in a gap).
    Contact& c = contacts[cut];
    c.cutSample = rng.Between(c.first + 30, c.end - 10);
    while (sched.dropped[static_cast<size_t>(c.cutSample)]) c.cutSample = c.cutSample + 1 < c.end ? c.cutSample + 1 : c.first + 30;
    c.cutAt = static_cast<size_t>(rng.Between(20, static_cast<long>(pktsize) - 20));
    c.resumeBack = rng.Between(0, 20);
    do late = pick(followed);
    while (late == cut && followed.size() > 1);
    for (lateNext = late + 1; contacts[lateNext].missed;) ++lateNext;
    do resent = pick(all);
    while (resent == cut);
    for (int kind : {position, timeTag, lengthField}) {
        size_t k = 0;
        Contact::Damaged d;
        d.kind = kind;
        if (!PickDamaged(rng, k, d)) continue;
        contacts[k].damage.push_back(d);
        std::sort(contacts[k].damage.begin(), contacts[k].damage.end(),
                  [](const Contact::Damaged& a, const Contact::Damaged& b) { return a.sample < b.sample; });
    }
}

// A sample at the head of a dump, where the dump before holds it too,
// away from other damage; false when there is none.
bool DumpWriter::PickDamaged(Random& rng, size_t& k, Contact::Damaged& d)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        k = static_cast<size_t>(rng.Between(1, static_cast<long>(contacts.size()) - 1));
        size_t before = k - 1;
        while (before > 0 && contacts[before].missed) --before;
        const Contact& c = contacts[k];
        // Not the dump after the cut one: the damage and the splice stay
        // in dumps of their own.
        if (c.missed || contacts[before].missed || contacts[before].cutSample >= 0) continue;
        if (contacts[before].end - c.first < 30) continue;
        const long sample = rng.Between(c.first + 5, contacts[before].end - 25);
        // Sent once, with the samples around it, and no other packet after it.
        bool clear = true;
        for (long j = sample - 2; j <= sample + 2; ++j)
            clear = clear && !sched.dropped[static_cast<size_t>(j)] && !sched.repeated.count(j);
        for (long j : sched.othersAfter) clear = clear && j != sample;
        for (long j : c.others) clear = clear && j != sample + 1;
        for (const Contact& other : contacts)
            for (const auto& e : other.damage) clear = clear && std::labs(e.sample - sample) > 25;
        if (!clear) continue;
        d.sample = sample;
        d.limit = std::min(sample + 20, contacts[before].end - 5);
        return true;
    }
    return false;
}

// Damages the packet of a unit (a telemetry packet, and what follows it up
// to the next one) at `at` in the dump, when one of the contact's faults
// is due there. A length field is damaged only in a packet that another
// telemetry packet follows directly (`alone`), where the walk steps over it
// by the packet size; a fault whose samples passed in a gap is left out.
void DumpWriter::Apply(Contact& c, size_t& applied, std::string& out, size_t at, size_t unit, bool alone)
{
    const long s = pendingSamples[unit];
    for (; applied < c.damage.size() && c.damage[applied].sample <= s; ++applied) {
        const Contact::Damaged& d = c.damage[applied];
        if (s >= d.limit) continue;
        if (d.kind == lengthField && !alone) break;
        Damage(out, at, d.kind);
        faults += std::string(kDamageNames[d.kind]) + "\t" + c.name + "\t" + std::to_string(at) + "\n";
    }
}

std::string DumpWriter::Name(const std::string& station, double seconds) const
{
    const std::string utc = IsoUtcFromTai93(o.start + seconds - kTai93From1958, 0);
    std::string stamp;
    for (char ch : utc)
        if (ch != '-' && ch != ':') stamp += ch;
    return station + "_" + stamp + ".pkt";
}

size_t DumpWriter::StartOf(long sample) const
{
    const auto at = std::lower_bound(pendingSamples.begin(), pendingSamples.end(), sample);
    return at == pendingSamples.end() ? pending.size() : pendingStarts[static_cast<size_t>(at - pendingSamples.begin())];
}

void DumpWriter::Take(const std::string& bytes, const std::vector<size_t>& starts, const std::vector<long>& samples,
                      long to)
{
    const size_t base = pending.size();
    pending += bytes;
    for (size_t i = 0; i < starts.size(); ++i) {
        pendingStarts.push_back(base + starts[i]);
        pendingSamples.push_back(samples[i]);
    }
    covered = to;
    for (; nextToWrite < contacts.size(); ++nextToWrite) {
        Contact& c = contacts[nextToWrite];
        if (c.missed) continue;
        if (c.end > covered) break;
        Write(c);
    }
    // What no dump still to be written holds is let go.
    long keep = covered;
    for (size_t k = nextToWrite; k < contacts.size(); ++k)
        if (!contacts[k].missed) keep = std::min(keep, contacts[k].first);
    const size_t drop = StartOf(keep);
    const auto n = std::lower_bound(pendingSamples.begin(), pendingSamples.end(), keep) - pendingSamples.begin();
    pending.erase(0, drop);
    pendingStarts.erase(pendingStarts.begin(), pendingStarts.begin() + n);
    pendingSamples.erase(pendingSamples.begin(), pendingSamples.begin() + n);
    for (size_t& s : pendingStarts) s -= drop;
}

void DumpWriter::Write(Contact& c)
{
    std::string out;
    const size_t to = StartOf(c.end);
    size_t nextOther = 0, applied = 0;
    unsigned sequence = static_cast<unsigned>(written * 8);
    size_t i = static_cast<size_t>(std::lower_bound(pendingSamples.begin(), pendingSamples.end(), c.first) -
                                   pendingSamples.begin());
    for (; i < pendingSamples.size() && pendingSamples[i] < c.end; ++i) {
        const long s = pendingSamples[i];
        const size_t from = pendingStarts[i];
        const size_t end = i + 1 < pendingStarts.size() ? std::min(pendingStarts[i + 1], to) : to;
        for (; nextOther < c.others.size() && c.others[nextOther] <= s; ++nextOther) {
            out += StationPacket(sequence, 30 + 6 * (sequence % 5));
            ++sequence;
        }
        const size_t at = out.size();
        out.append(pending, from, end - from);
        const bool alone = end - from == pktsize && i + 1 < pendingSamples.size() && pendingSamples[i + 1] < c.end &&
                           (nextOther == c.others.size() || c.others[nextOther] > pendingSamples[i + 1]);
        Apply(c, applied, out, at, i, alone);
        if (s >= c.cutSample && c.cutSample >= 0) {
            // The transfer breaks off inside this packet and starts again a
            // few packets before it, in the same file.
            out.resize(at + c.cutAt);
            faults += "splice\t" + c.name + "\t" + std::to_string(at) + "\n";
            i = static_cast<size_t>(std::lower_bound(pendingSamples.begin(), pendingSamples.end(), s - c.resumeBack) -
                                    pendingSamples.begin()) - 1;
            c.cutSample = -1;
        }
    }
    faults += "contact\t" + c.name + "\t" + c.station + "\t" + std::to_string(c.first) + "\t" + std::to_string(c.end) + "\n";
    std::vector<std::pair<std::string, std::string>> files{{c.name, out}};
    if (&c == &contacts[resent]) {
        const std::string copy = c.name.substr(0, c.name.size() - 4) + "_2.pkt";
        files.emplace_back(copy, out);
        faults += "resent\t" + c.name + "\t" + copy + "\n";
    }
    for (const auto& f : files) {
        outputstream file;
        OpenOutput(file, {"dump", o.dumps + "/" + f.first});
        file.write(f.second.data(), static_cast<std::streamsize>(f.second.size()));
        CommitOutputs({&file});
        ++written;
    }
    arrival.push_back(c.name);
    // The late one arrives after the dump that follows it.
    if (&c == &contacts[lateNext]) std::swap(arrival[arrival.size() - 1], arrival[arrival.size() - 2]);
}

std::string DumpWriter::Finish()
{
    for (; nextToWrite < contacts.size(); ++nextToWrite)
        if (!contacts[nextToWrite].missed) Write(contacts[nextToWrite]);
    faults += "late\t" + contacts[late].name + "\n";
    for (const Contact& c : contacts)
        if (c.missed) faults += "missed\t" + c.station + "\t" + IsoUtcFromTai93(o.start + c.time - kTai93From1958, 0) + "\n";
    arrival.push_back(contacts[resent].name.substr(0, contacts[resent].name.size() - 4) + "_2.pkt");
    std::string order;
    for (const std::string& name : arrival) order += name + "\n";
    outputstream list, log;
    OpenOutput(list, {"arrival list", o.dumps + "/arrival.txt"});
    OpenOutput(log, {"fault list", o.dumps + "/faults.txt"});
    list << order;
    log << faults;
    CommitOutputs({&list, &log});
    return std::to_string(written) + " dumps in " + o.dumps + " (" + std::to_string(written - 1) + " of " +
           std::to_string(contacts.size()) + " contacts played back, one dump resent)";
}

} // namespace trokgen
