#ifndef VN_CLASS_WINDOWBUFFER_H
#define VN_CLASS_WINDOWBUFFER_H

#include "vn_class_stackbuffer.h"

// A ring with a read cursor: get() returns the elements in age order, one per
// call. When a full ring drops its oldest element the cursor moves back with
// it, so that it stays on the same element.
template <class T>
class windowbuffer : public stackbuffer<T>
{
public:
    explicit windowbuffer(unsigned n) : stackbuffer<T>(n), windex(0) {}
    virtual ~windowbuffer() {}

    // The slot for a new newest element, or null when the capacity is 0.
    T* add()
    {
        if (this->size() == 0)
            return nullptr;
        if (this->full() && windex > 0)
            --windex;
        return stackbuffer<T>::add();
    }

    // The element under the cursor, then the cursor advances; null when every
    // element has been returned.
    T* get()
    {
        if (windex >= this->length())
            return nullptr;
        return this->peek(static_cast<unsigned>(windex++));
    }

    // The element under the cursor without moving it, or null.
    T* next()
    {
        if (windex >= this->length())
            return nullptr;
        return this->peek(static_cast<unsigned>(windex));
    }

    // The cursor, or -1 when every element has been returned.
    int index() const { return windex < this->length() ? windex : -1; }

private:
    int windex;
};

#endif
