#ifndef VN_CLASS_CONFIGURATIONLIST_H
#define VN_CLASS_CONFIGURATIONLIST_H

#include <map>
#include <ostream>
#include <string>

#include "vn_types.h"

// Keyword/value settings. The set of keywords is fixed by the constructor of
// the derived list; input can only change the values of defined keywords.
// Keywords compare exactly (case, leading "-"), and iteration runs in byte
// order of the keywords.
class configuration_list : private std::map<cstring, cstring>
{
public:
    typedef std::map<cstring, cstring>::const_iterator const_iterator;

    configuration_list();
    virtual ~configuration_list();

    // Adds a keyword; defining one twice is a program error (assertion).
    void define(const cstring& keyword, cstring defaultValue);
    // False, with nothing changed, when the keyword is not defined.
    bool setvalue(const cstring& keyword, const cstring& value);
    // The keyword must be defined (assertion).
    std::string getvalue(const cstring& keyword) const;

    const_iterator begin() const;
    const_iterator end() const;
};

// One line per keyword in keyword order: keyword, two tabs, value, end of line.
std::ostream& operator<<(std::ostream& os, const configuration_list& list);

// The keywords accepted on the command line, with their command-line defaults:
// -configfile "./configfile"; -listconfig, -packetfile, -noradfile,
// -ephemerisfile and -attitudefile empty.
class cmd_line : public configuration_list
{
public:
    cmd_line();
    virtual ~cmd_line();
};

// The keywords accepted in the configuration file, with their defaults; the
// one list the run reads its settings from.
class cfg_list : public configuration_list
{
public:
    cfg_list();
    virtual ~cfg_list();
};

#endif
