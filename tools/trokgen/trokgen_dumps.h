#ifndef TROKGEN_DUMPS_H
#define TROKGEN_DUMPS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "trokgen_options.h"
#include "trokgen_random.h"
#include "trokgen_schedule.h"

namespace trokgen {

// The span as a ground segment receives it: the spacecraft records on board
// and plays the recorder back at each contact, 8 to 15 a day over several
// stations. Each dump holds what was recorded since the one before, from a
// few minutes before that one ended; one contact is missed, so the next
// dump covers two intervals; one transfer breaks off inside a packet and
// starts again a few packets earlier, in the same file (a splice); one
// dump is resent under another name; one arrives after the next one; three
// packets are damaged in one copy only (a position byte, a time-tag byte, a
// length field), each where another dump holds a clean copy; every dump
// carries a few packets of a station's own APID. Dumps are named by station
// and contact time (UTC), so the last one, after the end of the span, is
// named by the day after.
//
// The dumps go to DIR/<STATION>_<YYYYMMDD>T<hhmmss>.pkt; DIR/arrival.txt
// lists their names in the order they arrive, DIR/faults.txt (one line a
// fault, fields separated by tabs) what was done where: "contact NAME
// STATION FIRST END" (the samples a dump holds), "missed STATION TIME",
// "splice NAME OFFSET" (the packet cut short), "resent NAME COPY", "late NAME", "position NAME
// OFFSET", "time-tag NAME OFFSET", "length NAME OFFSET".
class DumpWriter
{
public:
    // Plans the contacts over the span of `o` (its own random stream, so
    // that the span's packets stay as they are without dumps); the damage
    // goes to samples that `sched` sends once, between samples it sends.
    DumpWriter(const Options& o, size_t packetSize, const Schedule& sched);

    // Takes the span's next packets, those of the samples before `to`:
    // `bytes` as PacketStream appended them, with the offset and sample
    // number of each telemetry packet; writes every dump that is complete.
    void Take(const std::string& bytes, const std::vector<size_t>& starts, const std::vector<long>& samples,
              long to);

    // Writes the last dumps, the arrival order and the faults; returns what
    // was made, for trokgen's summary line.
    std::string Finish();

private:
    struct Contact {
        std::string station, name;
        double time = 0;       // seconds after the start of the span
        long first = 0, end = 0;   // samples [first, end) it holds
        bool missed = false;
        long cutSample = -1;   // the transfer breaks off inside this sample's packet
        size_t cutAt = 0;      // bytes of it that arrive
        long resumeBack = 0;   // samples before it the transfer starts again
        struct Damaged {
            long sample = 0, limit = 0;   // the first sample it may go to, and the one after the last
            int kind = 0;
        };
        std::vector<Damaged> damage;   // in the order of their samples
        std::vector<long> others;   // a station packet before these samples
    };

    void Plan(Random& rng);
    void PlanFaults(Random& rng);
    bool PickDamaged(Random& rng, size_t& contact, Contact::Damaged& d);
    void Apply(Contact& c, size_t& applied, std::string& out, size_t at, size_t unit, bool alone);
    void Write(Contact& c);
    std::string Name(const std::string& station, double seconds) const;
    size_t StartOf(long sample) const;

    const Options& o;
    size_t pktsize;
    const Schedule& sched;
    std::vector<Contact> contacts;
    size_t nextToWrite = 0;
    size_t resent = 0, late = 0, lateNext = 0;
    // The span's bytes from sample pendingFrom on, with the telemetry packets.
    std::string pending;
    std::vector<size_t> pendingStarts;
    std::vector<long> pendingSamples;
    long covered = 0;   // samples taken so far
    std::vector<std::string> arrival;
    std::string faults;
    long written = 0;
};

} // namespace trokgen

#endif
