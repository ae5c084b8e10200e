#include "mathlib_proc_CrossProduct.h"

matrix CrossProduct(const matrix& U, const matrix& V)
{
    const double u1 = U(1, 1), u2 = U(2, 1), u3 = U(3, 1);
    const double v1 = V(1, 1), v2 = V(2, 1), v3 = V(3, 1);
    matrix W(3, 1, 0.0);
    W(1, 1) = u2 * v3 - u3 * v2;
    W(2, 1) = u3 * v1 - u1 * v3;
    W(3, 1) = u1 * v2 - u2 * v1;
    return W;
}
