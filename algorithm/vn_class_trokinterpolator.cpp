#include "vn_class_trokinterpolator.h"

const unsigned trokinterpolator::nvalues;

void trokinterpolator::load(const windowbuffer<exttrokpacket>& wb)
{
    for (nevilleinterpolater_2& nev : interpolators)
        nev.clearlist();
    for (int age = 0; age < wb.length(); ++age)
    {
        const exttrokpacket& pkt = *wb.peek(static_cast<unsigned>(age));
        const array& values = pkt.ItemList();
        for (unsigned k = 0; k < nvalues; ++k)
            interpolators[k].addtolist(pkt.TimeTag(), values[k]);
    }
}

array trokinterpolator::interpolate(double t)
{
    array values(nvalues);
    for (unsigned k = 0; k < nvalues; ++k)
        values[k] = interpolators[k].interpolate(t);
    return values;
}
