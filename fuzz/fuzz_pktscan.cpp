// Packet file inspection: the verdict, the survey, both reports and a
// salvage of any bytes. The salvaged copy must be one that trokproc's rules
// accept (or hold fewer than two packets), and a file those rules accept
// without damage must salvage to itself.
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "fuzz_common.h"
#include "toolkit/packets/pktscan.h"
#include "vn_class_trokpacket.h"

using namespace toolkit;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const bool sibling = data[0] & 1;
    trokpacket::pktsize = sibling ? 214 : 126;
    trokpacket::apid = sibling ? 967 : 957;
    const PacketLayout layout = CurrentLayout();
    const std::string& path = WriteScratch("pktscan", data + 1, size - 1);
    const std::string copyPath = path + "-copy";

    uint64_t fileSize = 0;
    std::string error;
    const int fd = OpenPacketFile(path, fileSize, error);
    if (fd < 0) __builtin_trap();
    Verdict verdict;
    Survey survey;
    if (!JudgePacketFile(fd, fileSize, layout, verdict, error)) __builtin_trap();
    if (!SurveyPacketFile(fd, fileSize, layout, survey, error)) __builtin_trap();
    NullStream() << ReportText(path, layout, survey, verdict) << ReportJson(path, layout, survey, verdict);

    const int out = open(copyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0) __builtin_trap();
    Salvage salvage;
    if (!SalvagePacketFile(fd, fileSize, layout, survey, out, salvage, error)) __builtin_trap();
    close(out);
    close(fd);
    NullStream() << SalvageText(salvage);

    uint64_t copySize = 0;
    const int copy = OpenPacketFile(copyPath, copySize, error);
    if (copy < 0) __builtin_trap();
    Verdict check;
    if (!JudgePacketFile(copy, copySize, layout, check, error)) __builtin_trap();
    close(copy);
    if (!check.Accepted() && check.rule != Verdict::tooFew) __builtin_trap();
    if (verdict.Accepted() && !survey.Damaged() && survey.timeFaults.count == 0) {
        std::ifstream in(copyPath, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes != std::string(reinterpret_cast<const char*>(data + 1), size - 1)) __builtin_trap();
    }
    return 0;
}
