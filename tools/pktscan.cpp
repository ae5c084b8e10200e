// pktscan: says what a packet file holds, what is wrong with it and whether
// trokproc will accept it; with --salvage, writes a copy that trokproc
// accepts.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/exit_cleanup.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/cli/cli.h"
#include "toolkit/packets/pktscan.h"
#include "toolkit/cli/text.h"
#include "vn_class_outputfile.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_PacketRules.h"
#include "vn_version.h"

using namespace toolkit;

namespace {

const char* const kUsage =
    "usage: pktscan [--pelk] [--json] [--salvage OUT] FILE\n"
    "Reports what the packet file FILE holds (packets per APID, times, repeats,\n"
    "gaps, sequence jumps, damage with byte offsets) and whether trokproc will\n"
    "accept it, and which rule refuses it at which packet if not.\n"
    "  --pelk          the PELK layout: 214-byte packets of APID 967\n"
    "                  (default: 126-byte packets of APID 957)\n"
    "  --json          the report (or the salvage summary) as one JSON object\n"
    "  --salvage OUT   write to OUT a copy that trokproc accepts, dropping a\n"
    "                  cut-off tail, packets out of time order, packets of\n"
    "                  another length and packets cut short and continued by\n"
    "                  other bytes, and skipping bytes that are not packets\n"
    "  --help, --version\n"
    "Exit status: 0 trokproc accepts FILE (with --salvage: OUT written),\n"
    "1 trokproc refuses FILE (with --salvage: nothing could be saved),\n"
    "255 bad arguments, or a file that cannot be read or written.\n";

// Writes `text` to standard output; output that cannot be written whole is
// a failure.
void Print(const std::string& text)
{
    PrintOut(text);
    FinishOutput();
}

// Copies the whole file on fd to fdOut; false, with the reason, when reading
// or writing fails.
bool CopyWhole(int fd, int fdOut, const std::string& in, std::string& error)
{
    std::string buf(1 << 20, '\0');
    for (off_t at = 0;;) {
        const ssize_t r = pread(fd, &buf[0], buf.size(), at);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            error = in + ": " + std::strerror(errno);
            return false;
        }
        if (r == 0) return true;
        at += r;
        for (ssize_t done = 0; done < r;) {
            const ssize_t w = write(fdOut, buf.data() + done, static_cast<size_t>(r - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                error = w < 0 ? std::strerror(errno) : "nothing written";
                return false;
            }
            done += w;
        }
    }
}

int RunSalvage(const std::string& in, int fd, uint64_t size, const std::string& out, const PacketLayout& layout,
            bool json)
{
    if (SameFile(in, out)) Fail(out + ": is the input file; pktscan never writes over its input");

    // The copy is written to a new temporary beside OUT (where OUT is a link
    // of the user's, beside the file it leads to) and takes the name only
    // when trokproc would accept it, so OUT is never left half written. It
    // is read back, so it must become a regular file: folders, devices,
    // FIFOs (which would hold the open until someone reads) and standard
    // output are refused.
    struct stat st;
    if (stat(out.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) Fail(out + ": not a regular file");
    outputfile copy;
    if (!copy.Open(out)) Fail(out + ": " + copy.Error());
    if (copy.Direct()) Fail(out + ": not a regular file");
    const int fdOut = copy.Fd();

    // A file that trokproc accepts and that shows no damage is copied as it
    // is: every packet in it is kept. (Damage that trokproc passes over, such
    // as a header whose length swallows the rest of the file, still hides
    // packets that a salvage recovers.)
    Verdict verdict;
    Survey survey;
    std::string error;
    if (!JudgePacketFile(fd, size, layout, verdict, error) || !SurveyPacketFile(fd, size, layout, survey, error))
        Fail(in + ": " + error);
    const bool asIs = verdict.Accepted() && !survey.Damaged();

    Salvage result;
    bool ok = true;
    if (asIs) {
        ok = CopyWhole(fd, fdOut, in, error);
        result.check = verdict;
        for (const auto& a : survey.apids)
            if (a.first != layout.apid) result.keptOther += a.second.count;
    } else {
        ok = SalvagePacketFile(fd, size, layout, survey, fdOut, result, error);
    }
    if (!ok) Fail(out + ": " + error);
    // The copy is judged again, by the same rules, as trokproc will read it
    // (through a descriptor of its own: the temporary is open for writing).
    if (!asIs) {
        uint64_t copySize = 0;
        const int fdCopy = OpenPacketFile("/proc/self/fd/" + std::to_string(fdOut), copySize, error);
        if (fdCopy < 0 || !JudgePacketFile(fdCopy, copySize, layout, result.check, error))
            Fail(out + ": cannot read back the copy: " + error);
        close(fdCopy);
    }
    if (!result.check.Accepted()) {
        copy.Discard();
        if (json) {
            Print("{\"file\":" + JsonString(in) + ",\"salvage\":null,\"written\":false,\"reason\":" +
                  JsonString(result.check.Sentence(layout)) + "}\n");
        }
        Say(in + ": nothing trokproc accepts could be saved: " + result.check.Sentence(layout));
        return kStatusVerdict;
    }
    if (!copy.Commit()) Fail(out + ": " + copy.Error());
    if (json) {
        std::string j = "{\"file\":" + JsonString(in) + ",\"salvage\":" + JsonString(out) +
                        ",\"written\":true,\"copied_as_is\":" + (asIs ? "true" : "false") +
                        ",\"packets\":" + std::to_string(result.check.packets) +
                        ",\"other_packets\":" + std::to_string(result.keptOther) +
                        ",\"dropped_time_order\":" + std::to_string(result.timeOrder.count) +
                        ",\"dropped_bad_length\":" + std::to_string(result.badLengths.count) +
                        ",\"dropped_cut_tail\":" + (result.cutTail ? "true" : "false") +
                        ",\"dropped_splices\":" + std::to_string(result.splices.count) +
                        ",\"skipped_bytes\":" + std::to_string(result.skipped.bytes) +
                        ",\"records\":" + std::to_string(result.check.records) +
                        ",\"text\":" + JsonString(SalvageText(result)) + "}\n";
        Print(j);
    } else {
        const std::string text = SalvageText(result);
        if (!text.empty()) Print(in + " -> " + out + ":\n" + text);
    }
    return kStatusOk;
}

} // namespace

int main(int argc, char** argv)
{
    // Temporaries of unfinished outputs go at exit and on a stopping signal.
    platform::InstallExitCleanup();
    bool json = false, pelk = false, haveOut = false;
    std::string file, out;
    CommandLine cl(argc, argv, "pktscan", kUsage);
    while (cl.Next()) {
        if (cl.Operand()) {
            if (BlankName(cl.Arg())) Fail("empty file name");
            if (!file.empty()) cl.Usage("one packet file only");
            file = cl.Arg();
        } else if (cl.Is("--json")) {
            json = true;
        } else if (cl.Is("--pelk")) {
            pelk = true;
        } else if (cl.Is("--salvage")) {
            out = cl.Value("a file name");
            if (BlankName(out)) Fail("option --salvage needs a file name");
            haveOut = true;
        } else {
            cl.Unknown();
        }
    }
    if (file.empty()) cl.Usage("no packet file given");

    if (pelk) SelectPacketLayout("PELK");
    const PacketLayout layout = CurrentLayout();

    uint64_t size = 0;
    std::string error;
    const int fd = OpenPacketFile(file, size, error);
    if (fd < 0) Fail(file + ": " + error);
    if (haveOut) return RunSalvage(file, fd, size, out, layout, json);

    Verdict verdict;
    Survey survey;
    if (!JudgePacketFile(fd, size, layout, verdict, error) || !SurveyPacketFile(fd, size, layout, survey, error))
        Fail(file + ": " + error);
    close(fd);
    if (survey.haveTimes) {
        const std::string warning = LeapSecondsWarning(SystemLeapSeconds());
        if (!warning.empty()) Warn(warning);
    }
    Print(json ? ReportJson(file, layout, survey, verdict) : ReportText(file, layout, survey, verdict));
    return verdict.Accepted() ? kStatusOk : kStatusVerdict;
}
