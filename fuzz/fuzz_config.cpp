// Configuration file reading: every line through configurationfile::readline
// and into the configuration keyword list, as the start-up does, stopping
// where the start-up would stop with a message.
#include "fuzz_common.h"
#include "vn_class_configurationfile.h"
#include "vn_class_configurationlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = WriteScratch("config", data, size);
    cfg_list list;
    configurationfile file(path);
    if (file.fail()) return 0;
    cstring key, value;
    for (;;) {
        file.readline(key, value);
        if (file.fail()) break;
        if (!list.setvalue(key, value)) break;
    }
    // Values must come back as the whitespace-trimmed rest of their line.
    for (const auto& entry : list) {
        const std::string& v = entry.second;
        if (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' ||
                           v.back() == '\t' || v.find('\n') != std::string::npos))
            __builtin_trap();
    }
    return 0;
}
