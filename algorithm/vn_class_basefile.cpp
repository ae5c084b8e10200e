#include "vn_class_basefile.h"

#include <utility>

basefile::basefile(std::string name, std::string type)
    : fileName(std::move(name)), fileType(std::move(type))
{
}

basefile::~basefile() = default;

const std::string& basefile::GetFileName() const { return fileName; }
const std::string& basefile::GetFileType() const { return fileType; }
