#include "vn_proc_FileOpenCheck.h"

std::string FileOpenName(const std::string& fileName)
{
    if (fileName.find_first_not_of(" \t") == std::string::npos)
        return " no file name given";
    return " " + fileName;
}
