#include "vn_proc_XferCmdlineValues.h"

void XferCmdlineValues(cmd_line& cmndLine, cfg_list& cfgList)
{
    static const char* const keywords[] = {"-listconfig", "-packetfile", "-noradfile",
                                           "-ephemerisfile", "-attitudefile"};
    for (const char* keyword : keywords) {
        const cstring value = cmndLine.getvalue(keyword);
        if (!value.empty()) cfgList.setvalue(keyword, value);
    }
}
