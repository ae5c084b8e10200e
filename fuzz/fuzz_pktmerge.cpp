// The merge of recorder dumps on any bytes: one to three inputs cut from
// the fuzzer's data, merged day by day. The merged stream must hold only
// whole packets of the telemetry in strictly increasing time, each the
// bytes of a copy in an input; the report must count them; and the same
// inputs named in the other order must give the same bytes and report.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "toolkit/packets/pktmerge.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"

using namespace toolkit;

namespace {

struct StringSink : MergeSink {
    std::string bytes;
    void Write(const char* b, size_t n) override { bytes.append(b, n); }
};

// The merged bytes and the report's JSON of the inputs named in `names`.
void Merge(const std::vector<std::string>& names, std::string& out, std::string& json)
{
    MergeReport report;
    report.layout = CurrentLayout();
    SurveyInputs(names, report);
    std::string error;
    MergeCarry carry;
    StringSink sink;
    for (MergeDay day : MergeDays(report))
        if (!MergeOneDay(day, report, carry, sink, error)) __builtin_trap();
    uint64_t used = 0;
    for (const MergeInput& in : report.inputs) used += in.used;
    const size_t size = report.layout.size;
    if (sink.bytes.size() != report.packets * size || used != report.packets) __builtin_trap();
    out = sink.bytes;
    json = MergeJson(report);
    NullStream() << MergeSummary(report);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const bool sibling = data[0] & 1;
    trokpacket::pktsize = sibling ? 214 : 126;
    trokpacket::apid = sibling ? 967 : 957;
    const size_t count = 1 + (data[0] >> 1) % 3;
    // Each input but the last is led by its length in two bytes.
    std::vector<std::string> inputs;
    size_t at = 1;
    for (size_t i = 0; i < count; ++i) {
        size_t n = size - at;
        if (i + 1 < count && at + 2 <= size) {
            n = std::min<size_t>((data[at] << 8 | data[at + 1]), size - at - 2);
            at += 2;
        }
        inputs.emplace_back(reinterpret_cast<const char*>(data + at), n);
        at += n;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < inputs.size(); ++i) {
        names.push_back(ScratchPath("pktmerge") + "-" + std::to_string(i));
        WriteScratch("pktmerge", reinterpret_cast<const uint8_t*>(inputs[i].data()), inputs[i].size());
        if (rename(ScratchPath("pktmerge").c_str(), names.back().c_str()) != 0) __builtin_trap();
    }
    if (data[0] & 0x80) names.push_back(names.front());   // a name given twice

    std::string out, json;
    Merge(names, out, json);
    const size_t pkt = trokpacket::pktsize;
    double last = 0;
    for (size_t p = 0; p < out.size(); p += pkt) {
        packet header(6);
        std::copy(out.begin() + static_cast<long>(p), out.begin() + static_cast<long>(p) + 6, header.DataPtr());
        if (HeaderStopsScan(header) || static_cast<size_t>(header.APID()) != trokpacket::apid ||
            !LengthFitsBuffer(header, pkt))
            __builtin_trap();
        const double t = PacketTimeTag(out.data() + p);
        if (p && !TimesInOrder(last, t)) __builtin_trap();
        last = t;
        bool found = false;
        for (const std::string& in : inputs) found = found || in.find(out.substr(p, pkt)) != std::string::npos;
        if (!found) __builtin_trap();
    }
    std::vector<std::string> reversed(names.rbegin(), names.rend());
    std::string out2, json2;
    Merge(reversed, out2, json2);
    if (out2 != out || json2 != json) __builtin_trap();
    for (const std::string& name : names) unlink(name.c_str());
    return 0;
}
