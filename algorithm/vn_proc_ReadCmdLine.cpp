#include "vn_proc_ReadCmdLine.h"

#include <cstdlib>
#include <iostream>
#include <string>

void ReadCmdLine(configuration_list& cmdLine, int argc, char** argv)
{
    if (argc % 2 == 0) {
        std::string words;
        for (int i = 0; i < argc; ++i) {
            words += argv[i];
            words += ' ';
        }
        std::cerr << "\nBad Command Line:\n    " << words << std::endl;
        std::exit(-1);
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!cmdLine.setvalue(argv[i], argv[i + 1])) {
            std::cerr << "\nBad Command Line Keyword: " << argv[i] << std::endl;
            std::exit(-1);
        }
    }
}
