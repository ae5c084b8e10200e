#ifndef VN_CLASS_BASEFILE_H
#define VN_CLASS_BASEFILE_H

#include <string>

// File name and type word: the second base of every file class, beside the
// standard stream that does the reading or writing.
class basefile
{
public:
    basefile(std::string name, std::string type);
    virtual ~basefile();

    const std::string& GetFileName() const;
    const std::string& GetFileType() const;

private:
    std::string fileName;
    std::string fileType;
};

#endif
