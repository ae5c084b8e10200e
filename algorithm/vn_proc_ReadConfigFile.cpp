#include "vn_proc_ReadConfigFile.h"

#include <cstdlib>
#include <iostream>

#include "vn_class_configurationfile.h"
#include "vn_proc_FileOpenCheck.h"

void ReadConfigFile(configuration_list& cfgList, cmd_line& cmdline)
{
    configurationfile file(cmdline.getvalue("-configfile"));
    FileOpenCheck(file);
    cstring key, value;
    for (;;) {
        file.readline(key, value);
        if (!file.fail()) {
            if (!cfgList.setvalue(key, value)) {
                std::cerr << "\nBad Configuration File Keyword: " << key << std::endl;
                std::exit(-1);
            }
        } else if (file.eof()) {
            file.close();
            return;
        } else {
            std::cerr << "\nConfiguration File read error" << std::endl;
            std::exit(-1);
        }
    }
}
