// Two-line element sets and the element file: the input's first line is the
// satellite name and the rest the file; the set found is formatted back and
// parsed again. The first two lines after the name are also parsed as a set
// directly, whatever they hold.
#include <iostream>
#include <sstream>

#include "fuzz_common.h"
#include "orbitlib_class_noradelements.h"
#include "vn_class_noradfile.h"
#include "vn_class_satpasses.h"

namespace {

void CheckFormatted(const noradelements& elements)
{
    std::string l1, l2;
    elements.Get(l1, l2);
    if (l1.size() != 80 || l2.size() != 80) __builtin_trap();
    noradelements again(l1, l2);
    elements.Print(NullStream());
    // The pass model takes any element set, found or not.
    satpasses pass(elements);
    NullStream() << pass;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The element search reports its match on standard output.
    static bool quiet = (std::cout.rdbuf(NullStream().rdbuf()), true);
    (void)quiet;

    const std::string all(reinterpret_cast<const char*>(data), size);
    const size_t nameEnd = all.find('\n');
    if (nameEnd == std::string::npos || nameEnd > 40) return 0;
    const std::string name = all.substr(0, nameEnd);
    const std::string rest = all.substr(nameEnd + 1);

    const std::string& path = WriteScratch("tle", reinterpret_cast<const uint8_t*>(rest.data()),
                                           rest.size());
    noradfile file(path, name);
    noradelements found;
    file.read(found);
    file.print(NullStream());
    CheckFormatted(found);

    std::istringstream lines(rest);
    std::string l1, l2;
    std::getline(lines, l1);
    std::getline(lines, l2);
    noradelements direct(l1, l2);
    CheckFormatted(direct);
    char check = CheckSum(l1.c_str());
    if (check < '0' || check > '9') __builtin_trap();
    return 0;
}
