#include "vn_proc_ListConfiguration.h"

#include <ctime>
#include <iostream>

#include "timelib_class_date_time.h"

void ListConfiguration(const cmd_line& cmndLine, const cfg_list& configList)
{
    if (configList.getvalue("-listconfig") != "yes") return;
    const date_time now(static_cast<long>(std::time(nullptr)));
    std::cout << "\nTROK " << configList.getvalue("-noradsatname") << " "
              << now.ConvertDateToString("%Y4/%Mn/%Dn %hh:%mm:%ss") << std::endl;
    std::cout << "\nCommand Line Options---\n" << cmndLine;
    std::cout << "\nConfig. File Options---\n" << configList << std::endl;
}
