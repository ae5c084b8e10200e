#include "vn_class_configurationlist.h"

#include <cassert>
#include <utility>

configuration_list::configuration_list() = default;
configuration_list::~configuration_list() = default;

void configuration_list::define(const cstring& keyword, cstring defaultValue)
{
    assert(find(keyword)==end());
    emplace(keyword, std::move(defaultValue));
}

bool configuration_list::setvalue(const cstring& keyword, const cstring& value)
{
    const auto it = find(keyword);
    if (it == std::map<cstring, cstring>::end()) return false;
    it->second = value;
    return true;
}

std::string configuration_list::getvalue(const cstring& keyword) const
{
    assert(find(keyword) != end());
    return find(keyword)->second;
}

configuration_list::const_iterator configuration_list::begin() const
{
    return std::map<cstring, cstring>::begin();
}

configuration_list::const_iterator configuration_list::end() const
{
    return std::map<cstring, cstring>::end();
}

std::ostream& operator<<(std::ostream& os, const configuration_list& list)
{
    for (const auto& entry : list) os << entry.first << "\t\t" << entry.second << std::endl;
    return os;
}

cmd_line::cmd_line()
{
    define("-configfile", "./configfile");
    define("-listconfig", "");
    define("-packetfile", "");
    define("-noradfile", "");
    define("-ephemerisfile", "");
    define("-attitudefile", "");
}

cmd_line::~cmd_line() = default;

cfg_list::cfg_list()
{
    define("-version", "1.0");
    define("-station", "MERV");
    define("-packetfile", "");
    define("-noradfile", "");
    define("-ephemerisfile", "");
    define("-attitudefile", "");
    define("-noradsatname", "VORN");
    define("-qlrsatname", "QORAL6");
    define("-listconfig", "no");
    define("-pkt_offset", "0");
    define("-pkt_count", "0");
    define("-diag_1", "no");
    define("-diag_2", "no");
    define("-diag_3", "no");
    define("-debug_1", "no");
    define("-debug_2", "no");
    define("-debug_3", "no");
}

cfg_list::~cfg_list() = default;
