#include "vn_proc_GetNoradElements.h"

bool GetNoradElements(noradfile& nfile, noradelements& noradtle)
{
    return nfile.read(noradtle).good();
}
