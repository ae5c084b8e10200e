#ifndef VN_CLASS_CONFIGURATIONFILE_H
#define VN_CLASS_CONFIGURATIONFILE_H

#include <fstream>

#include "vn_class_basefile.h"
#include "vn_types.h"

// The configuration file, opened for reading by the constructor (file type
// "configuration"); an open failure shows only as the stream's fail state.
class configurationfile : public std::ifstream, public basefile
{
public:
    explicit configurationfile(const cstring& fileName);
    virtual ~configurationfile();

    // Reads the next keyword (the next white-space-delimited word, blank lines
    // skipped) and the rest of its line as the value, without leading and
    // trailing blanks and tabs (a carriage return stays). When no keyword is
    // left, or the keyword ends the file, the stream fails at end of file.
    configurationfile& readline(cstring& keyword, cstring& value);
};

#endif
