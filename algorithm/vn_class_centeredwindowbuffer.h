#ifndef VN_CLASS_CENTEREDWINDOWBUFFER_H
#define VN_CLASS_CENTEREDWINDOWBUFFER_H

#include <cstddef>

#include "vn_class_windowbuffer.h"

// A window that, once full, accepts a new element only while the cursor is
// past its centre (capacity / 2). A reader that adds while addflag() is true
// and then calls get() once sees each element with up to `centre` older and
// newer elements around it.
template <class T>
class centeredwindowbuffer : public windowbuffer<T>
{
public:
    explicit centeredwindowbuffer(unsigned n) : windowbuffer<T>(n), tgt(n / 2) {}
    virtual ~centeredwindowbuffer() {}

    // True when the window is not full, or when the cursor is past the centre
    // (including when every element has been returned).
    bool addflag() const
    {
        return !this->full() || static_cast<size_t>(static_cast<unsigned>(this->index())) > tgt;
    }

    // The window's add() when addflag() is true, otherwise null.
    T* add() { return addflag() ? windowbuffer<T>::add() : nullptr; }

private:
    size_t tgt;
};

#endif
